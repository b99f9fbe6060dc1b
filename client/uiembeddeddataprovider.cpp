#include "client/uiembeddeddataprovider.h"

#include <cstddef>
#include <cstring>

#include "client/clientlogger.h"

namespace tavrix::uiEmbeddedDataProvider {
namespace {

// A page of exactly N bytes: its markup, then one comment that fills the rest, broken into lines.
template <size_t N>
struct page {
    char text[N + 1];
};

template <size_t N, size_t M>
constexpr page<N> padded(const char (&markup)[M])
{
    constexpr const char OPEN[] = "<!--";
    constexpr const char CLOSE[] = "-->\n";
    static_assert(M - 1 + sizeof(OPEN) - 1 + sizeof(CLOSE) - 1 <= N, "the markup leaves no room for the comment");
    page<N> out{};
    size_t at = 0;
    for (size_t i = 0; i + 1 < M; ++i)
        out.text[at++] = markup[i];
    for (size_t i = 0; i + 1 < sizeof(OPEN); ++i)
        out.text[at++] = OPEN[i];
    const size_t closeAt = N - (sizeof(CLOSE) - 1);
    for (size_t column = 0; at < closeAt; ++column)
        out.text[at++] = column % 100 == 99 ? '\n' : ' ';
    for (size_t i = 0; i + 1 < sizeof(CLOSE); ++i)
        out.text[at++] = CLOSE[i];
    out.text[N] = '\0';
    return out;
}

// The screens' statements fill #progress (its width in percent) and #status (its inner HTML).
constexpr auto LOADING = padded<782>(R"page(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Loading</title>
<style>
html, body { margin: 0; height: 100%; background: #aaa; }
body { padding: 10px; -webkit-user-select: none; user-select: none; }
#box { position: absolute; left: 50%; top: 50%; width: 440px; height: 150px; margin: -75px 0 0 -220px; }
h1 { margin: 0 0 8px; text-align: center; font: 18pt Arial; }
#bar { width: 400px; height: 15px; padding: 2px; margin: 4px auto; background: #eee; border: 1px double #000; }
#progress { float: left; height: 15px; width: 0%; max-width: 100%; background: #3355CC; }
</style>
</head>
<body>
<div id="box">
<h1>L O A D I N G</h1>
<div id="bar"><div id="progress"></div></div>
<pre id="status"></pre>
</div>
</body>
</html>
)page");

constexpr auto DOWNLOAD = padded<784>(R"page(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Download</title>
<style>
html, body { margin: 0; height: 100%; background: #aaa; }
body { padding: 10px; }
#box { position: absolute; left: 50%; top: 50%; width: 440px; height: 150px; margin: -75px 0 0 -220px; }
h1 { margin: 0 0 8px; text-align: center; font-size: 120%; font-family: Arial; }
#bar { width: 400px; height: 15px; padding: 2px; margin: 0px auto; background: #eee; border: 1px double #000; }
#progress { float: left; height: 15px; width: 0%; max-width: 100%; background: #3355CC; }
</style>
</head>
<body>
<div id="box">
<h1>Download in Progress</h1>
<div id="bar"><div id="progress"></div></div>
<pre id="status"></pre>
</div>
</body>
</html>
)page");

// Shown while a window has no page yet: a tiled background and two squares chasing each other round a
// square path (an engine without animations shows them at rest).
constexpr auto UNINITIALIZED = padded<18130>(R"page(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Tavrix</title>
<style>
html, body { margin: 0; height: 100%; }
body { background: #2b2f36 url("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAIAAACQkWg2AAAAKUlEQVR42mOwsncnCTEAsba+GSYyMLHGikY1EKsBqwRWU4BoVANNNAAAbJ+cYd9uPM8AAAAASUVORK5CYII=") repeat; }
.spinner { position: relative; width: 32px; height: 32px; margin: 50px auto; }
.cube1, .cube2 { position: absolute; top: 0; left: 0; width: 24px; height: 24px; background: url("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABgAAAAYCAIAAABvFaqvAAAAZklEQVR42mNQkRKgCmIA4qgVVjVnQuCIDC7UIPI0I3MRBlFoFopBlJiFbhDZZlE7sLuiTNBQnpsGSYIIg0jViYbQXUS2cdi9RoZxUIMo9BdQEMVFlBiHxWvkGTca/aPRPxijnyoIAKPYW7/1Z0j4AAAAAElFTkSuQmCC") no-repeat;
  -webkit-animation: cubemove 1.8s infinite ease-in-out; animation: cubemove 1.8s infinite ease-in-out; }
.cube2 { -webkit-animation-delay: -0.9s; animation-delay: -0.9s; }
@-webkit-keyframes cubemove {
  25% { -webkit-transform: translateX(42px) rotate(-90deg) scale(0.5); }
  50% { -webkit-transform: translateX(42px) translateY(42px) rotate(-180deg); }
  75% { -webkit-transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); }
  100% { -webkit-transform: rotate(-360deg); }
}
@keyframes cubemove {
  25% { transform: translateX(42px) rotate(-90deg) scale(0.5); -webkit-transform: translateX(42px) rotate(-90deg) scale(0.5); }
  50% { transform: translateX(42px) translateY(42px) rotate(-179deg); -webkit-transform: translateX(42px) translateY(42px) rotate(-179deg); }
  50.1% { transform: translateX(42px) translateY(42px) rotate(-180deg); -webkit-transform: translateX(42px) translateY(42px) rotate(-180deg); }
  75% { transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); -webkit-transform: translateX(0px) translateY(42px) rotate(-270deg) scale(0.5); }
  100% { transform: rotate(-360deg); -webkit-transform: rotate(-360deg); }
}
</style>
</head>
<body>
<div class="spinner"><div class="cube1"></div><div class="cube2"></div></div>
</body>
</html>
)page");

constexpr const char UNKNOWN[] = "Unknown Ressource (ERROR)";

struct namedPage {
    const char* name;
    const char* text;
    uint32_t size;
};

constexpr namedPage PAGES[] = {
    {"download.html", DOWNLOAD.text, sizeof(DOWNLOAD.text) - 1},
    {"uninitialized.html", UNINITIALIZED.text, sizeof(UNINITIALIZED.text) - 1},
    {"loading.html", LOADING.text, sizeof(LOADING.text) - 1},
};

} // namespace

const char* getRessource(const char* name, uint32_t* size)
{
    for (const namedPage& known : PAGES) {
        if (std::strcmp(name, known.name) == 0) {
            *size = known.size;
            return known.text;
        }
    }
    CLIENT_LOG(util::LOG_ERROR, "uiEmbeddedDataProvider -> '%s' is unknown!\n", name);
    *size = uint32_t(sizeof(UNKNOWN) - 1);
    return UNKNOWN;
}

} // namespace tavrix::uiEmbeddedDataProvider
