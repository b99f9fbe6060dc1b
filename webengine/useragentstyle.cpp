#include "webengine/useragentstyle.h"

namespace eawebkit::engine {

const char kUserAgentStyleSheet[] = R"css(
html, address, article, aside, blockquote, body, center, dd, details, dir, div, dl, dt, fieldset, figcaption,
figure, footer, form, h1, h2, h3, h4, h5, h6, header, hr, main, menu, nav, ol, p, pre, section, summary, ul {
    display: block;
}
head, style, script, title, link, meta, base, template, noscript, [hidden] { display: none; }
li { display: list-item; }

body { margin: 8px; }
p, blockquote, dl, pre, ul, ol, menu, dir, fieldset, figure { margin-top: 1em; margin-bottom: 1em; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
dd { margin-left: 40px; }
center { text-align: center; }
hr { margin: 0.5em auto; border-style: solid; border-width: 1px 0 0 0; border-color: #a0a0a0; }

h1 { font-size: 2em; margin-top: 0.67em; margin-bottom: 0.67em; }
h2 { font-size: 1.5em; margin-top: 0.83em; margin-bottom: 0.83em; }
h3 { font-size: 1.17em; margin-top: 1em; margin-bottom: 1em; }
h4 { margin-top: 1.33em; margin-bottom: 1.33em; }
h5 { font-size: 0.83em; margin-top: 1.67em; margin-bottom: 1.67em; }
h6 { font-size: 0.67em; margin-top: 2.33em; margin-bottom: 2.33em; }
h1, h2, h3, h4, h5, h6, b, strong, th { font-weight: bold; }
i, em, cite, var, address, dfn { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small, sub, sup { font-size: smaller; }
big { font-size: larger; }
sub { vertical-align: sub; }
sup { vertical-align: super; }

pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; }

ul, ol, menu, dir { padding-left: 40px; }
ul, menu, dir { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; }
ul ul ul, ol ul ul, ul ol ul, ol ol ul { list-style-type: square; }
ul ul, ul ol, ol ul, ol ol { margin-top: 0; margin-bottom: 0; }

a[href] { color: #0000ee; text-decoration: underline; cursor: pointer; }

table { display: table; border-spacing: 2px; }
caption { display: table-caption; text-align: center; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
col { display: table-column; }
colgroup { display: table-column-group; }
td, th { display: table-cell; padding: 1px; }
th { text-align: center; }
)css";

} // namespace eawebkit::engine
