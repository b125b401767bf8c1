"""The web wiki's pages without a browser: requests straight into WikiApp.

Against the real library for what it has, and against a small in-memory
stand-in for the functions a library may not have yet, so that the
editing, merge, paging and rename screens are checked either way.
"""

import html
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from urllib.parse import urlencode

import wikidb
from wikiweb.app import Request, WikiApp
from wikiweb.render import url


class Client:
    """One browser: keeps its session cookie and reads the forms' token."""

    def __init__(self, app):
        self.app, self.cookies, self.token = app, {}, None

    def request(self, method, target, fields=None):
        body = urlencode(fields or {}, encoding="utf-8", errors="surrogateescape").encode()
        resp = self.app.handle(Request(method, target, body, dict(self.cookies)))
        for name, value in resp.headers:
            if name == "Set-Cookie":
                key, _, rest = value.partition("=")
                self.cookies[key] = rest.split(";")[0]
        text = resp.body.decode("utf-8")
        m = re.search(r'name="csrf" value="([^"]+)"', text)
        if m:
            self.token = m.group(1)
        return resp.status, text, dict(resp.headers)

    def get(self, target):
        return self.request("GET", target)

    def post(self, target, fields, token=True):
        if token:
            fields = dict(fields, csrf=self.token)
        return self.request("POST", target, fields)


def textarea(html):
    m = re.search(r'<textarea name="text" id="text">\n(.*?)</textarea>', html, re.S)
    return unescape(m.group(1))


def hidden(html, name):
    return unescape(re.search(r'name="%s" value="([^"]*)"' % name, html).group(1))


def unescape(text):
    return html.unescape(text)


class RealLibrary(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikiweb-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.wiki = wikidb.Wiki(os.path.join(self.tmp, "w"))
        self.addCleanup(self.wiki.close)
        self.app = WikiApp(self.wiki)

    def test_titles_decode_exactly(self):
        for title in ("a/b?c#d%e f ü", "100%", "%2F", " lead", "\udcff raw byte", "+plus+"):
            encoded = url(title)
            self.assertNotIn("/", encoded)
            self.assertEqual(Request("GET", "/view/" + encoded).title, title)
        self.assertEqual(Request("GET", "/view/x%3Fy?rev=1").query, {"rev": "1"})

    def test_nul_bytes_are_refused_without_harm(self):
        self.wiki.save_page("P", "kept\n")
        c = Client(self.app)
        status, text, _ = c.get("/view/P%00x")
        self.assertEqual(status, 400)
        self.assertIn("NUL", text)
        c.get("/delete/P")
        status, _, _ = c.post("/restore/P", {"rev": "HEAD\0"})
        self.assertEqual(status, 400)
        self.assertEqual(self.wiki.get_page("P"), "kept\n")

    def test_every_change_needs_the_session_token(self):
        self.wiki.save_page("Keep", "kept\n")
        ann, eve = Client(self.app), Client(self.app)
        ann.get("/delete/Keep")
        eve.get("/delete/Keep")
        self.assertNotEqual(ann.token, eve.token)
        for fields in ({}, {"csrf": ""}, {"csrf": "guess"}, {"csrf": eve.token}):
            status, text, _ = ann.post("/delete/Keep", fields, token=False)
            self.assertEqual(status, 403, fields)
            self.assertIn("anti-forgery token", text)
        # A token without its session cookie is no better.
        stranger = Client(self.app)
        status, _, _ = stranger.post("/delete/Keep", {"csrf": ann.token}, token=False)
        self.assertEqual(status, 403)
        self.assertEqual(self.wiki.get_page("Keep"), "kept\n")
        status, _, headers = ann.post("/delete/Keep", {})
        self.assertEqual((status, headers["Location"]), (303, "/view/Keep"))
        self.assertNotIn("Keep", self.wiki.list_pages())

    def test_output_is_escaped(self):
        title = '<i>"x"&</i>'
        self.wiki.save_page(title, "<script>alert(1)</script> [[<b>t</b>]]\n")
        status, text, _ = Client(self.app).get("/view/" + url(title))
        self.assertEqual(status, 200)
        self.assertNotIn("<script>", text)
        self.assertNotIn("<i>", text)
        self.assertNotIn("<b>", text)
        self.assertIn("&lt;script&gt;alert(1)&lt;/script&gt;", text)
        self.assertIn('href="/view/%3Cb%3Et%3C%2Fb%3E"', text)

    def test_restore_a_revision(self):
        self.wiki.save_page("P", "one\n")
        self.wiki.save_page("P", "two\n")
        first = self.wiki.get_history("P")[-1]["hash"]
        c = Client(self.app)
        status, text, _ = c.get("/view/P?rev=" + first)
        self.assertIn("one", text)
        status, _, headers = c.post("/restore/P", {"rev": first})
        self.assertEqual(status, 303)
        self.assertEqual(self.wiki.get_page("P"), "one\n")

    def test_missing_functions_are_named(self):
        if self.wiki.supports("wikidb_page_revision"):
            self.skipTest("the library has wikidb_page_revision")
        status, text, _ = Client(self.app).get("/edit/Home")
        self.assertEqual(status, 501)
        self.assertIn("<code>wikidb_page_revision</code>", text)
        self.assertIn(self.wiki.library.version, text)


class StandIn:
    """The newer functions over a dict, with git merge-file for the merge;
    only what the web wiki calls."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.pages = {}     # title -> list of (revision, text); text None: deleted
        self.log = []       # (revision, title, summary)
        self.library = type("L", (), {"version": "stand-in", "has": lambda s, n: True})()

    def supports(self, name):
        return True

    def _commit(self, title, text, summary):
        rev = "%040x" % (len(self.log) + 1)
        self.pages.setdefault(title, []).append((rev, text))
        self.log.append((rev, title, summary))
        return rev

    def page_revision(self, title):
        revs = self.pages.get(title)
        return revs[-1][0] if revs and revs[-1][1] is not None else ""

    def get_page(self, title):
        if not self.page_revision(title):
            raise wikidb.NotFound("Page not found: " + title)
        return self.pages[title][-1][1]

    def get_revision(self, title, rev):
        for r, text in self.pages.get(title, []):
            if r == rev and text is not None:
                return text
        raise wikidb.NotFound("no such revision")

    def list_pages(self):
        return [t for t in self.pages if self.page_revision(t)]

    def _merge(self, base, ours, theirs):
        paths = []
        for name, text in (("ours", ours), ("base", base), ("theirs", theirs)):
            paths.append(os.path.join(self.tmp, name))
            with open(paths[-1], "w") as f:
                f.write(text)
        run = subprocess.run(["git", "merge-file", "-p", *paths], capture_output=True, text=True)
        return run.stdout, run.returncode == 0

    def save_page_if(self, title, content, expected, author=None, message=None, merge=False):
        current = self.page_revision(title)
        if expected is not None and expected != current:
            base = self.get_revision(title, expected) if expected else ""
            theirs = self.get_page(title) if current else ""
            merged, clean = self._merge(base, content, theirs)
            report = {"merged": False, "conflicts": [{
                "page": title, "expected": expected, "current": current, "base_text": base,
                "ours": content, "theirs": theirs, "merged_text": merged, "clean": clean}]}
            raise wikidb.Conflict("", json.dumps(report))
        return self._commit(title, content, message or "Update " + title)

    def rename_page(self, old, new, author=None, message=None):
        if self.page_revision(new):
            raise wikidb.WikiError("Page exists: " + new)
        text = self.get_page(old)
        self._commit(old, None, "Rename")
        return self._commit(new, text, "Rename")

    def history_page(self, title, cursor=None, limit=0, **kw):
        entries = [{"hash": r, "summary": s, "author": "A", "date": "d", "size": 1}
                   for r, t, s in reversed(self.log) if t == title]
        start = int(cursor or 0)
        nxt = start + limit if start + limit < len(entries) else None
        return {"entries": entries[start:start + limit], "next": None if nxt is None else str(nxt)}

    def recent_page(self, cursor=None, limit=0, **kw):
        entries = [{"hash": r, "summary": s, "author": "<A>", "date": "d",
                    "pages": [{"page": t, "change": "modified"}]} for r, t, s in reversed(self.log)]
        start = int(cursor or 0)
        nxt = start + limit if start + limit < len(entries) else None
        return {"entries": entries[start:start + limit], "next": None if nxt is None else str(nxt)}

    def deleted_pages(self):
        return [{"page": t, "deleted_in": revs[-1][0], "restore_from": revs[-2][0]}
                for t, revs in self.pages.items() if revs[-1][1] is None and len(revs) > 1]

    def blame(self, title, revision=None):
        text = self.get_revision(title, revision) if revision else self.get_page(title)
        rev = revision or self.page_revision(title)
        return [{"line": i, "hash": rev, "author": "<A>", "date": "d", "text": line}
                for i, line in enumerate(text.splitlines(), 1)]

    def rollback(self, title, rev, author=None):
        return self._commit(title, self.get_revision(title, rev), "Rollback")

    def search(self, query, limit=0, titles=False):
        hits = [{"page": t, "line": 1, "column": 1, "text": self.get_page(t)}
                for t in self.list_pages() if query.lower() in self.get_page(t).lower()]
        return {"hits": hits, "truncated": False}


class Screens(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikiweb-standin-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.wiki = StandIn(self.tmp)
        self.app = WikiApp(self.wiki)

    def test_create_and_edit_keep_the_text_exactly(self):
        c = Client(self.app)
        status, _, headers = c.get("/edit?title=" + url("New/page ?"))
        self.assertEqual((status, headers["Location"]), (303, "/edit/New%2Fpage%20%3F"))
        status, text, _ = c.get(headers["Location"])
        self.assertEqual((hidden(text, "base"), textarea(text)), ("", ""))
        c.post("/save/New%2Fpage%20%3F", {"text": "\r\nfirst\r\nsecond\r\n", "base": ""})
        self.assertEqual(self.wiki.get_page("New/page ?"), "\nfirst\nsecond\n")
        # The editor gives back the leading newline the HTML parser would eat.
        _, text, _ = c.get("/edit/New%2Fpage%20%3F")
        self.assertEqual(textarea(text), "\nfirst\nsecond\n")
        self.assertEqual(hidden(text, "base"), self.wiki.page_revision("New/page ?"))

    def test_a_late_save_gets_the_merge_and_loses_nothing(self):
        self.wiki._commit("P", "one\ntwo\nthree\n", "start")
        ann, bob = Client(self.app), Client(self.app)
        _, a_form, _ = ann.get("/edit/P")
        _, b_form, _ = bob.get("/edit/P")
        ann.post("/save/P", {"text": "ONE\ntwo\nthree\n", "base": hidden(a_form, "base")})
        status, text, _ = bob.post("/save/P", {"text": "one\ntwo\nTHREE\n",
                                               "base": hidden(b_form, "base")})
        self.assertEqual(status, 409)
        self.assertIn('id="conflict"', text)
        self.assertEqual(self.wiki.get_page("P"), "ONE\ntwo\nthree\n")
        self.assertEqual(textarea(text), "ONE\ntwo\nTHREE\n")
        self.assertEqual(hidden(text, "base"), self.wiki.page_revision("P"))
        self.assertIn("one\ntwo\nTHREE", unescape(text))  # Bob's own text is on the screen
        status, _, _ = bob.post("/save/P", {"text": textarea(text), "base": hidden(text, "base")})
        self.assertEqual((status, self.wiki.get_page("P")), (303, "ONE\ntwo\nTHREE\n"))

    def test_overlapping_edits_come_back_with_markers(self):
        self.wiki._commit("P", "x\n", "start")
        base = self.wiki.page_revision("P")
        self.wiki._commit("P", "theirs\n", "theirs")
        c = Client(self.app)
        c.get("/edit/P")
        status, text, _ = c.post("/save/P", {"text": "mine\n", "base": base})
        self.assertEqual(status, 409)
        merged = textarea(text)
        self.assertIn("<<<<<<<", merged)
        self.assertIn("mine", merged)
        self.assertIn("theirs", merged)
        self.assertIn("conflict markers", unescape(text))

    def test_history_pages_with_cursors(self):
        for i in range(5):
            self.wiki._commit("H", "v%d\n" % i, "edit %d" % i)
        c = Client(self.app)
        target, seen = "/history/H?n=2", []
        while target:
            status, text, _ = c.get(target)
            self.assertEqual(status, 200)
            seen += re.findall(r'class="rev"><code>([0-9a-f]+)</code>', text)
            m = re.search(r'href="([^"]+)" id="older"', text)
            target = unescape(m.group(1)) if m else None
        self.assertEqual(seen, [r[:10] for r, _, _ in reversed(self.wiki.log)])

    def test_rename_refused_and_done(self):
        self.wiki._commit("A", "a\n", "a")
        self.wiki._commit("B", "b\n", "b")
        c = Client(self.app)
        c.get("/rename/A")
        status, text, _ = c.post("/rename/A", {"to": "B"})
        self.assertEqual(status, 409)
        self.assertIn("Page exists: B", text)
        status, _, headers = c.post("/rename/A", {"to": "C/d #"})
        self.assertEqual((status, headers["Location"]), (303, "/view/C%2Fd%20%23"))
        self.assertEqual(self.wiki.get_page("C/d #"), "a\n")

    def test_recent_deleted_and_blame_pages(self):
        self.wiki._commit("<Gone>", "<line one>\n", "made")
        self.wiki._commit("<Gone>", None, "deleted")
        self.wiki._commit("Kept", "a\nb\n", "kept")
        c = Client(self.app)
        status, text, _ = c.get("/recent?n=2")
        self.assertEqual(status, 200)
        self.assertEqual(text.count("(modified)"), 2)
        self.assertIn('id="older"', text)
        self.assertIn("&lt;A&gt;", text)
        status, text, _ = c.get("/deleted")
        self.assertIn('href="/view/%3CGone%3E"', text)
        restore_from = self.wiki.pages["<Gone>"][0][0]
        self.assertIn('name="rev" value="%s"' % restore_from, text)
        # The missing page offers the same restore.
        status, text, _ = c.get("/view/%3CGone%3E")
        self.assertEqual(status, 404)
        self.assertIn("Restore the deleted page", text)
        status, _, _ = c.post("/restore/%3CGone%3E", {"rev": restore_from})
        self.assertEqual((status, self.wiki.get_page("<Gone>")), (303, "<line one>\n"))
        status, text, _ = c.get("/blame/Kept")
        self.assertEqual(status, 200)
        self.assertEqual(text.count("<tr>"), 2)

    def test_search_hits_are_escaped_and_linked(self):
        self.wiki._commit("Städte", "<b>MÜNCHEN</b>\n", "s")
        _, text, _ = Client(self.app).get("/search?q=" + url("münchen"))
        self.assertIn('href="/view/St%C3%A4dte"', text)
        self.assertIn("&lt;b&gt;MÜNCHEN&lt;/b&gt;", text)
        self.assertIn('value="münchen"', text)


if __name__ == "__main__":
    unittest.main()
