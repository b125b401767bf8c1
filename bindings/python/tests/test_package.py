"""The package as installed: where it finds the library, how it checks the
version, its exceptions, and its lock across threads."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

import wikidb
from wikidb import errors

HERE_UNDER = os.environ.get("WIKIDB_TEST_INSTALLED_UNDER")
LIB_UNDER = os.environ.get("WIKIDB_TEST_LIBRARY_UNDER")


def compile_fake_library(tmp, version, functions):
    """A shared object exporting `functions` (doing nothing useful) whose
    wikidb_version says `version`; None when no C compiler is at hand."""
    cc = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if not cc:
        return None
    lines = ['const char *wikidb_version(void) { return "%s"; }' % version,
             'const char *wikidb_last_error(void) { return ""; }',
             'void *wikidb_open(const char *r) { (void)r; static int h; return &h; }',
             'void wikidb_close(void *h) { (void)h; }']
    lines += ["int %s(void) { return -1; }" % f for f in functions
              if f not in ("wikidb_version", "wikidb_last_error", "wikidb_open", "wikidb_close")]
    src = os.path.join(tmp, "fake.c")
    with open(src, "w") as f:
        f.write("\n".join(lines) + "\n")
    out = os.path.join(tmp, "libfake-%s.so" % version)
    subprocess.run([cc, "-shared", "-fPIC", "-o", out, src], check=True)
    return out


CORE = sorted(wikidb._native.CORE)


class Installation(unittest.TestCase):
    @unittest.skipUnless(HERE_UNDER, "not run against an installed copy (WIKIDB_TEST_INSTALLED_UNDER)")
    def test_the_installed_package_is_the_one_imported(self):
        here = os.path.realpath(os.path.dirname(wikidb.__file__))
        self.assertTrue(here.startswith(os.path.realpath(HERE_UNDER) + os.sep), here)
        self.assertTrue(os.path.isfile(os.path.join(here, "py.typed")))

    @unittest.skipUnless(LIB_UNDER, "the library is not installed beside the package here")
    def test_the_library_beside_the_package_is_found_by_itself(self):
        self.assertNotIn("WIKIDB_LIBRARY", os.environ)
        lib = wikidb.load_library()
        self.assertTrue(os.path.realpath(lib.path).startswith(os.path.realpath(LIB_UNDER) + os.sep),
                        lib.path)
        with tempfile.TemporaryDirectory() as tmp, wikidb.Wiki(tmp) as w:
            w.save_page("Home", "x")
            self.assertEqual(w.get_page("Home"), "x")

    def test_versions(self):
        self.assertRegex(wikidb.__version__, r"^\d+\.\d+\.\d+$")
        self.assertEqual(wikidb._native.parse_version(wikidb.version())[0], wikidb.API_MAJOR)


class Lookup(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikidb-pkg-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def fake(self, version, functions=CORE):
        path = compile_fake_library(self.tmp, version, functions)
        if path is None:
            self.skipTest("no C compiler to build a stand-in library")
        return path

    def run_python(self, code, **env):
        full = dict(os.environ)
        for k, v in env.items():
            if v is None:
                full.pop(k, None)
            else:
                full[k] = v
        return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True,
                              text=True, cwd=self.tmp)

    def test_a_library_of_another_major_version_is_refused_clearly(self):
        path = self.fake("2.0.0")
        with self.assertRaises(wikidb.LibraryError) as ctx:
            wikidb.load_library(path)
        message = str(ctx.exception)
        for part in (path, "2.0.0", "1.x"):
            self.assertIn(part, message)
        # Through the environment too, without falling back to another library.
        out = self.run_python("import wikidb\ntry:\n    wikidb.version()\n"
                              "except wikidb.LibraryError as e:\n    print('refused:', e)\n",
                              WIKIDB_LIBRARY=path)
        self.assertIn("refused:", out.stdout)
        self.assertIn("2.0.0", out.stdout)

    def test_a_library_that_is_not_this_one_is_refused(self):
        path = self.fake("1.0.0", CORE[:3])
        with self.assertRaises(wikidb.LibraryError) as ctx:
            wikidb.load_library(path)
        self.assertIn("is not the quenlow-wikidb library", str(ctx.exception))

    def test_an_explicit_path_comes_before_the_environment(self):
        real = wikidb.load_library().path
        code = "import wikidb\nprint(wikidb.load_library(%r).path)\n" % real
        out = self.run_python(code, WIKIDB_LIBRARY="/nonexistent/lib.so")
        self.assertEqual(out.stdout.strip(), real, out.stderr)
        # Without the explicit path, the environment's choice is final.
        out = self.run_python("import wikidb\ntry:\n    wikidb.load_library()\n"
                              "except wikidb.LibraryError as e:\n    print(e)\n",
                              WIKIDB_LIBRARY="/nonexistent/lib.so")
        self.assertIn("/nonexistent/lib.so", out.stdout)

    def test_functions_the_library_lacks_raise_unsupported_and_the_rest_work(self):
        path = self.fake("1.0.7")
        lib = wikidb.load_library(path)
        self.assertFalse(lib.has("wikidb_search_json"))
        self.assertTrue(lib.has("wikidb_get_page"))
        wiki = wikidb.Wiki(self.tmp, library=path)
        self.assertFalse(wiki.supports("wikidb_save_page_if"))
        calls = [lambda: wiki.search("x"), lambda: wiki.page_revision("A"),
                 lambda: wiki.save_page_if("A", "x", ""), lambda: wiki.rename_page("A", "B"),
                 lambda: list(wiki.iter_history("A")), lambda: wiki.deleted_pages(),
                 lambda: wiki.blame("A"), lambda: wiki.transaction().begin()]
        for call in calls:
            with self.assertRaises(wikidb.Unsupported) as ctx:
                call()
            self.assertIn("1.0.7", str(ctx.exception))
            self.assertTrue(ctx.exception.function.startswith("wikidb_"))
            self.assertIsInstance(ctx.exception, NotImplementedError)
        # A failed transaction start leaves the process lock free.
        self.assertTrue(wikidb._native.lock.acquire(blocking=False))
        wikidb._native.lock.release()


class Exceptions(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikidb-exc-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.wiki = wikidb.Wiki(os.path.join(self.tmp, "w"))
        self.addCleanup(self.wiki.close)

    def test_the_hierarchy_from_real_failures(self):
        with self.assertRaises(LookupError) as ctx:
            self.wiki.get_page("Missing")
        self.assertIsInstance(ctx.exception, wikidb.NotFound)
        self.assertEqual(ctx.exception.message, "Page not found: Missing")
        for bad in ("", "a/../b", "x/.git/y", "/lead"):
            with self.assertRaises(ValueError, msg=bad) as ctx:
                self.wiki.save_page(bad, "x")
            self.assertIsInstance(ctx.exception, wikidb.InvalidTitle)
        self.wiki.save_page("Home", "x")
        with self.assertRaises(wikidb.NotFound):
            self.wiki.get_revision("Home", "0123456789abcdef0123456789abcdef01234567")
        for cls in (wikidb.NotFound, wikidb.InvalidTitle, wikidb.Conflict, wikidb.Busy,
                    wikidb.Unsupported):
            self.assertTrue(issubclass(cls, wikidb.WikiError), cls)

    def test_a_wiki_held_by_another_git_is_busy(self):
        # git leaves index.lock while it works; the library waits a few
        # seconds for it, then gives up: that must read as Busy.
        self.wiki.save_page("Home", "x")
        open(os.path.join(self.tmp, "w", ".git", "index.lock"), "w").close()
        with self.assertRaises(wikidb.Busy) as ctx:
            self.wiki.save_page("Home", "y")
        self.assertIn("index.lock", ctx.exception.message)

    def test_conflict_carries_the_parsed_report(self):
        report = ('{"merged":false,"conflicts":[{"page":"A","expected":"r1","current":"r2",'
                  '"merged_text":"m","clean":true}]}')
        exc = wikidb.Conflict("Conflict", report)
        self.assertEqual(exc.report_json, report)
        self.assertEqual(exc.conflict_for("A")["current"], "r2")
        self.assertIsNone(exc.conflict_for("B"))
        self.assertEqual(wikidb.Conflict("x", "not json").conflicts, [])

    def test_messages_sorted_into_classes(self):
        cases = {"Page not found: A": wikidb.NotFound, "Invalid title": wikidb.InvalidTitle,
                 "git command failed (exit code 128): fatal: Unable to create "
                 "'/w/.git/index.lock': File exists.": wikidb.Busy,
                 "git command failed (exit code 128): fatal: bad revision 'x'": wikidb.NotFound,
                 "Failed to write content to: /w/pages/A.wiki": wikidb.WikiError}
        for message, cls in cases.items():
            exc = errors.error_for(message)
            self.assertIs(type(exc), cls, message)
            self.assertEqual(exc.message, message)


class Threads(unittest.TestCase):
    def test_every_call_waits_for_the_process_lock(self):
        # The library keeps one error message for the process, so a call and
        # the reading of its message must not interleave with another
        # thread's call: each call holds the process-wide lock. Held here, it
        # must keep another thread's calls (failing and succeeding) waiting.
        with tempfile.TemporaryDirectory() as tmp, wikidb.Wiki(tmp) as w:
            w.save_page("P", "text")
            results = []

            def worker():
                try:
                    w.get_page("Missing")
                except wikidb.NotFound as e:
                    results.append(e.message)
                results.append(w.get_page("P"))

            lock = wikidb._native.lock
            with lock:
                t = threading.Thread(target=worker)
                t.start()
                t.join(0.5)
                self.assertTrue(t.is_alive(), "a call ran while another thread held the lock")
                self.assertEqual(results, [])
            t.join(120)  # a bound against a hang only: the calls take milliseconds
            self.assertFalse(t.is_alive())
            self.assertEqual(results, ["Page not found: Missing", "text"])

    def test_threads_on_separate_wikis_keep_their_results(self):
        with tempfile.TemporaryDirectory() as tmp:
            wikis = [wikidb.Wiki(os.path.join(tmp, str(i))) for i in range(3)]
            problems = []

            def work(i, w):
                for n in range(5):
                    w.save_page("P", "wiki %d round %d" % (i, n))
                    if w.get_page("P") != "wiki %d round %d" % (i, n):
                        problems.append((i, n))
                    try:
                        w.get_page("Missing %d" % i)
                    except wikidb.NotFound as e:
                        if e.message != "Page not found: Missing %d" % i:
                            problems.append(e.message)

            threads = [threading.Thread(target=work, args=(i, w)) for i, w in enumerate(wikis)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for w in wikis:
                w.close()
            self.assertEqual(problems, [])


class Paging(unittest.TestCase):
    def test_a_cursor_that_comes_back_stops_the_iteration(self):
        calls = []

        def fetch(cursor):
            calls.append(cursor)
            if len(calls) > 5:
                raise AssertionError("the iteration did not stop")
            return {"entries": [{"n": len(calls)}], "next": "same"}

        with self.assertRaises(wikidb.WikiError):
            list(wikidb._wiki._paged(fetch))
        self.assertEqual(calls, [None, "same"])

    def test_pages_are_fetched_as_the_iteration_goes(self):
        pages = {None: {"entries": [1, 2], "next": "c1"}, "c1": {"entries": [3], "next": "c2"},
                 "c2": {"entries": [], "next": None}}
        asked = []

        def fetch(cursor):
            asked.append(cursor)
            return pages[cursor]

        it = wikidb._wiki._paged(fetch)
        self.assertEqual(next(it), 1)
        self.assertEqual(asked, [None])
        self.assertEqual(list(it), [2, 3])
        self.assertEqual(asked, [None, "c1", "c2"])


if __name__ == "__main__":
    unittest.main()
