"""The functions added in 1.1 through the package, against real wikis.

Each group skips, naming the C function, when the loaded library lacks it.
"""

import os
import shutil
import subprocess
import tempfile
import threading
import unittest

import wikidb


def git(root, *args):
    return subprocess.run(["git", "-C", root, *args], check=True, capture_output=True,
                          text=True).stdout


def needs(*names):
    missing = [n for n in names if not wikidb.supports(n)]
    return unittest.skipIf(missing, "the library %s lacks %s" % (wikidb.version(),
                                                                 ", ".join(missing)))


class WikiTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wikidb-new-")
        self.root = os.path.join(self.tmp, "wiki")
        self.wiki = wikidb.Wiki(self.root)
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.addCleanup(self.wiki.close)

    def head(self):
        return git(self.root, "rev-parse", "HEAD").strip()

    def commit_count(self):
        return int(git(self.root, "rev-list", "--count", "HEAD").strip())


@needs("wikidb_page_revision", "wikidb_save_page_if", "wikidb_last_commit",
       "wikidb_conflict_json")
class ConditionalSave(WikiTest):
    def test_revision_token_round(self):
        w = self.wiki
        self.assertEqual(w.page_revision("Home"), "")
        made = w.save_page_if("Home", "one\n", "", author="Ann")
        self.assertEqual(made, self.head())
        self.assertEqual(w.page_revision("Home"), made)
        self.assertEqual(w.last_commit(), made)
        second = w.save_page_if("Home", "one\ntwo\n", made)
        self.assertEqual(w.page_revision("Home"), second)
        self.assertEqual(w.get_page("Home"), "one\ntwo\n")
        # Another page's change is not a conflict for this one.
        w.save_page("Other", "x")
        w.save_page_if("Home", "one\ntwo\nthree\n", second)
        self.assertEqual(w.get_page("Home"), "one\ntwo\nthree\n")
        # The old writes tell their commit too; an unchanged save made none.
        self.assertEqual(w.save_page("Other", "y"), self.head())
        self.assertEqual(w.save_page("Other", "y"), "")

    def test_a_stale_save_writes_nothing_and_reports_the_merge(self):
        w = self.wiki
        base = w.save_page_if("Home", "a\nb\nc\n", "")
        theirs = w.save_page_if("Home", "A\nb\nc\n", base, author="Bob")
        count = self.commit_count()
        with self.assertRaises(wikidb.Conflict) as ctx:
            w.save_page_if("Home", "a\nb\nC\n", base, author="Ann")
        self.assertEqual((self.commit_count(), w.get_page("Home")), (count, "A\nb\nc\n"))
        entry = ctx.exception.conflict_for("Home")
        self.assertIsNotNone(entry, ctx.exception.report_json)
        self.assertEqual((entry["expected"], entry["current"]), (base, theirs))
        self.assertEqual(entry.get("merged_text"), "A\nb\nC\n")
        self.assertTrue(entry.get("clean"))
        # "" means "must not exist": refused for an existing page.
        with self.assertRaises(wikidb.Conflict):
            w.save_page_if("Home", "new", "")
        self.assertEqual(w.get_page("Home"), "A\nb\nc\n")

    def test_merge_flag_commits_edits_that_do_not_overlap(self):
        w = self.wiki
        base = w.save_page_if("Home", "a\nb\nc\n", "")
        w.save_page_if("Home", "A\nb\nc\n", base)
        w.save_page_if("Home", "a\nb\nC\n", base, merge=True)
        self.assertEqual(w.get_page("Home"), "A\nb\nC\n")
        self.assertTrue(w.conflict_report().get("merged"))
        # Overlapping edits still conflict, merge or not, and nothing is written.
        current = w.page_revision("Home")
        with self.assertRaises(wikidb.Conflict) as ctx:
            w.save_page_if("Home", "X\nb\nC\n", base, merge=True)
        self.assertEqual(w.page_revision("Home"), current)
        entry = ctx.exception.conflict_for("Home")
        self.assertFalse(entry.get("clean"))
        self.assertIn("<<<<<<<", entry.get("merged_text", ""))


@needs("wikidb_rename_page", "wikidb_history_page_json")
class Rename(WikiTest):
    def test_rename_keeps_text_and_history(self):
        w = self.wiki
        w.save_page("Old/Name", "v1\n")
        w.save_page("Old/Name", "v2\n")
        made = w.rename_page("Old/Name", "New name?#%", author="Ann")
        self.assertEqual(made, self.head())
        self.assertEqual(w.get_page("New name?#%"), "v2\n")
        with self.assertRaises(wikidb.NotFound):
            w.get_page("Old/Name")
        hashes = [e["hash"] for e in w.iter_history("New name?#%", page_size=1)]
        self.assertEqual(len(hashes), 3, hashes)
        self.assertEqual(hashes[0], made)

    def test_rename_is_refused_onto_an_existing_page_or_from_a_missing_one(self):
        w = self.wiki
        w.save_page("A", "a")
        w.save_page("B", "b")
        count = self.commit_count()
        with self.assertRaises(wikidb.WikiError):
            w.rename_page("A", "B")
        with self.assertRaises(wikidb.WikiError):
            w.rename_page("Missing", "C")
        with self.assertRaises(wikidb.InvalidTitle):
            w.rename_page("A", "../x")
        self.assertEqual((w.get_page("A"), w.get_page("B"), self.commit_count()), ("a", "b", count))


@needs("wikidb_begin", "wikidb_stage_save", "wikidb_stage_delete", "wikidb_stage_rename",
       "wikidb_commit", "wikidb_commit_as", "wikidb_abort", "wikidb_page_revision")
class Transactions(WikiTest):
    def test_a_batch_is_one_commit(self):
        w = self.wiki
        w.save_page("Gone", "g")
        w.save_page("Moved", "m")
        count = self.commit_count()
        with w.transaction(author="Ann <ann@example.org>", message="Tidy") as t:
            t.save("A", "a")
            t.save("B", "b", expected_revision="")
            t.delete("Gone")
            t.rename("Moved", "Here")
        self.assertEqual(self.commit_count(), count + 1)
        self.assertEqual(t.commit_hash, self.head())
        self.assertEqual(sorted(w.list_pages()), ["A", "B", "Here"])
        self.assertEqual(git(self.root, "log", "-1", "--format=%an|%s").strip(), "Ann|Tidy")

    def test_an_exception_aborts_and_frees_the_lock(self):
        w = self.wiki
        w.save_page("A", "a")
        count = self.commit_count()
        with self.assertRaises(KeyError):
            with w.transaction() as t:
                t.save("A", "changed")
                t.save("B", "b")
                raise KeyError("stop")
        self.assertEqual((w.get_page("A"), w.list_pages(), self.commit_count()),
                         ("a", ["A"], count))
        # Another thread can use the library again.
        out = []
        th = threading.Thread(target=lambda: out.append(w.get_page("A")))
        th.start()
        th.join(120)  # a bound against a hang only
        self.assertEqual(out, ["a"])
        # And the handle takes a new batch.
        with w.transaction() as t:
            t.save("C", "c")
        self.assertEqual(w.get_page("C"), "c")

    def test_a_stale_page_commits_nothing_and_every_stale_page_is_listed(self):
        w = self.wiki
        w.save_page("A", "a")
        w.save_page("B", "b")
        rev_a, rev_b = w.page_revision("A"), w.page_revision("B")
        w.save_page("A", "a2")
        w.save_page("B", "b2")
        count = self.commit_count()
        with self.assertRaises(wikidb.Conflict) as ctx:
            with w.transaction() as t:
                t.save("A", "mine", expected_revision=rev_a)
                t.save("B", "mine", expected_revision=rev_b)
                t.save("C", "new")
        pages = sorted(c["page"] for c in ctx.exception.conflicts)
        self.assertEqual(pages, ["A", "B"])
        self.assertEqual((w.get_page("A"), w.get_page("B"), self.commit_count()),
                         ("a2", "b2", count))
        self.assertNotIn("C", w.list_pages())

    def test_an_import_keeps_identities_and_dates(self):
        with self.wiki.transaction(author="Old Author <old@example.org>",
                                   author_date="@1000000000 +0000",
                                   committer="Importer <imp@example.org>",
                                   committer_date="@1100000000 +0000",
                                   message="Imported") as t:
            t.save("Page", "text")
        line = git(self.root, "log", "-1", "--format=%an|%ae|%at|%cn|%ct").strip()
        self.assertEqual(line, "Old Author|old@example.org|1000000000|Importer|1100000000")


@needs("wikidb_history_page_json", "wikidb_recent_page_json")
class PagedReads(WikiTest):
    def make_commits(self, n):
        for i in range(n):
            self.wiki.save_page("P", "version %d\n" % i, author="Author %d" % (i % 2))

    def test_iterators_page_through_everything_in_order(self):
        self.make_commits(7)
        expected = [c["hash"] for c in self.wiki.get_history("P")]
        first = self.wiki.history_page("P", limit=3)
        self.assertEqual(len(first["entries"]), 3)
        self.assertTrue(first["next"])
        self.assertEqual([e["hash"] for e in self.wiki.iter_history("P", page_size=3)], expected)
        self.assertEqual([e["hash"] for e in self.wiki.iter_history(page_size=2)],
                         [c["hash"] for c in self.wiki.get_history()])
        recent = [e["hash"] for e in self.wiki.iter_recent(page_size=3)]
        self.assertEqual(recent, expected)

    def test_new_commits_during_iteration_do_not_shift_it(self):
        self.make_commits(6)
        expected = [c["hash"] for c in self.wiki.get_history("P")]
        seen = []
        for i, entry in enumerate(self.wiki.iter_history("P", page_size=2)):
            seen.append(entry["hash"])
            if i == 1:
                self.wiki.save_page("P", "meanwhile\n")
        self.assertEqual(seen, expected)

    def test_filters(self):
        self.make_commits(4)
        authors = {e["author"] for e in self.wiki.iter_history("P", author="Author 1")}
        self.assertEqual(authors, {"Author 1"})
        self.assertEqual(list(self.wiki.iter_history("P", since="2090-01-01")), [])


@needs("wikidb_search_json")
class Search(WikiTest):
    def test_words_any_order_any_case_utf8(self):
        w = self.wiki
        w.save_page("Café", "Grüße aus MÜNCHEN\nnothing here\n")
        w.save_page("Other", "münchen only\n")
        hits = w.search("münchen grüße")["hits"]
        self.assertEqual([(h["page"], h["line"]) for h in hits], [("Café", 1)])
        self.assertEqual({h["page"] for h in w.search("München")["hits"]}, {"Café", "Other"})
        self.assertEqual(w.search("München", case_sensitive=True)["hits"], [])

    def test_queries_are_literal_and_never_options(self):
        w = self.wiki
        w.save_page("A", "abc\n-O\n")
        self.assertEqual(w.search("a.c")["hits"], [])
        self.assertEqual(len(w.search("a.c", regex=True)["hits"]), 1)
        self.assertEqual([h["line"] for h in w.search("-O")["hits"]], [2])

    def test_limit_truncates(self):
        for i in range(5):
            self.wiki.save_page("P%d" % i, "word\n")
        result = self.wiki.search("word", limit=2)
        self.assertEqual(len(result["hits"]), 2)
        self.assertTrue(result["truncated"])


@needs("wikidb_deleted_pages_json", "wikidb_blame_json")
class DeletedAndBlame(WikiTest):
    def test_a_deleted_page_comes_back_from_its_restore_revision(self):
        w = self.wiki
        w.save_page("Gone", "kept text\n")
        w.save_page("Stays", "s")
        w.delete_page("Gone")
        deleted = w.deleted_pages()
        self.assertEqual([d["page"] for d in deleted], ["Gone"])
        self.assertEqual(deleted[0]["deleted_in"], self.head())
        w.rollback("Gone", deleted[0]["restore_from"])
        self.assertEqual(w.get_page("Gone"), "kept text\n")
        self.assertEqual(w.deleted_pages(), [])

    def test_blame_names_the_commit_of_each_line(self):
        w = self.wiki
        w.save_page("P", "one\n", author="Ann")
        first = self.head()
        w.save_page("P", "one\ntwo\n", author="Bob")
        second = self.head()
        lines = w.blame("P")
        self.assertEqual([(l["hash"], l["author"], l["text"].rstrip("\n")) for l in lines],
                         [(first, "Ann", "one"), (second, "Bob", "two")])
        self.assertEqual(len(w.blame("P", first)), 1)
        with self.assertRaises(wikidb.WikiError):
            w.blame("Missing")


@needs("wikidb_remote_set", "wikidb_sync", "wikidb_sync_report", "wikidb_sync_resolve",
       "wikidb_sync_config")
class Sync(WikiTest):
    def setUp(self):
        super().setUp()
        self.central = os.path.join(self.tmp, "central.git")
        git(self.tmp, "init", "-q", "--bare", self.central)
        self.wiki.remote_set("origin", self.central, "main")
        self.other = wikidb.Wiki(os.path.join(self.tmp, "other"))
        self.addCleanup(self.other.close)
        self.other.remote_set("origin", "file://" + self.central, "main")

    def test_reports_conflict_and_resolution_round(self):
        w, o = self.wiki, self.other
        self.assertIsNone(w.sync_report())
        w.save_page("Home", "one\ntwo\n", author="Ann <ann@example.org>")
        self.assertEqual(w.sync()["state"], "pushed")
        report = o.sync()
        self.assertEqual((report["state"], report["pages_changed"]), ("fast_forward", ["Home"]))
        self.assertEqual(o.get_page("Home"), "one\ntwo\n")

        w.save_page("Home", "one\nMINE\n")
        o.save_page("Home", "one\nTHEIRS\n", author="Bob <bob@example.org>")
        o.sync()
        head = self.head()
        with self.assertRaises(wikidb.Conflict) as caught:
            w.sync()
        self.assertEqual(caught.exception.report["state"], "conflict")
        entry = caught.exception.conflict_for("Home")
        self.assertEqual((entry["ours_text"], entry["theirs_text"]),
                         ("one\nMINE\n", "one\nTHEIRS\n"))
        self.assertIn("Home", str(caught.exception))
        self.assertEqual(w.sync_report()["state"], "conflict")
        # Nothing changed here: no merge state, no markers in the page.
        self.assertEqual(self.head(), head)
        self.assertEqual(w.get_page("Home"), "one\nMINE\n")
        self.assertFalse(os.path.exists(os.path.join(self.root, ".git", "MERGE_HEAD")))

        made = w.sync_resolve("Home", "one\nMINE\nTHEIRS\n", author="Ann <ann@example.org>")
        self.assertEqual(made, self.head())
        self.assertEqual(w.sync()["state"], "merged")
        self.assertEqual(o.sync()["state"], "fast_forward")
        self.assertEqual(o.get_page("Home"), "one\nMINE\nTHEIRS\n")
        # Both authors kept in the history of the merged result.
        authors = set(git(self.root, "log", "--full-history", "--format=%an", "--",
                          "pages/Home.wiki").split("\n"))
        self.assertTrue({"Ann", "Bob"} <= authors, authors)

    def test_modes_and_refusals(self):
        w = self.wiki
        w.save_page("A", "a")
        self.assertEqual(w.sync(pull_only=True)["state"], "up_to_date")
        self.assertEqual(w.sync(push_only=True)["state"], "pushed")
        with self.assertRaises(wikidb.WikiError) as caught:
            w.sync(pull_only=True, push_only=True)
        self.assertEqual(caught.exception.message, "Invalid flags")
        with self.assertRaises(wikidb.WikiError) as caught:
            w.sync("nosuch")
        self.assertEqual(caught.exception.message, "Unknown remote: nosuch")
        with self.assertRaises(wikidb.WikiError) as caught:
            w.remote_set("evil", "-oProxyCommand=touch x")
        self.assertTrue(caught.exception.message.startswith("Invalid remote URL"))
        w.remote_set("ext", "ext::sh -c true")
        with self.assertRaises(wikidb.WikiError) as caught:
            w.sync("ext")
        self.assertTrue(caught.exception.message.startswith(
            "Remote URL names a transport that may run commands"))
        with self.assertRaises(wikidb.WikiError) as caught:
            w.sync_config("protocol.ext.allow", "always")
        self.assertEqual(caught.exception.message, "Invalid setting")
        w.sync_config("http.lowSpeedTime", "30")
        with self.assertRaises(wikidb.WikiError):
            w.sync_resolve("A", "x")


if __name__ == "__main__":
    unittest.main()
