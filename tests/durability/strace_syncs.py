#!/usr/bin/env python3
"""Proves with strace that a save, a delete and a rollback put their work on
the disk before they return: the page's temporary file is synced before it
is renamed over the page, the page's directory after that, and git syncs its
objects, index and branch reference (through the settings the library pins).

Run by CTest with WIKIDB_EXE naming the wikidb program; exits 77 (skipped)
when strace is missing or may not trace here.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
SYSCALLS = "fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat,link,linkat"
LINE = re.compile(r"^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+)")


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def traced(exe, root, args, stdin=b""):
    """Runs the program under strace; returns [(pid, call, args)] of the
    calls that succeeded, in order, and the program's own pid."""
    with tempfile.NamedTemporaryFile(suffix=".trace", delete=False) as t:
        out = t.name
    try:
        r = run(["strace", "-f", "-y", "-qq", "-e", "trace=" + SYSCALLS, "-o", out,
                 exe, "-C", root] + args, input=stdin)
        if r.returncode != 0:
            raise AssertionError("%s failed: %s" % (args, r.stderr.decode(errors="replace")))
        calls, first = [], None
        with open(out, errors="replace") as f:
            for line in f:
                m = LINE.match(line)
                if not m:
                    continue
                pid, call, rest, rc = int(m.group(1)), m.group(2), m.group(3), int(m.group(4))
                if first is None:
                    first = pid
                if rc >= 0:
                    calls.append((pid, call, rest))
        return calls
    finally:
        os.unlink(out)


def index_of(calls, pred, start=0, what=""):
    for i in range(start, len(calls)):
        if pred(calls[i]):
            return i
    raise AssertionError("not found: %s\n%s" % (what, "\n".join("%d %s(%s)" % c for c in calls)))


def is_sync(c):
    return c[1] in ("fsync", "fdatasync")


def check_git_synced(calls, what):
    """git synced a new object, the index and the branch reference before
    renaming them into place."""
    index_of(calls, lambda c: is_sync(c) and "/.git/objects/" in c[2], what=what + ": object sync")
    ref = index_of(calls, lambda c: is_sync(c) and re.search(r"/\.git/refs/heads/[^>]*\.lock>", c[2]),
                   what=what + ": branch reference sync")
    index_of(calls, lambda c: c[1].startswith("rename") and "refs/heads/" in c[2] and ".lock" in c[2],
             ref, what=what + ": reference renamed after its sync")
    idx = index_of(calls, lambda c: is_sync(c) and "/.git/index.lock>" in c[2],
                   what=what + ": index sync")
    index_of(calls, lambda c: c[1].startswith("rename") and "index.lock" in c[2], idx,
             what=what + ": index renamed after its sync")


def main():
    exe = os.environ.get("WIKIDB_EXE")
    if not exe or not os.path.exists(exe):
        print("WIKIDB_EXE does not name the wikidb program")
        return 1
    if not shutil.which("strace"):
        print("skipped: strace is not installed")
        return SKIP
    probe = run(["strace", "-f", "-qq", "-o", os.devnull, "true"])
    if probe.returncode != 0:
        print("skipped: strace may not trace here (ptrace not permitted): "
              + probe.stderr.decode(errors="replace").strip())
        return SKIP

    tmp = tempfile.mkdtemp(prefix="wikidb-durable-")
    try:
        root = os.path.join(tmp, "wiki")
        for cmd in (["init"], ["save", "a/b", "-m", "one"]):
            r = run([exe, "-C", root] + cmd, input=b"first\n")
            if r.returncode != 0:
                print("setup failed: %s" % r.stderr.decode(errors="replace"))
                return 1
        pagedir = os.path.join(root, "pages", "a")

        # Save: temporary file synced, renamed over the page, directory synced.
        calls = traced(exe, root, ["save", "a/b", "-m", "two"], b"second\n")
        me = calls[0][0] if calls else None
        tmp_sync = index_of(calls, lambda c: is_sync(c) and re.search(r"/pages/a/\.wikidb-[^/>]*\.tmp>", c[2]),
                            what="save: temporary file sync")
        ren = index_of(calls, lambda c: c[1].startswith("rename") and '"b.wiki"' in c[2] and ".wikidb-" in c[2],
                       tmp_sync, what="save: rename over the page after the sync")
        index_of(calls, lambda c: is_sync(c) and c[2].endswith("<%s>" % pagedir), ren,
                 what="save: page directory sync after the rename")
        check_git_synced(calls, "save")
        # All of the page's syncs are the library's own, before git commits.
        assert calls[tmp_sync][0] == calls[ren][0], "the rename is not the library's"

        # A new subdirectory: its name reaches the disk too.
        calls = traced(exe, root, ["save", "n/m/p", "-m", "new"], b"x\n")
        index_of(calls, lambda c: is_sync(c) and c[2].endswith("<%s>" % os.path.join(root, "pages", "n")),
                 what="save: parent of a new directory synced")

        # Rollback: the restored text is written as a save writes it (its
        # temporary file synced, renamed over the page, the directory synced)
        # before the commit, and git syncs the commit.
        first = run(["git", "-C", root, "rev-list", "--max-parents=0", "HEAD"]).stdout.decode().split()[0]
        calls = traced(exe, root, ["revert", "a/b", first])
        page_sync = index_of(calls, lambda c: is_sync(c) and re.search(r"/pages/a/\.wikidb-[^/>]*\.tmp>", c[2]),
                             what="rollback: page file sync")
        ren = index_of(calls, lambda c: c[1].startswith("rename") and '"b.wiki"' in c[2] and ".wikidb-" in c[2],
                       page_sync, what="rollback: rename over the page after the sync")
        dir_sync = index_of(calls, lambda c: is_sync(c) and c[2].endswith("<%s>" % pagedir), ren,
                            what="rollback: page directory sync after the rename")
        ref = index_of(calls, lambda c: is_sync(c) and "/.git/refs/heads/" in c[2], what="rollback: ref sync")
        assert dir_sync < ref, "rollback: page synced only after the commit"
        check_git_synced(calls, "rollback")

        # Delete: the directory that held the page is synced (or, when git
        # removed it as empty, the one that held it), and the commit.
        calls = traced(exe, root, ["rm", "a/b"])
        pages = os.path.join(root, "pages")
        index_of(calls, lambda c: is_sync(c) and (c[2].endswith("<%s>" % pagedir) or c[2].endswith("<%s>" % pages)),
                 what="delete: directory sync")
        assert not os.path.exists(os.path.join(pagedir, "b.wiki")), "delete: page still there"
        check_git_synced(calls, "delete")
        print("durable: save, new directory, rollback and delete all synced")
        return 0
    except AssertionError as e:
        print("FAILED: %s" % e)
        return 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
