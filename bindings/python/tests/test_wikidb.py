"""The thirteen functions of the library through the package, against real wikis.

CTest runs these against an installed copy of the package (run-installed.sh).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import wikidb


def git(root, *args):
    return subprocess.run(["git", "-C", root, *args], check=True, capture_output=True).stdout


class WikiTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikidb-py-")
        self.root = os.path.join(self.tmp, "wiki")
        self.wiki = wikidb.Wiki(self.root)
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.addCleanup(self.wiki.close)


class RoundTrip(WikiTest):
    def test_every_function_on_one_wiki(self):
        self.assertRegex(wikidb.version(), r"^\d+\.\d+\.\d+$")
        w = self.wiki
        w.save_page("Home", "one\n", author="Ada Lovelace", message="First")
        w.save_page("Home", "one\ntwo\n", author="Bob <bob@example.org>")
        w.save_page("Help/Edit", b"bytes \xff\n")
        self.assertEqual(wikidb.last_error(), "")

        self.assertEqual(w.get_page("Home"), "one\ntwo\n")
        self.assertEqual(w.get_page("Help/Edit", as_bytes=True), b"bytes \xff\n")
        self.assertEqual(sorted(w.list_pages()), ["Help/Edit", "Home"])
        self.assertEqual(w.list_pages("He"), ["Help/Edit"])

        history = w.get_history("Home")
        self.assertEqual([h["summary"] for h in history], ["Update Home", "First"])
        self.assertEqual([h["author"] for h in history], ["Bob", "Ada Lovelace"])
        self.assertEqual([h["size"] for h in history], [8, 4])
        first, second = history[1]["hash"], history[0]["hash"]
        self.assertEqual(first, git(self.root, "rev-list", "--max-parents=0", "HEAD").decode().strip())
        self.assertEqual(len(w.get_history()), 3)

        self.assertEqual(w.get_revision("Home", first), "one\n")
        diff = w.get_diff("Home", first, second)
        self.assertIn("\n+two\n", diff)
        self.assertTrue(diff.startswith("diff --git a/pages/Home.wiki b/pages/Home.wiki"))
        self.assertEqual(w.get_diff("Home", second, second), "")

        w.rollback("Home", first, author="Carol")
        self.assertEqual(w.get_page("Home"), "one\n")
        recent = w.get_recent_changes(1)
        self.assertEqual(len(recent), 1)
        self.assertEqual(recent[0]["summary"], "Rollback Home to %s" % first)
        self.assertEqual((recent[0]["author"], recent[0]["page"]), ("Carol", "Home"))

        w.delete_page("Help/Edit", message="Remove help")
        self.assertEqual(w.list_pages(), ["Home"])
        self.assertEqual(w.get_recent_changes()[0]["summary"], "Remove help")
        self.assertEqual(len(w.get_recent_changes()), 5)

    def test_json_methods_return_the_library_text(self):
        self.wiki.save_page("A", "a")
        self.assertEqual(self.wiki.list_pages_json(), '["A"]')
        self.assertEqual(self.wiki.list_pages_json(as_bytes=True), b'["A"]')
        self.assertRegex(self.wiki.get_history_json("A"),
                         r'^\[\{"hash":"[0-9a-f]{40}","author":"Wiki User","date":"[^"]+",'
                         r'"summary":"Update A","size":1\}\]$')

    def test_str_and_bytes_round_trip_byte_for_byte(self):
        samples = {"crlf": b"a\r\nb\r\n", "no-newline": b"end", "empty": b"",
                   "latin1": b"caf\xe9", "utf8": "h\u00e9llo \u2603\n".encode()}
        for title, data in samples.items():
            self.wiki.save_page(title, data)
            self.assertEqual(self.wiki.get_page(title, as_bytes=True), data, title)
            with open(os.path.join(self.root, "pages", title + ".wiki"), "rb") as f:
                self.assertEqual(f.read(), data, title)
        # Undecodable bytes survive the trip through str as well.
        text = self.wiki.get_page("latin1")
        self.wiki.save_page("copy", text)
        self.assertEqual(self.wiki.get_page("copy", as_bytes=True), b"caf\xe9")
        self.assertEqual(self.wiki.get_page("utf8"), "h\u00e9llo \u2603\n")

    def test_none_content_saves_an_empty_page(self):
        self.wiki.save_page("Empty", None)
        self.assertEqual(self.wiki.get_page("Empty"), "")
        self.assertEqual(self.wiki.get_history("Empty")[0]["size"], 0)


class Failures(WikiTest):
    def assert_fails(self, message_pattern, fn, *args):
        with self.assertRaises(wikidb.WikiError) as ctx:
            fn(*args)
        self.assertRegex(ctx.exception.message, message_pattern)
        self.assertEqual(str(ctx.exception), ctx.exception.message)
        self.assertEqual(wikidb.last_error(), ctx.exception.message)

    def test_failures_raise_with_the_library_message(self):
        w = self.wiki
        self.assert_fails(r"^Invalid title$", w.save_page, "", "x")
        self.assert_fails(r"^Invalid title$", w.save_page, "a/../b", "x")
        self.assert_fails(r"^Page not found: Nope$", w.get_page, "Nope")
        self.assert_fails(r"^Invalid parameters to wikidb_get_page$", w.get_page, None)
        self.assert_fails(r"^Invalid parameters to wikidb_delete_page$", w.delete_page, "")
        w.save_page("Home", "x")
        self.assert_fails(r"^git command failed \(exit code \d+\): .*nope", w.get_revision,
                          "Home", "nope")
        self.assert_fails(r"^Invalid parameters to wikidb_get_revision$", w.get_revision,
                          "Home", "")
        self.assert_fails(r"^Invalid parameters to wikidb_get_diff$", w.get_diff, "Home",
                          None, "HEAD")
        self.assert_fails(r"^Invalid parameters to wikidb_rollback$", w.rollback, "Home", "")
        self.assert_fails(r"nope", w.rollback, "Home", "nope")
        self.assertEqual(w.get_page("Home"), "x")

    def test_open_failure(self):
        with self.assertRaises(wikidb.WikiError) as ctx:
            wikidb.Wiki("")
        self.assertEqual(ctx.exception.message, "Invalid wiki_root parameter")

    def test_unknown_commit_in_a_diff_comes_back_as_git_printed_it(self):
        self.wiki.save_page("Home", "x")
        text = self.wiki.get_diff("Home", "nope", "HEAD")
        self.assertIn("nope", text)
        self.assertEqual(wikidb.last_error(), "")

    def test_nul_bytes_and_wrong_types_are_refused_before_the_library(self):
        with self.assertRaises(ValueError):
            self.wiki.save_page("Home", b"before\0after")
        with self.assertRaises(ValueError):
            self.wiki.save_page("Ho\0me", "x")
        with self.assertRaises(TypeError):
            self.wiki.save_page("Home", 42)
        with self.assertRaises(TypeError):
            self.wiki.get_recent_changes("3")
        with self.assertRaises(ValueError):
            self.wiki.get_recent_changes(2**31)
        self.assertEqual(self.wiki.list_pages(), [])


class Lifecycle(unittest.TestCase):
    def test_context_manager_closes_the_handle(self):
        with tempfile.TemporaryDirectory() as tmp:
            with wikidb.Wiki(tmp) as w:
                w.save_page("Home", "x")
                self.assertFalse(w.closed)
            self.assertTrue(w.closed)
            with self.assertRaises(ValueError):
                w.get_page("Home")
            w.close()  # a second close does nothing
            with wikidb.Wiki(tmp) as again:
                self.assertEqual(again.get_page("Home"), "x")

    def test_two_handles_on_one_wiki_keep_their_own_results(self):
        with tempfile.TemporaryDirectory() as tmp:
            with wikidb.Wiki(tmp) as a, wikidb.Wiki(tmp) as b:
                a.save_page("P", "from a")
                self.assertEqual(b.get_page("P"), "from a")
                b.save_page("P", "from b")
                self.assertEqual(a.get_page("P"), "from b")
                self.assertEqual(len(a.get_history("P")), 2)

    def test_a_missing_library_is_reported_with_its_path(self):
        code = ("import wikidb\ntry:\n    wikidb.Wiki('/tmp')\n"
                "except wikidb.LibraryError as e:\n    print(e)\n")
        env = dict(os.environ, WIKIDB_LIBRARY="/nonexistent/libquenlow-wikidb.so")
        out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                             text=True, cwd=tempfile.gettempdir())
        self.assertIn("/nonexistent/libquenlow-wikidb.so", out.stdout)
        self.assertIn("WIKIDB_LIBRARY", out.stdout)
        with self.assertRaises(OSError):
            wikidb.load_library("/nonexistent/libquenlow-wikidb.so")


if __name__ == "__main__":
    unittest.main()
