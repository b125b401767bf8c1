"""End-to-end tests of the wikidb program on real wikis.

WIKIDB_EXE names the program and WIKIDB_LIBRARY the library, whose own
results (through the Python bindings on PYTHONPATH) are what the program's
--json output and error messages must equal.
"""

import json
import os
import ctypes
import re
import shutil
import subprocess
import tempfile
import unittest

import wikidb

EXE = os.environ.get("WIKIDB_EXE", "wikidb")
COMMANDS = ["init", "save", "mv", "rev", "cat", "rm", "ls", "log", "show", "diff", "restore",
            "recent", "grep", "deleted", "blame", "remote", "sync", "resolve", "version", "help"]


def run(*args, stdin=b"", cwd=None, env=None):
    # The limit only guards against a hang: one command takes well under a
    # second even under the sanitizers, so a busy machine never reaches it.
    p = subprocess.run([EXE, *args], input=stdin, capture_output=True, cwd=cwd, timeout=120,
                       env=None if env is None else {**os.environ, **env})
    return p.returncode, p.stdout, p.stderr


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikidb-cli-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.root = os.path.join(self.tmp, "wiki")
        rc, out, err = run("-C", self.root, "init")
        self.assertEqual((rc, err), (0, b""))

    def w(self, *args, stdin=b"", env=None):
        return run("-C", self.root, *args, stdin=stdin, env=env)

    def ok(self, *args, stdin=b""):
        rc, out, err = self.w(*args, stdin=stdin)
        self.assertEqual(rc, 0, (args, out, err))
        self.assertEqual(err, b"", args)
        return out

    def failed(self, *args, stdin=b"", env=None):
        rc, out, err = self.w(*args, stdin=stdin, env=env)
        self.assertEqual(rc, 1, (args, out, err))
        self.assertEqual(out, b"", args)
        self.assertTrue(err.startswith(b"wikidb: ") and err.endswith(b"\n"), err)
        self.assertEqual(err.count(b"\n"), 1, err)
        return err[len(b"wikidb: "):-1].decode("utf-8", "surrogateescape")

    def library(self):
        wiki = wikidb.Wiki(self.root)
        self.addCleanup(wiki.close)
        return wiki

    def hashes(self, title=None):
        return [h["hash"] for h in self.library().get_history(title)]


class Pages(CliTest):
    def test_init_reports_and_repeats(self):
        self.assertTrue(os.path.isdir(os.path.join(self.root, ".git")))
        self.assertTrue(os.path.isdir(os.path.join(self.root, "pages")))
        self.assertEqual(self.ok("init"),
                         b"Reinitialized existing wiki in %s\n" % os.path.realpath(self.root).encode())

    def test_save_reads_stdin_and_files_byte_for_byte(self):
        data = b"line one\r\nline two\n\xff\xfe caf\xc3\xa9\tend-without-newline"
        out = self.ok("save", "Home", stdin=data)
        self.assertRegex(out, rb"^\[[0-9a-f]{7}\] Update Home\n$")
        self.assertEqual(self.ok("cat", "Home"), data)
        with open(os.path.join(self.root, "pages", "Home.wiki"), "rb") as f:
            self.assertEqual(f.read(), data)

        self.ok("save", "Other", "-", stdin=b"dash\n")
        self.assertEqual(self.ok("cat", "Other"), b"dash\n")
        src = os.path.join(self.tmp, "text")
        with open(src, "wb") as f:
            f.write(b"from a file\n")
        self.ok("save", "Other", src, "-m", "From file")
        self.assertEqual(self.ok("cat", "Other"), b"from a file\n")
        self.ok("save", "Empty", stdin=b"")
        self.assertEqual(self.ok("cat", "Empty"), b"")

    def test_save_names_its_commit_or_says_nothing_changed(self):
        out = self.ok("save", "Home", "-a", "Ada Lovelace", "-m", "Create Home", stdin=b"x")
        head = self.library().get_history("Home")[0]
        self.assertEqual(out, b"[%s] Create Home\n" % head["hash"][:7].encode())
        self.assertEqual(head["author"], "Ada Lovelace")
        self.assertEqual(self.ok("save", "Home", stdin=b"x"),
                         b"nothing to commit (Home unchanged)\n")
        self.assertEqual(len(self.hashes("Home")), 1)

    def test_save_refuses_a_text_holding_nul(self):
        message = self.failed("save", "Home", stdin=b"before\0after")
        self.assertIn("NUL byte (at offset 6)", message)
        self.assertEqual(self.library().list_pages(), [])

    def test_save_of_a_missing_file_fails_without_a_page(self):
        message = self.failed("save", "Home", os.path.join(self.tmp, "no-such-file"))
        self.assertIn("no-such-file", message)
        self.assertEqual(self.library().list_pages(), [])

    def test_rm_and_cat_of_a_removed_page(self):
        self.ok("save", "Help/Edit", stdin=b"x")
        out = self.ok("rm", "Help/Edit", "-m", "Drop it")
        self.assertRegex(out, rb"^\[[0-9a-f]{7}\] Drop it\n$")
        self.assertEqual(self.failed("cat", "Help/Edit"), "Page not found: Help/Edit")
        self.assertEqual(self.ok("rm", "Never"), b"nothing to commit (no page Never)\n")

    def test_library_errors_reach_stderr_unchanged(self):
        with self.assertRaises(wikidb.WikiError) as ctx:
            self.library().save_page("a/../b", "x")
        self.assertEqual(self.failed("save", "a/../b", stdin=b"x"), ctx.exception.message)
        self.ok("save", "Home", stdin=b"x")
        with self.assertRaises(wikidb.WikiError) as ctx:
            self.library().get_revision("Home", "0000000")
        # git's own line feed at the end of the message is not doubled.
        self.assertEqual(self.failed("show", "Home", "0000000"), ctx.exception.message.rstrip("\n"))

    def test_commands_need_a_wiki_and_do_not_make_one(self):
        elsewhere = os.path.join(self.tmp, "not-a-wiki")
        rc, out, err = run("-C", elsewhere, "ls")
        self.assertEqual((rc, out), (1, b""))
        self.assertIn(b"not a wiki", err)
        self.assertFalse(os.path.exists(elsewhere))

    def test_root_defaults_to_the_current_directory(self):
        rc, out, err = run("save", "Here", stdin=b"x", cwd=self.root)
        self.assertEqual(rc, 0, err)
        self.assertEqual(run("ls", cwd=self.root)[1], b"Here\n")


class Reports(CliTest):
    def setUp(self):
        super().setUp()
        self.ok("save", "Home", "-a", "Ada", "-m", "First", stdin=b"one\n")
        self.ok("save", "Home", "-a", "Bob Longname", "-m", "Second", stdin=b"one\ntwo\n")
        self.ok("save", "Help/Edit", "-m", 'Quote " and tab\there', stdin=b"help\n")

    def test_json_output_is_the_library_text_and_a_newline(self):
        lib = self.library()
        reads = PagedLibrary(self.root)
        self.addCleanup(reads.close)
        cases = [(("ls",), lib.list_pages_json().encode()),
                 (("ls", "He"), lib.list_pages_json("He").encode()),
                 (("log", "Home"), reads.history(b"Home", flags=1)),
                 (("log", "Home", "--no-follow", "-n", "1"), reads.history(b"Home", limit=1)),
                 (("log",), reads.history(None)),
                 (("log", "--author", "bob", "--since", "2000-01-01"),
                  reads.history(None, author=b"bob", since=b"2000-01-01")),
                 (("recent",), reads.recent()),
                 (("recent", "-n", "1"), reads.recent(limit=1)),
                 (("grep", "one", "-w", "--titles"), reads.search(b"one", flags=3)),
                 (("deleted",), reads.deleted()),
                 (("blame", "Home"), reads.blame(b"Home"))]
        for args, expected in cases:
            self.assertEqual(self.ok(*args, "--json"), expected + b"\n", args)
        self.assertIn(b'\\"', self.ok("log", "--json"))

    def test_ls_prints_one_name_per_line(self):
        self.assertEqual(sorted(self.ok("ls").splitlines()), [b"Help/Edit", b"Home"])
        self.assertEqual(self.ok("ls", "Help"), b"Help/Edit\n")
        self.assertEqual(self.ok("ls", "Zzz"), b"")

    def test_log_lines_have_short_hashes_and_aligned_columns(self):
        history = self.library().get_history("Home")
        lines = self.ok("log", "Home").decode().splitlines()
        self.assertEqual(len(lines), 2)
        for line, h in zip(lines, history):
            self.assertTrue(line.startswith(h["hash"][:7] + "  " + h["date"] + "  "), line)
            self.assertTrue(line.endswith("  " + h["summary"]), line)
        self.assertRegex(lines[0], r"  Bob Longname  8 B  Second$")
        self.assertRegex(lines[1], r"  Ada           4 B  First$")
        # The whole wiki's log has no size column but the pages each commit
        # changed; control characters in a subject are shown escaped,
        # keeping one commit to one line.
        lines = self.ok("log").decode().splitlines()
        self.assertEqual(len(lines), 3)
        self.assertTrue(lines[0].endswith('  Wiki User     "Quote \\" and tab\\there"  [A Help/Edit]'),
                        lines[0])
        self.assertTrue(lines[2].endswith("  Ada           First  [A Home]"), lines[2])

    def test_recent_lists_page_changes_with_a_limit(self):
        lines = self.ok("recent").decode().splitlines()
        self.assertEqual(len(lines), 3)
        pages = [re.split(r"  +", line)[4] for line in lines]
        self.assertEqual(pages, ["Help/Edit", "Home", "Home"])
        self.assertEqual([re.split(r"  +", line)[3] for line in lines], ["added", "modified", "added"])
        self.assertEqual(len({line.index(p) for line, p in zip(lines, pages)}), 1)
        # Two commits, and the line that leads to the next page.
        lines = self.ok("recent", "-n", "2").decode().splitlines()
        self.assertEqual(len(lines), 3)
        self.assertTrue(lines[2].startswith("(more: wikidb recent --after "), lines)
        self.assertEqual(len(self.ok("recent", "-n1").splitlines()), 2)
        self.assertEqual(len(self.ok("recent", "-n3").splitlines()), 3)

    def test_show_diff_and_restore(self):
        second, first = self.hashes("Home")
        self.assertEqual(self.ok("show", "Home", first[:7]), b"one\n")
        diff = self.ok("diff", "Home", first, second)
        self.assertEqual(diff, self.library().get_diff("Home", first, second, as_bytes=True))
        self.assertIn(b"\n+two\n", diff)
        self.assertEqual(self.ok("diff", "Home", second, second), b"")
        self.assertIn("nope", self.failed("diff", "Home", "nope", second))

        out = self.ok("restore", "Home", first[:7], "-a", "Carol")
        self.assertRegex(out, rb"^\[[0-9a-f]{7}\] Rollback Home to %s\n$" % first[:7].encode())
        self.assertEqual(self.ok("cat", "Home"), b"one\n")
        self.assertEqual(self.library().get_history("Home")[0]["author"], "Carol")
        self.assertEqual(self.ok("restore", "Home", first[:7]),
                         b"nothing to commit (Home already holds its text of %s)\n"
                         % first[:7].encode())
        self.assertIn("nope", self.failed("restore", "Home", "nope"))

    def test_revert_is_restore_with_a_deprecation_warning(self):
        second, first = self.hashes("Home")
        rc, out, err = self.w("revert", "Home", first[:7])
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, rb"^\[[0-9a-f]{7}\] Rollback Home to %s\n$" % first[:7].encode())
        self.assertRegex(err, rb'^wikidb: warning: "wikidb revert" is deprecated, use "wikidb restore"'
                              rb"[^\n]*\n$")
        self.assertEqual(self.ok("cat", "Home"), b"one\n")
        self.assertEqual(run("revert", "--help")[1], run("restore", "--help")[1])

    def test_diff_of_a_page_absent_at_one_commit_is_a_diff(self):
        second, first = self.hashes("Home")
        self.ok("save", "New", stdin=b"new\n")
        added = self.ok("diff", "New", second, "HEAD")
        self.assertTrue(added.startswith(b"diff --git "), added)
        self.assertIn(b"\n+new\n", added)
        self.assertEqual(self.ok("diff", "Nowhere", first, second), b"")

    def test_diff_of_an_unknown_revision_fails_in_any_language(self):
        second, first = self.hashes("Home")
        german = {"LANGUAGE": "de", "LC_ALL": "de_DE.UTF-8"}
        probe = subprocess.run(["git", "-C", self.root, "commit", "-m", "probe"], capture_output=True,
                               env={**os.environ, **german})
        if b"nichts zu committen" not in probe.stdout + probe.stderr:
            self.skipTest("git does not print German messages here (needs the de_DE.UTF-8 locale, "
                          "which scripts/install-deps.sh generates)")
        for args in (("nope", second), (first, "nope")):
            self.assertIn("nope", self.failed("diff", "Home", *args, env=german))


class Writes(CliTest):
    def test_every_write_names_the_commit_it_made(self):
        out = self.ok("save", "Home", "-m", "first line\nmore", stdin=b"a\n")
        head = self.hashes()[0]
        self.assertEqual(out, b"[%s] first line\n" % head[:7].encode())
        out = self.ok("mv", "Home", "Start")
        self.assertEqual(out, b"[%s] Rename Home to Start\n" % self.hashes()[0][:7].encode())
        out = self.ok("rm", "Start")
        self.assertEqual(out, b"[%s] Delete Start\n" % self.hashes()[0][:7].encode())
        self.assertEqual(self.ok("rm", "Start"), b"nothing to commit (no page Start)\n")

    def test_rev_and_conditional_save(self):
        self.assertEqual(self.ok("rev", "Home"), b"\n")
        self.ok("save", "--if", "", "Home", stdin=b"1\n2\n3\n4\n5\n")
        rev = self.ok("rev", "Home").strip().decode()
        self.assertEqual(rev, self.hashes("Home")[0])
        self.ok("save", "Home", stdin=b"1\nTWO\n3\n4\n5\n")
        now = self.ok("rev", "Home").strip().decode()
        rc, out, err = self.w("save", "--if", rev, "Home", stdin=b"1\n2\n3\n4\nFIVE\n")
        self.assertEqual(rc, 3, err)
        self.assertEqual(out, b"conflict: Home was changed since %s by %s\n"
                         % (rev[:7].encode(), now[:7].encode()))
        rc, out, err = self.w("save", "--if", rev, "--json", "Home", stdin=b"1\n2\n3\n4\nFIVE\n")
        self.assertEqual(rc, 3)
        report = json.loads(out)
        self.assertEqual(report["conflicts"][0]["current"], now)
        self.assertEqual(report["conflicts"][0]["merged_text"], "1\nTWO\n3\n4\nFIVE\n")
        self.assertEqual(self.ok("rev", "Home").strip().decode(), now)
        # Overlapping edits: the merged text with markers, status 3.
        rc, out, err = self.w("save", "--if", rev, "--merge", "Home", stdin=b"1\nzwei\n3\n4\n5\n")
        self.assertEqual(rc, 3)
        self.assertIn(b"<<<<<<< ours\n", out)
        # Non-overlapping edits merge and commit.
        out = self.ok("save", "--if", rev, "--merge", "Home", stdin=b"1\n2\n3\n4\nFIVE\n")
        self.assertTrue(out.startswith(b"[%s] " % self.hashes()[0][:7].encode()), out)
        self.assertEqual(self.ok("cat", "Home"), b"1\nTWO\n3\n4\nFIVE\n")

    def test_mv_refusals(self):
        self.ok("save", "A", stdin=b"a")
        self.ok("save", "B", stdin=b"b")
        self.assertEqual(self.failed("mv", "A", "B"), "Page already exists: B")
        self.assertEqual(self.failed("mv", "Nope", "C"), "Page not found: Nope")

class PagedLibrary:
    """The library's paged reads through ctypes, to compare the program's
    --json output with."""

    def __init__(self, root):
        # A ctypes handle of its own, so that the package's declarations of
        # the same functions stay as they are.
        self.lib = ctypes.CDLL(wikidb.load_library().path)
        lib = self.lib
        c = ctypes
        lib.wikidb_history_page_json.restype = c.c_char_p
        lib.wikidb_history_page_json.argtypes = [c.c_void_p, c.c_char_p, c.c_char_p, c.c_int,
                                                 c.c_char_p, c.c_char_p, c.c_char_p, c.c_int]
        lib.wikidb_recent_page_json.restype = c.c_char_p
        lib.wikidb_recent_page_json.argtypes = [c.c_void_p, c.c_char_p, c.c_int, c.c_char_p,
                                                c.c_char_p]
        lib.wikidb_search_json.restype = c.c_char_p
        lib.wikidb_search_json.argtypes = [c.c_void_p, c.c_char_p, c.c_int, c.c_int]
        lib.wikidb_deleted_pages_json.restype = c.c_char_p
        lib.wikidb_deleted_pages_json.argtypes = [c.c_void_p]
        lib.wikidb_blame_json.restype = c.c_char_p
        lib.wikidb_blame_json.argtypes = [c.c_void_p, c.c_char_p, c.c_char_p]
        lib.wikidb_open.restype = c.c_void_p
        lib.wikidb_open.argtypes = [c.c_char_p]
        lib.wikidb_close.argtypes = [c.c_void_p]
        self.h = lib.wikidb_open(root.encode())

    def close(self):
        self.lib.wikidb_close(self.h)

    def _check(self, out):
        if out is None:
            self.lib.wikidb_last_error.restype = ctypes.c_char_p
            raise AssertionError(self.lib.wikidb_last_error())
        return out

    def history(self, title, cursor=None, limit=0, author=None, since=None, until=None, flags=0):
        return self._check(self.lib.wikidb_history_page_json(self.h, title, cursor, limit, author,
                                                             since, until, flags))

    def recent(self, cursor=None, limit=0, author=None, since=None):
        return self._check(self.lib.wikidb_recent_page_json(self.h, cursor, limit, author, since))

    def search(self, query, limit=0, flags=0):
        return self._check(self.lib.wikidb_search_json(self.h, query, limit, flags))

    def deleted(self):
        return self._check(self.lib.wikidb_deleted_pages_json(self.h))

    def blame(self, title, rev=None):
        return self._check(self.lib.wikidb_blame_json(self.h, title, rev))


def git(root, *args):
    return subprocess.run(["git", "-C", root, *args], check=True, capture_output=True).stdout


class PagedReads(CliTest):
    def setUp(self):
        super().setUp()
        self.ok("save", "Old", "-a", "Ada", stdin="Über den Wolken\nzweite Zeile\n".encode())
        for i in range(4):
            self.ok("save", "Other", "-a", "Bob", stdin=b"other %d\n" % i)
        # A rename as the library records it, made with git here.
        git(self.root, "mv", "pages/Old.wiki", "pages/New.wiki")
        with open(os.path.join(self.root, "pages", "New.wiki"), "wb") as f:
            f.write("Über den Wolken\nneu\nganz\nanders\n".encode())
        git(self.root, "add", "-A")
        git(self.root, "commit", "-q", "-m", 'Rename Old\n\nWikidb-Rename: "Old" -> "New"')

    def test_log_pages_through_the_more_line_and_follows_renames(self):
        seen, args = [], ["log", "-n", "2"]
        for _ in range(10):
            lines = self.ok(*args).decode().splitlines()
            more = [l for l in lines if l.startswith("(more: wikidb ")]
            seen += [l.split()[0] for l in lines if not l.startswith("(more")]
            if not more:
                break
            self.assertEqual(len(lines), 3)
            args = more[0][len("(more: wikidb "):-1].split()
        everything = git(self.root, "log", "--format=%h", "--abbrev=7").decode().split()
        self.assertEqual(seen, everything)
        lines = self.ok("log", "New").decode().splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn("[renamed from Old]", lines[0])
        self.assertIn("Ada", lines[1])
        self.assertEqual(len(self.ok("log", "New", "--no-follow").splitlines()), 1)
        self.assertEqual(len(self.ok("log", "--author", "ada").splitlines()), 1)
        self.assertIn("[R New (from Old)]", self.ok("log", "-n", "1").decode())
        self.assertEqual(self.failed("log", "--after", "bogus"), "Invalid cursor")
        self.assertEqual(self.failed("log", "--since", "last week"), "Invalid date: last week")
        self.assertEqual(self.failed("log", "Nope"), "Page not found: Nope")

    def test_recent_shows_kinds_and_pages(self):
        lines = self.ok("recent", "-n", "1").decode().splitlines()
        self.assertEqual(re.split(r"  +", lines[0])[3:5], ["renamed", "New (from Old)"])
        self.assertTrue(lines[-1].startswith("(more: wikidb recent --after "))
        self.assertEqual(len(self.ok("recent", "--author", "bob").splitlines()), 4)

    def test_grep_words_in_any_case_and_order(self):
        self.assertEqual(self.ok("grep", "wolken", "ÜBER"), "New:1:1: Über den Wolken\n".encode())
        self.assertEqual(self.ok("grep", "--case-sensitive", "über"), b"")
        self.assertEqual(self.ok("grep", "-w", "Wolk"), b"")
        self.assertEqual(self.ok("grep", "--titles", "new"), b"New (title)\n")
        for name in ("S1", "S2", "S3"):
            self.ok("save", name, stdin=b"same\n")
        self.assertEqual(self.ok("grep", "SAME", "-n", "2").decode().splitlines(),
                         ["S1:1:1: same", "S2:1:1: same", "(more hits: raise -n, now 2)"])
        self.assertEqual(len(self.ok("grep", "SAME", "-n", "3").splitlines()), 3)
        self.assertEqual(self.ok("grep", "--", "-O"), b"")
        self.assertEqual(self.failed("grep", " "), "Empty search query")

    def test_deleted_names_the_restore_that_brings_it_back(self):
        self.ok("rm", "Other")
        line = self.ok("deleted").decode().splitlines()[0]
        self.assertTrue(line.startswith("Other  "), line)
        restore = line[line.index("wikidb restore "):].split()[2:4]
        self.ok("restore", *restore)
        self.assertEqual(self.ok("cat", "Other"), b"other 3\n")
        self.assertIn("renamed to New", self.ok("deleted").decode())

    def test_blame_crosses_the_recorded_rename(self):
        lines = self.ok("blame", "New").decode().splitlines()
        self.assertEqual(len(lines), 4)
        self.assertTrue(lines[0].split()[1] == "Ada" and lines[0].endswith("1)  Über den Wolken"), lines)
        self.assertNotIn("Ada", lines[1])
        first = git(self.root, "rev-list", "--max-parents=0", "HEAD").decode().strip()
        self.assertEqual(len(self.ok("blame", "Old", first).splitlines()), 2)
        self.assertEqual(self.failed("blame", "New", "nope"), "Unknown revision: nope")


class Sync(CliTest):
    def setUp(self):
        super().setUp()
        self.central = os.path.join(self.tmp, "central.git")
        subprocess.run(["git", "init", "-q", "--bare", self.central], check=True)
        self.other = os.path.join(self.tmp, "other")
        self.assertEqual(run("-C", self.other, "init")[0], 0)
        self.ok("remote", "add", "origin", self.central, "--branch", "main")
        self.assertEqual(run("-C", self.other, "remote", "add", "origin",
                             "file://" + self.central, "--branch", "main")[0], 0)

    def o(self, *args, stdin=b""):
        return run("-C", self.other, *args, stdin=stdin)

    def test_summary_json_and_conflict_status(self):
        self.ok("save", "Home", "-a", "Alice", stdin=b"one\ntwo\n")
        self.assertEqual(self.ok("sync"), b"pushed (ahead 1, behind 0)\n")
        rc, out, err = self.o("sync", "--json")
        self.assertEqual(rc, 0, err)
        report = json.loads(out)
        self.assertEqual((report["state"], report["pages_changed"]), ("fast_forward", ["Home"]))
        self.assertEqual(self.o("cat", "Home")[1], b"one\ntwo\n")
        self.assertEqual(self.ok("sync", "origin"), b"up to date (ahead 0, behind 0)\n")

        self.ok("save", "Home", stdin=b"one\nMINE\n")
        self.o("save", "Home", stdin=b"one\nTHEIRS\n")
        self.assertEqual(self.o("sync")[0], 0)
        head = subprocess.run(["git", "-C", self.root, "rev-parse", "HEAD"], capture_output=True).stdout
        rc, out, err = self.w("sync")
        self.assertEqual(rc, 3, err)
        self.assertRegex(out, rb"^conflict \(ahead 1, behind 1\)\nconflict: Home \(ours [0-9a-f]{7}, theirs [0-9a-f]{7}\)\n$")
        rc, out, err = self.w("sync", "--json")
        self.assertEqual(rc, 3)
        self.assertIn("<<<<<<< ours\nMINE\n=======\nTHEIRS\n>>>>>>> theirs",
                      json.loads(out)["conflicts"][0]["merged_text"])
        self.assertEqual(subprocess.run(["git", "-C", self.root, "rev-parse", "HEAD"],
                                        capture_output=True).stdout, head)
        self.assertEqual(self.ok("cat", "Home"), b"one\nMINE\n")
        self.ok("resolve", "Home", stdin=b"one\nMINE\nTHEIRS\n")
        self.assertEqual(self.ok("sync").splitlines()[0], b"merged (ahead 2, behind 1)")
        self.assertEqual(self.o("sync")[0], 0)
        self.assertEqual(self.o("cat", "Home")[1], b"one\nMINE\nTHEIRS\n")

    def test_modes_and_refusals(self):
        self.ok("save", "A", stdin=b"a")
        self.assertEqual(self.ok("sync", "--pull-only"), b"up to date (ahead 1, behind 0)\n")
        self.assertEqual(self.ok("sync", "--push-only"), b"pushed (ahead 1, behind 0)\n")
        rc, out, err = self.w("sync", "--pull-only", "--push-only")
        self.assertEqual(rc, 2)
        self.assertEqual(self.failed("sync", "nosuch"), "Unknown remote: nosuch")
        self.assertEqual(self.failed("remote", "add", "evil", "--", "-oProxyCommand=x"),
                         "Invalid remote URL: -oProxyCommand=x")
        self.ok("remote", "add", "ext", "ext::sh -c true")
        self.assertTrue(self.failed("sync", "ext").startswith(
            "Remote URL names a transport that may run commands"))
        self.assertEqual(self.failed("resolve", "A", stdin=b"x"),
                         "No sync conflict recorded for page: A")


class Usage(unittest.TestCase):
    def assert_usage(self, *args):
        rc, out, err = run(*args)
        self.assertEqual((rc, out), (2, b""), args)
        self.assertTrue(err.startswith(b"wikidb: "), err)
        self.assertIn(b"usage: wikidb", err)
        return err

    def test_usage_errors_exit_2_with_the_usage(self):
        self.assert_usage()
        self.assertIn(b"'frobnicate' is not a wikidb command", self.assert_usage("frobnicate"))
        self.assertIn(b"usage: wikidb [-C ROOT] save", self.assert_usage("save"))
        self.assert_usage("show", "Home")
        self.assert_usage("cat", "a", "b")
        self.assertIn(b"unknown option '--bogus'", self.assert_usage("ls", "--bogus"))
        self.assert_usage("save", "Home", "-m")
        self.assert_usage("cat", "Home", "--json")
        self.assert_usage("recent", "-n", "0")
        self.assert_usage("recent", "-n", "3x")
        self.assert_usage("log", "-n", "0")
        self.assert_usage("log", "--follow", "--no-follow")
        self.assert_usage("grep")
        self.assert_usage("blame")
        self.assert_usage("-C")
        self.assert_usage("--frobnicate")

    def test_every_subcommand_has_help(self):
        for name in COMMANDS:
            for flag in ("--help", "-h"):
                rc, out, err = run(name, flag)
                self.assertEqual((rc, err), (0, b""), name)
                self.assertTrue(out.startswith(b"usage: wikidb [-C ROOT] " + name.encode()), out)
            self.assertEqual(run("help", name)[1], out, name)

    def test_help_documents_every_subcommand(self):
        rc, out, err = run("help")
        self.assertEqual((rc, err), (0, b""))
        for name in COMMANDS:
            self.assertIn(b"\nusage: wikidb [-C ROOT] " + name.encode(), out)
            self.assertIn(run(name, "--help")[1], out)
        self.assertIn(b"NUL", out)
        self.assertEqual(run("--help")[1], out)

    def test_version_is_the_library_version(self):
        self.assertEqual(run("version")[1], b"wikidb version %s\n" % wikidb.version().encode())
        self.assertEqual(run("--version")[1], run("version")[1])

    def test_operands_may_start_with_a_dash_after_double_dash(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.assertEqual(run("-C", tmp, "init")[0], 0)
            rc, out, err = run("-C", tmp, "save", "--", "-dash", stdin=b"x")
            self.assertEqual(rc, 0, err)
            self.assertEqual(run("-C", tmp, "ls")[1], b"-dash\n")

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_a_failed_write_is_an_error(self):
        with open("/dev/full", "wb") as full:
            p = subprocess.run([EXE, "help"], stdout=full, stderr=subprocess.PIPE)
        self.assertEqual(p.returncode, 1)
        self.assertIn(b"wikidb: write error", p.stderr)


if __name__ == "__main__":
    unittest.main()
