"""The web wiki's pages: one method per page, each a few calls to the
wikidb package. The HTTP plumbing is in server.py."""

from __future__ import annotations

import hmac
import secrets
import threading
import traceback
from typing import Dict, List, Optional, Tuple
from urllib.parse import parse_qs, unquote_to_bytes

import wikidb

from . import render as r
from .render import e, q, url

PAGE_SIZE = 20
MAX_PAGE_SIZE = 200
MAX_SESSIONS = 10000  # the oldest are forgotten first; their forms then need a reload


class Request:
    def __init__(self, method: str, target: str, body: bytes = b"",
                 cookies: Optional[Dict[str, str]] = None) -> None:
        path, _, query = target.partition("?")
        route, _, rest = path.lstrip("/").partition("/")
        self.method = method
        self.route = route
        # The title is the rest of the path, percent-decoded byte for byte
        # (bytes that are not UTF-8 survive as surrogate escapes).
        self.title = unquote_to_bytes(rest).decode("utf-8", "surrogateescape")
        self.query = _fields(query)
        self.form = _fields(body.decode("ascii", "replace")) if method == "POST" else {}
        self.cookies = cookies or {}
        self.session: Dict[str, str] = {}


def _fields(text: str) -> Dict[str, str]:
    parsed = parse_qs(text, keep_blank_values=True, encoding="utf-8", errors="surrogateescape")
    return {k: v[0] for k, v in parsed.items()}


class Response:
    def __init__(self, status: int, body: str = "", headers: Optional[List[Tuple[str, str]]] = None,
                 content_type: str = "text/html; charset=utf-8") -> None:
        self.status = status
        self.body = body.encode("utf-8", "replace")
        self.headers = [("Content-Type", content_type)] + (headers or [])


def redirect(location: str) -> Response:
    return Response(303, "", [("Location", location)])


class Refused(Exception):
    """A request this wiki will not carry out (status and message)."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


class WikiApp:
    """The pages of the wiki over one open wikidb.Wiki."""

    def __init__(self, wiki: wikidb.Wiki, page_size: int = PAGE_SIZE) -> None:
        self.wiki = wiki
        self.page_size = page_size
        self._sessions: Dict[str, Dict[str, str]] = {}
        self._sessions_lock = threading.Lock()

    # -- sessions and the anti-forgery token -----------------------------------

    def session_for(self, req: Request) -> Tuple[Dict[str, str], Optional[str]]:
        """The request's session, and a new session id to set when it had none."""
        sid = req.cookies.get("sid", "")
        with self._sessions_lock:
            if sid in self._sessions:
                return self._sessions[sid], None
            sid = secrets.token_urlsafe(24)
            session = {"csrf": secrets.token_urlsafe(32), "author": ""}
            if len(self._sessions) >= MAX_SESSIONS:
                del self._sessions[next(iter(self._sessions))]
            self._sessions[sid] = session
            return session, sid

    def handle(self, req: Request) -> Response:
        req.session, new_sid = self.session_for(req)
        try:
            resp = self.dispatch(req)
        except Refused as x:
            resp = self.page(x.status, "Refused", '<div class="error" id="error">%s</div>' % e(x))
        except wikidb.Unsupported as x:
            resp = self.page(501, "Not available", r.needs(x.function, self.wiki.library.version,
                                                           "This page"))
        except wikidb.InvalidTitle as x:
            resp = self.page(400, "Invalid title", '<div class="error" id="error">%s</div>' % e(x))
        except wikidb.NotFound as x:
            resp = self.page(404, "Not found", '<div class="error" id="error">%s</div>' % e(x))
        except wikidb.WikiError as x:
            resp = self.page(500, "Error", '<div class="error" id="error">%s</div>' % e(x))
        except ValueError as x:  # a NUL byte in a title or text, which no page can hold
            resp = self.page(400, "Invalid request", '<div class="error" id="error">%s</div>' % e(x))
        except Exception:
            traceback.print_exc()
            resp = self.page(500, "Error", '<div class="error" id="error">Internal error.</div>')
        if new_sid:
            resp.headers.append(("Set-Cookie", "sid=%s; Path=/; HttpOnly; SameSite=Lax" % new_sid))
        return resp

    def dispatch(self, req: Request) -> Response:
        if req.method == "POST":
            token = req.form.get("csrf", "")
            # Every change needs the token of the session that got the form:
            # another site can make a browser post, but cannot read the token.
            if not token or not hmac.compare_digest(token.encode("utf-8", "surrogateescape"),
                                                    req.session["csrf"].encode()):
                raise Refused(403, "This form has no valid anti-forgery token; reload the page "
                                   "and try again.")
            handler = getattr(self, "post_" + req.route, None)
        else:
            handler = getattr(self, "get_" + (req.route or "home").replace(".", "_"), None)
        if handler is None or (req.route in TITLED and not req.title):
            raise Refused(404, "There is no such page.")
        return handler(req)

    def page(self, status: int, title: str, body: str, search: str = "") -> Response:
        return Response(status, r.frame(title, body, search))

    def author(self, req: Request) -> Optional[str]:
        return req.session.get("author") or None

    def form(self, req: Request, action: str, fields: str, button: str, **kw: str) -> str:
        return r.post_form(action, req.session["csrf"], fields, button, **kw)

    def size(self, req: Request) -> int:
        try:
            return max(1, min(MAX_PAGE_SIZE, int(req.query.get("n", self.page_size))))
        except ValueError:
            return self.page_size

    def tabs(self, req: Request, title: str) -> str:
        t = url(title)
        return ('<nav class="tabs"><a href="/view/%s">View</a><a href="/edit/%s" id="edit">Edit</a>'
                '<a href="/history/%s" id="history">History</a><a href="/blame/%s">Blame</a>'
                '<a href="/rename/%s">Rename</a><a href="/delete/%s">Delete</a></nav>'
                % (t, t, t, t, t, t))

    # -- reading ------------------------------------------------------------------

    def get_style_css(self, req: Request) -> Response:
        return Response(200, r.STYLE, content_type="text/css; charset=utf-8")

    def get_home(self, req: Request) -> Response:
        return redirect("/view/Home")

    def get_view(self, req: Request) -> Response:
        title, rev = req.title, req.query.get("rev", "")
        existing = self.wiki.list_pages()
        if rev:
            text = self.wiki.get_revision(title, rev)
            body = ('<h1>%s</h1><div class="notice">Revision <code>%s</code>. <a href="/view/%s">'
                    'The current text</a>.</div>%s%s%s'
                    % (e(title), e(rev), url(title), self.tabs(req, title),
                       r.wiki_text(text, existing),
                       self.form(req, "/restore/" + url(title), r.hidden("rev", rev),
                                 "Restore this revision")))
            return self.page(200, title, body)
        try:
            text = self.wiki.get_page(title)
        except wikidb.NotFound:
            return self.missing(req, title)
        body = '<h1 id="title">%s</h1>%s%s' % (e(title), self.tabs(req, title),
                                               r.wiki_text(text, existing))
        return self.page(200, title, body)

    def missing(self, req: Request, title: str) -> Response:
        body = ('<h1>%s</h1><p>There is no page with this title. <a href="/edit/%s" id="create">'
                'Create it</a>.</p>' % (e(title), url(title)))
        if self.wiki.supports("wikidb_deleted_pages_json"):
            for item in self.wiki.deleted_pages():
                if item.get("page") == title and item.get("restore_from"):
                    body += ('<div class="notice">This page was deleted in <code>%s</code>. %s'
                             '</div>' % (e(item.get("deleted_in", "")),
                                         self.form(req, "/restore/" + url(title),
                                                   r.hidden("rev", item["restore_from"]),
                                                   "Restore the deleted page")))
        return self.page(404, title, body)

    def get_history(self, req: Request) -> Response:
        title, cursor = req.title, req.query.get("cursor") or None
        n = self.size(req)
        result = self.wiki.history_page(title, cursor, n)
        t = url(title)
        rows = []
        for i, entry in enumerate(result.get("entries", [])):
            h = str(entry.get("hash", ""))
            rows.append(
                '<tr><td><input type="radio" name="from" value="%s"%s></td>'
                '<td><input type="radio" name="to" value="%s"%s></td>'
                '<td><a href="/view/%s?rev=%s" class="rev"><code>%s</code></a></td><td>%s</td>'
                '<td>%s</td><td class="summary">%s</td><td>%s</td>'
                '<td><a href="/blame/%s?rev=%s">blame</a></td></tr>'
                % (e(h), " checked" if i == 1 else "", e(h), " checked" if i == 0 else "",
                   t, q(h), e(h[:10]), e(entry.get("date", "")), e(entry.get("author", "")),
                   e(entry.get("summary", "")), e(entry.get("size", "")), t, q(h)))
        nav = ['<a href="/history/%s?n=%d" id="first">First page</a>' % (t, n)]
        if result.get("next"):
            nav.append('<a href="/history/%s?n=%d&amp;cursor=%s" id="older">Older</a>'
                       % (t, n, q(str(result["next"]))))
        body = ('<h1>History of %s</h1>%s<form method="get" action="/diff/%s"><table id="history">'
                '<tr><th>from</th><th>to</th><th>commit</th><th>date</th><th>author</th>'
                '<th>summary</th><th>size</th><th></th></tr>%s</table>'
                '<p><button type="submit" id="compare">Compare the chosen revisions</button></p>'
                '</form><p class="tabs">%s</p>'
                % (e(title), self.tabs(req, title), t, "".join(rows), " ".join(nav)))
        return self.page(200, "History of " + title, body)

    def get_diff(self, req: Request) -> Response:
        title = req.title
        old, new = req.query.get("from", ""), req.query.get("to", "")
        if not old or not new:
            raise Refused(400, "Choose two revisions to compare.")
        text = self.wiki.get_diff(title, old, new)
        t = url(title)
        body = ('<h1>%s</h1>%s<p>Changes from <a href="/view/%s?rev=%s"><code>%s</code></a> to '
                '<a href="/view/%s?rev=%s"><code>%s</code></a></p>%s'
                % (e(title), self.tabs(req, title), t, q(old), e(old[:10]), t, q(new), e(new[:10]),
                   r.diff(text) if text else "<p>No difference.</p>"))
        return self.page(200, "Diff of " + title, body)

    def get_blame(self, req: Request) -> Response:
        title, rev = req.title, req.query.get("rev") or None
        rows = []
        for i, line in enumerate(self.wiki.blame(title, rev), 1):
            h = str(line.get("hash", ""))
            rows.append('<tr><td>%s</td><td><a href="/view/%s?rev=%s"><code>%s</code></a></td>'
                        '<td>%s</td><td>%s</td><td><pre>%s</pre></td></tr>'
                        % (e(line.get("line", i)), url(title), q(h), e(h[:10]),
                           e(line.get("author", "")), e(line.get("date", "")),
                           e(str(line.get("text", "")).rstrip("\n"))))
        body = '<h1>Blame of %s</h1>%s<table id="blame">%s</table>' % (
            e(title), self.tabs(req, title), "".join(rows))
        return self.page(200, "Blame of " + title, body)

    def get_recent(self, req: Request) -> Response:
        cursor, n = req.query.get("cursor") or None, self.size(req)
        result = self.wiki.recent_page(cursor, n)
        rows = []
        for entry in result.get("entries", []):
            changes = []
            for item in _changes(entry):
                changes.append("%s%s" % (r.page_link(item[0]), " (%s)" % e(item[1]) if item[1] else ""))
            rows.append('<tr><td><code>%s</code></td><td>%s</td><td>%s</td><td>%s</td><td>%s</td></tr>'
                        % (e(str(entry.get("hash", ""))[:10]), e(entry.get("date", "")),
                           e(entry.get("author", "")), e(entry.get("summary", "")),
                           ", ".join(changes)))
        nav = '<a href="/recent?n=%d">Newest</a>' % n
        if result.get("next"):
            nav += ' <a href="/recent?n=%d&amp;cursor=%s" id="older">Older</a>' % (
                n, q(str(result["next"])))
        body = '<h1>Recent changes</h1><table id="recent">%s</table><p>%s</p>' % ("".join(rows), nav)
        return self.page(200, "Recent changes", body)

    def get_search(self, req: Request) -> Response:
        query = req.query.get("q", "").strip()
        if not query:
            return self.page(200, "Search", "<h1>Search</h1><p>Type words to find.</p>")
        result = self.wiki.search(query, limit=100, titles=True)
        items = []
        for hit in result.get("hits", []):
            where = "title" if hit.get("line") == 0 else "line %s" % hit.get("line", "")
            items.append('<li>%s, %s: <code>%s</code></li>'
                         % (r.page_link(str(hit.get("page", ""))), e(where), e(hit.get("text", ""))))
        more = '<p>More results were cut off.</p>' if result.get("truncated") else ""
        body = '<h1>Search: %s</h1><ul id="hits">%s</ul>%s%s' % (
            e(query), "".join(items), "" if items else '<p id="nohits">Nothing found.</p>', more)
        return self.page(200, "Search", body, search=query)

    def get_pages(self, req: Request) -> Response:
        items = "".join("<li>%s</li>" % r.page_link(p) for p in sorted(self.wiki.list_pages()))
        return self.page(200, "All pages", '<h1>All pages</h1><ul id="pages">%s</ul>' % items)

    def get_deleted(self, req: Request) -> Response:
        rows = []
        for item in self.wiki.deleted_pages():
            title = str(item.get("page", ""))
            rows.append('<tr><td>%s</td><td><code>%s</code></td><td>%s</td></tr>'
                        % (r.page_link(title, False), e(str(item.get("deleted_in", ""))[:10]),
                           self.form(req, "/restore/" + url(title),
                                     r.hidden("rev", str(item.get("restore_from", ""))),
                                     "Restore")))
        return self.page(200, "Deleted pages",
                         '<h1>Deleted pages</h1><table id="deleted">%s</table>' % "".join(rows))

    def get_about(self, req: Request) -> Response:
        lib = self.wiki.library
        items = "".join('<li><code class="%s">%s</code>%s</li>'
                        % ("fn" if lib.has(name) else "fn missing", e(name),
                           "" if lib.has(name) else " (not in this library)")
                        for name in sorted(wikidb._native.NEWER))
        body = ('<h1>About this wiki</h1><p>quenlow-wikidb library <code id="version">%s</code>, '
                'Python package %s.</p><h2>Functions newer than 1.0</h2><ul id="functions">%s</ul>'
                % (e(lib.version), e(wikidb.__version__), items))
        return self.page(200, "About", body)

    def get_new(self, req: Request) -> Response:
        body = ('<h1>New page</h1><form method="get" action="/edit"><label>Title '
                '<input name="title" id="newtitle" required></label> '
                '<button type="submit">Create</button></form>')
        return self.page(200, "New page", body)

    # -- editing --------------------------------------------------------------------

    def get_edit(self, req: Request) -> Response:
        if not req.title:  # the new-page form
            title = req.query.get("title", "").strip()
            if not title:
                raise Refused(400, "A page needs a title.")
            return redirect("/edit/" + url(title))
        title = req.title
        # The revision first, then the text of exactly that revision: the
        # pair is what the save's condition compares against.
        rev = self.wiki.page_revision(title)
        text = self.wiki.get_revision(title, rev) if rev else ""
        return self.editor(req, title, text, rev, "")

    def editor(self, req: Request, title: str, text: str, rev: str, notice: str,
               summary: str = "", status: int = 200) -> Response:
        fields = (r.hidden("base", rev) + r.textarea("text", text)
                  + '<p><label>Summary <input name="summary" id="summary" size="50" value="%s">'
                    '</label> <label>Your name <input name="author" id="author" value="%s">'
                    '</label></p>' % (e(summary), e(req.session.get("author", ""))))
        body = ('<h1>Editing %s</h1>%s%s' % (e(title), notice,
                self.form(req, "/save/" + url(title), fields, "Save", css="editor")))
        return self.page(status, "Editing " + title, body)

    def post_save(self, req: Request) -> Response:
        title = req.title
        # Browsers send a textarea's line ends as CRLF; the wiki keeps LF.
        text = req.form.get("text", "").replace("\r\n", "\n")
        base = req.form.get("base", "")
        summary = req.form.get("summary", "").strip()
        if req.form.get("author", "").strip():
            req.session["author"] = req.form["author"].strip()
        try:
            self.wiki.save_page_if(title, text, base, author=self.author(req),
                                   message=summary or None)
        except wikidb.Conflict as c:
            return self.merge_screen(req, title, text, summary, c)
        return redirect("/view/" + url(title))

    def merge_screen(self, req: Request, title: str, mine: str, summary: str,
                     c: wikidb.Conflict) -> Response:
        """Someone saved first: back to the editor with the three-way merge,
        the other text and this user's own, and the new revision as base."""
        entry = c.conflict_for(title) or (c.conflicts[0] if c.conflicts else {})
        current = str(entry.get("current") or "")
        theirs = entry.get("theirs")
        if theirs is None:
            theirs = self.wiki.get_revision(title, current) if current else ""
        merged = entry.get("merged_text")
        clean = bool(entry.get("clean")) and merged is not None
        if merged is None:
            merged = mine
        how = ("Their changes and yours did not overlap and have been merged below."
               if clean else
               "Both of you changed the same lines: the text below holds both versions between "
               "conflict markers (<<<<<<<, =======, >>>>>>>); choose what to keep.")
        notice = ('<div class="notice" id="conflict"><strong>Someone else saved this page while you '
                  'were editing it</strong> (now at revision <code>%s</code>). Nothing was '
                  'overwritten. %s Check the text, then save again.</div>'
                  '<div class="columns"><div><h2>Your text</h2><pre class="page" id="mine">%s</pre>'
                  '</div><div><h2>Their text</h2><pre class="page" id="theirs">%s</pre></div></div>'
                  % (e(current[:10] or "deleted"), e(how), e(mine), e(theirs)))
        return self.editor(req, title, merged, current, notice, summary, status=409)

    def get_rename(self, req: Request, error: str = "", status: int = 200) -> Response:
        title = req.title
        fields = ('<label>New title <input name="to" id="to" value="%s" required></label> '
                  % e(req.form.get("to", title)))
        body = '<h1>Rename %s</h1>%s%s' % (
            e(title), '<div class="error" id="error">%s</div>' % e(error) if error else "",
            self.form(req, "/rename/" + url(title), fields, "Rename"))
        return self.page(status, "Rename " + title, body)

    def post_rename(self, req: Request) -> Response:
        new = req.form.get("to", "").strip()
        if not new:
            return self.get_rename(req, "A page needs a title.", 400)
        try:
            self.wiki.rename_page(req.title, new, author=self.author(req))
        except wikidb.Unsupported:
            raise
        except wikidb.WikiError as x:  # the target exists, the source does not, a bad title
            return self.get_rename(req, str(x), 400 if isinstance(x, wikidb.InvalidTitle) else 409)
        return redirect("/view/" + url(new))

    def get_delete(self, req: Request) -> Response:
        title = req.title
        body = '<h1>Delete %s</h1><p>The page and its history stay in the repository; it can be ' \
               'restored later.</p>%s' % (e(title), self.form(req, "/delete/" + url(title), "",
                                                              "Delete the page"))
        return self.page(200, "Delete " + title, body)

    def post_delete(self, req: Request) -> Response:
        self.wiki.delete_page(req.title, author=self.author(req))
        return redirect("/view/" + url(req.title))

    def post_restore(self, req: Request) -> Response:
        rev = req.form.get("rev", "")
        if not rev:
            raise Refused(400, "No revision to restore.")
        self.wiki.rollback(req.title, rev, author=self.author(req))
        return redirect("/view/" + url(req.title))


# Routes whose path must name a page.
TITLED = {"view", "history", "diff", "blame", "rename", "delete", "save", "restore"}


def _changes(entry: dict) -> List[Tuple[str, str]]:
    """The pages a whole-wiki entry changed, with the kind of change."""
    items = entry.get("pages") or entry.get("changes") or []
    out = []
    for item in items if isinstance(items, list) else []:
        if isinstance(item, dict):
            page = item.get("page") or item.get("title") or item.get("path") or ""
            kind = item.get("change") or item.get("kind") or item.get("status") or ""
            old = item.get("old") or item.get("from") or item.get("old_page")
            if old:
                kind = "%s from %s" % (kind or "renamed", old)
            out.append((str(page), str(kind)))
        else:
            out.append((str(item), ""))
    if not out and entry.get("page"):
        out.append((str(entry["page"]), ""))
    return out
