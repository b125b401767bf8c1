"""HTML for the web wiki: escaping, links, the page frame and the pieces
that show wiki text, diffs and forms. Every text from the wiki or the
request passes through e() or url() before it reaches the page."""

from __future__ import annotations

import html
import re
from typing import Iterable, Optional
from urllib.parse import quote

STYLE = """
body { font: 15px/1.45 system-ui, sans-serif; margin: 0; color: #222; }
header { background: #2d4a6b; color: #fff; padding: .5em 1em; display: flex; gap: 1em;
         align-items: center; flex-wrap: wrap; }
header a { color: #fff; }
header form { margin-left: auto; }
main { padding: 1em 1.5em; max-width: 70em; }
h1 { font-size: 1.5em; margin: .3em 0; word-break: break-all; }
pre.page { white-space: pre-wrap; background: #fafafa; border: 1px solid #ddd; padding: .8em; }
a.missing { color: #b33; }
.tabs a, .tabs form { margin-right: .8em; display: inline; }
.notice { background: #fff3cd; border: 1px solid #e0c060; padding: .6em .9em; margin: .8em 0; }
.error { background: #fde2e2; border: 1px solid #d88; padding: .6em .9em; margin: .8em 0; }
.needs { background: #e8eef7; border: 1px solid #9ab; padding: .6em .9em; margin: .8em 0; }
textarea { width: 100%; min-height: 18em; font: 14px/1.4 monospace; box-sizing: border-box; }
table { border-collapse: collapse; }
td, th { padding: .2em .6em; border-bottom: 1px solid #eee; text-align: left; vertical-align: top; }
.diff .add { background: #e6ffec; } .diff .del { background: #ffebe9; } .diff .hunk { color: #57a; }
.columns { display: flex; gap: 1em; } .columns > div { flex: 1; min-width: 0; }
button.link { background: none; border: none; color: #06c; text-decoration: underline;
              cursor: pointer; padding: 0; font: inherit; }
code { font-size: .95em; }
td pre { margin: 0; }
"""


def e(text: object) -> str:
    """Escapes any text for HTML element content and attribute values."""
    return html.escape(str(text), quote=True)


def url(title: str) -> str:
    """A title as one URL path segment: every byte but the unreserved ones
    percent-encoded, '/' too, so the title comes back exactly."""
    return quote(title.encode("utf-8", "surrogateescape"), safe="")


def q(value: str) -> str:
    """A value in a query string."""
    return quote(value.encode("utf-8", "surrogateescape"), safe="")


def page_link(title: str, exists: bool = True, label: Optional[str] = None) -> str:
    cls = "" if exists else ' class="missing"'
    return '<a href="/view/%s"%s>%s</a>' % (url(title), cls, e(label if label is not None else title))


_LINK = re.compile(r"\[\[([^\[\]\n]+?)\]\]")


def wiki_text(text: str, existing: Iterable[str]) -> str:
    """The page's text as preformatted HTML with [[Title]] made into links
    (a link to a page that does not exist yet is marked)."""
    pages = set(existing)
    out, last = [], 0
    for m in _LINK.finditer(text):
        out.append(e(text[last:m.start()]))
        title = m.group(1).strip()
        out.append(page_link(title, title in pages) if title else e(m.group(0)))
        last = m.end()
    out.append(e(text[last:]))
    return '<pre class="page">%s</pre>' % "".join(out)


def diff(text: str) -> str:
    rows = []
    for line in text.splitlines():
        cls = ("hunk" if line.startswith("@@") else
               "add" if line.startswith("+") and not line.startswith("+++") else
               "del" if line.startswith("-") and not line.startswith("---") else "")
        rows.append('<span class="%s">%s</span>' % (cls, e(line)) if cls else e(line))
    return '<pre class="page diff">%s</pre>' % "\n".join(rows)


def hidden(name: str, value: str) -> str:
    return '<input type="hidden" name="%s" value="%s">' % (e(name), e(value))


def post_form(action: str, csrf: str, fields: str, button: str, css: str = "",
              confirm_class: str = "") -> str:
    """A POST form carrying the session's anti-forgery token."""
    return ('<form method="post" action="%s"%s>%s%s<button type="submit"%s>%s</button></form>'
            % (e(action), ' class="%s"' % css if css else "", hidden("csrf", csrf), fields,
               ' class="%s"' % confirm_class if confirm_class else "", e(button)))


def textarea(name: str, text: str) -> str:
    # A newline right after <textarea> is eaten by the HTML parser; add one
    # so that a text that starts with a newline keeps it.
    return '<textarea name="%s" id="%s">\n%s</textarea>' % (e(name), e(name), e(text))


def needs(function: str, version: str, what: str) -> str:
    return ('<div class="needs" id="needs">%s needs <code>%s</code>, which the loaded '
            'quenlow-wikidb library (%s) does not provide yet.</div>'
            % (e(what), e(function), e(version)))


def frame(title: str, body: str, search: str = "") -> str:
    return """<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%s</title><link rel="stylesheet" href="/style.css"></head>
<body><header><strong><a href="/">wikidb</a></strong>
<a href="/pages">All pages</a> <a href="/recent">Recent changes</a>
<a href="/deleted">Deleted pages</a> <a href="/new">New page</a> <a href="/about">About</a>
<form method="get" action="/search"><input name="q" value="%s" placeholder="Search"
 aria-label="Search"> <button type="submit">Search</button></form></header>
<main>%s</main></body></html>
""" % (e(title), e(search), body)
