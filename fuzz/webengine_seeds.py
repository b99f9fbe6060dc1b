#!/usr/bin/env python3
# Writes the web engine target's seed corpus and dictionary: the bundled pages, and small pages whose style
# sheets import themselves, each other and one another many times, nested tables, costly selectors,
# reopened formatting elements, images, NUL bytes and huge sizes. Sections are split at "\n--\n": the page,
# the status text, a.css, b.css, c.css, i.png.
import os, sys
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "content", "data", "ui")
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
S = "\n--\n"
def bundled(path, mode="r"):
    with open(os.path.join(root, path), mode) as f:
        return f.read()
seeds = {
    "menu": bundled("mainMenu.titleScreen/index.html"),
    "loading": bundled("sys.loadingScreenWindow/index.html") + S + "Writing '<b>data/x</b>' to Disk",
    "selfimport": "<link rel=stylesheet href=a.css><div class=x>t</div>" + S + "s" + S + "@import 'a.css'; .x{color:red}",
    "ring": "<style>@import url(a.css);</style><p>x" + S + S + "@import 'b.css'; p{margin:1px}" + S + "@import \"a.css\"; div p{color:#f00}",
    "fan": "<link rel=stylesheet href=a.css>" + S + S + "@import 'b.css';" * 10 + S + "@import 'c.css';" * 10 + S + "b{font-weight:700}",
    "image": "<img src=i.png><div style='background:url(i.png) repeat;height:1e10px;width:50%'>x</div>" + S * 5
             + bundled("mainMenu.titleScreen/cloud.png", "rb").decode("latin-1"),
    "tables": "<table><tr><td colspan=3>" * 5 + "x\0y" + "</td></tr></table>" * 5,
    "csstables": "<style>div{display:table-cell}</style>" + "<div>" * 6 + "x",
    "selectors": "<style>span div div div{color:red} a ~ b + c > d:not(.x){}</style>" + "<div>" * 10 + "<b>a</b> <a>x</a>",
    "formatting": "<p><b id=1><i><u>x<p>y</b>z</i>",
    "media": "<style>@media screen { body div { height: 99999999999px; font-size: 3em } }</style><div><div>t</div></div>"
             + S + "<span>status</span>",
}
for name, text in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(text.encode("latin-1"))
words = ["\\x0a--\\x0a", "@import", "url(", "<link rel=stylesheet href=a.css>", "'a.css'", "'b.css'", "'c.css'",
         "<table>", "<td colspan=", "<div>", "<style>", ":not(", " ~ ", " > ", "display:table", "<img src=i.png>",
         "height:", "em", "1e10"]
with open(os.path.join(out, "..", os.path.basename(out) + ".dict"), "w") as f:
    f.writelines(f'"{w}"\n' for w in words)
