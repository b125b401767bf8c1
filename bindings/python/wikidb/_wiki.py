"""The Wiki class: one open wiki and every operation on it."""

from __future__ import annotations

import json
import os
from typing import Any, Dict, Iterator, List, Optional, Union

from . import _native
from .errors import Conflict, Unsupported, WikiError, error_for

Text = Union[str, bytes, bytearray, memoryview]
PathArg = Union[str, bytes, "os.PathLike[str]"]

_ENCODING = "utf-8"
_ERRORS = "surrogateescape"

# Flags of the C API, under Python names.
CONFLICT = 1
MERGE = 1
FOLLOW = 1
SEARCH_WORDS = 1
SEARCH_TITLES = 2
SEARCH_REGEX = 4
SEARCH_CASE = 8
SYNC_PULL_ONLY = 1
SYNC_PUSH_ONLY = 2
SYNC_ALLOW_UNRELATED = 4
SYNC_ALLOW_COMMANDS = 8


def _arg(value: Any, what: str) -> Optional[bytes]:
    """str, bytes or a path in; NUL-free bytes (or None) out."""
    if value is None:
        return None
    if isinstance(value, str):
        data = value.encode(_ENCODING, _ERRORS)
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    elif isinstance(value, os.PathLike):
        data = os.fsencode(value)
    else:
        raise TypeError("%s must be str or bytes, not %s" % (what, type(value).__name__))
    if b"\0" in data:
        raise ValueError("%s holds a NUL byte, where the library would cut it" % what)
    return data


def _int(value: Any, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int" % what)
    if not -2**31 <= value < 2**31:
        raise ValueError("%s out of range for a C int" % what)
    return value


def _text(data: Optional[bytes], as_bytes: bool = False) -> Any:
    if data is None:
        data = b""
    return data if as_bytes else data.decode(_ENCODING, _ERRORS)


def version(library: Optional[PathArg] = None) -> str:
    """The loaded library's version, e.g. "1.1.0"."""
    return _native.load(library).version


def last_error(library: Optional[PathArg] = None) -> str:
    """The message of the latest failure in this process ("" if none)."""
    lib = _native.load(library)
    with _native.lock:
        return _text(lib.cdll.wikidb_last_error())


def supports(name: str, library: Optional[PathArg] = None) -> bool:
    """Whether the loaded library exports the C function `name`
    (e.g. "wikidb_search_json"): newer functions light up when it does."""
    return _native.load(library).has(name)


class Wiki:
    """An open wiki; a context manager that closes the handle on exit.

    Opening creates the root, its pages and meta directories and a git
    repository when they are missing. Text arguments may be str (encoded
    as UTF-8) or bytes and must not hold a NUL byte (ValueError). Texts come
    back as str (undecodable bytes kept as surrogate escapes, so they
    round-trip) or, with as_bytes=True, as bytes; JSON reports come back
    parsed. Results are ordinary Python objects: nothing needs freeing and
    nothing changes under a caller when the wiki is used again.

    Any thread may use a Wiki: calls into the library are serialised
    process-wide, because its error message is shared by all handles.
    """

    def __init__(self, root: PathArg, library: Optional[PathArg] = None) -> None:
        self._lib = _native.load(library)
        self._handle: Optional[int] = None
        root_arg = _arg(root, "root")
        with _native.lock:
            handle = self._lib.cdll.wikidb_open(root_arg)
            if not handle:
                raise error_for(self._message())
            # The open succeeds even when a repository setting could not be
            # written; that message stays readable here.
            self.open_warning = self._message()
        self._handle = handle
        self._batch: Optional["Transaction"] = None
        self.root = root

    # -- lifecycle ---------------------------------------------------------

    def close(self) -> None:
        """Releases the handle; further calls raise ValueError. Idempotent."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            with _native.lock:
                self._lib.cdll.wikidb_close(handle)

    @property
    def closed(self) -> bool:
        return self._handle is None

    @property
    def library(self) -> "_native.Library":
        """The loaded library (.path, .version, .has(name))."""
        return self._lib

    def supports(self, name: str) -> bool:
        """Whether the library exports the C function `name`."""
        return self._lib.has(name)

    def __enter__(self) -> "Wiki":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown may have torn ctypes down
            pass

    def __repr__(self) -> str:
        return "<wikidb.Wiki %r%s>" % (self.root, " closed" if self.closed else "")

    # -- plumbing ----------------------------------------------------------

    def _h(self) -> int:
        if self._handle is None:
            raise ValueError("operation on a closed wiki")
        return self._handle

    def _fn(self, name: str) -> Any:
        fn = self._lib.functions.get(name)
        if fn is None:
            raise Unsupported("%s is not in the quenlow-wikidb library %s at %s; it needs "
                              "version 1.1 or later" % (name, self._lib.version, self._lib.path),
                              name)
        return fn

    def _message(self) -> str:
        return _text(self._lib.cdll.wikidb_last_error())

    def _commit_made(self) -> Optional[str]:
        fn = self._lib.functions.get("wikidb_last_commit")
        return _text(fn(self._h())) if fn else None

    def _conflict(self) -> Conflict:
        fn = self._lib.functions.get("wikidb_conflict_json")
        report = _text(fn(self._h())) if fn else ""
        exc = Conflict(self._message(), report)
        if not exc.message:
            pages = ", ".join("%s (now at %s)" % (c.get("page"), c.get("current") or "deleted")
                              for c in exc.conflicts if isinstance(c, dict))
            exc.message = "Conflict: changed since the expected revision: " + (pages or "?")
            exc.args = (exc.message,)
        return exc

    def _write(self, name: str, *args: Any) -> Optional[str]:
        """Runs a write; returns the commit it made ("" none) when the
        library can tell, else None."""
        fn = self._fn(name)
        with _native.lock:
            rc = fn(self._h(), *args)
            if rc == CONFLICT:
                raise self._conflict()
            if rc != 0:
                raise error_for(self._message())
            return self._commit_made()

    def _query(self, name: str, *args: Any, as_bytes: bool = False) -> Any:
        fn = self._fn(name)
        with _native.lock:
            result = fn(self._h(), *args)
            if result is None:
                raise error_for(self._message())
            return _text(result, as_bytes)

    def _json(self, name: str, *args: Any) -> Any:
        return json.loads(self._query(name, *args))

    # -- pages -------------------------------------------------------------

    def save_page(self, title: Text, content: Optional[Text] = None,
                  author: Optional[Text] = None, message: Optional[Text] = None) -> Optional[str]:
        """Writes the page and commits it, whatever changed meanwhile. None
        content saves an empty page. Returns the commit made ("" when the
        text was unchanged) with a 1.1 library, None with an older one."""
        return self._write("wikidb_save_page", _arg(title, "title"), _arg(content, "content"),
                           _arg(author, "author"), _arg(message, "message"))

    def save_page_if(self, title: Text, content: Optional[Text],
                     expected_revision: Optional[Text], author: Optional[Text] = None,
                     message: Optional[Text] = None, merge: bool = False) -> str:
        """Saves only if the page is still at expected_revision (None: no
        condition; "": the page must not exist). Raises Conflict, carrying
        the report with the three-way merge, when it is not and nothing was
        written. With merge=True edits that do not overlap are merged and
        committed (conflict_report() then tells). Returns the commit made."""
        commit = self._write("wikidb_save_page_if", _arg(title, "title"),
                             _arg(content, "content"), _arg(author, "author"),
                             _arg(message, "message"),
                             _arg(expected_revision, "expected_revision"), MERGE if merge else 0)
        return commit or ""

    def page_revision(self, title: Text) -> str:
        """The hash of the last commit that changed the page: the token an
        editor keeps while the user edits. "" when the page never existed
        or is deleted."""
        return self._query("wikidb_page_revision", _arg(title, "title"))

    def get_page(self, title: Text, as_bytes: bool = False) -> Any:
        """The page's current text; NotFound when it does not exist."""
        return self._query("wikidb_get_page", _arg(title, "title"), as_bytes=as_bytes)

    def delete_page(self, title: Text, author: Optional[Text] = None,
                    message: Optional[Text] = None) -> Optional[str]:
        """Removes the page and commits the removal."""
        return self._write("wikidb_delete_page", _arg(title, "title"), _arg(author, "author"),
                           _arg(message, "message"))

    def rename_page(self, old: Text, new: Text, author: Optional[Text] = None,
                    message: Optional[Text] = None) -> str:
        """Renames a page in one commit that records the rename, so its
        history follows. Refused when `new` exists or `old` does not."""
        return self._write("wikidb_rename_page", _arg(old, "old title"), _arg(new, "new title"),
                           _arg(author, "author"), _arg(message, "message")) or ""

    def last_commit(self) -> str:
        """The commit made by the latest write on this wiki ("" none)."""
        return self._query("wikidb_last_commit")

    def conflict_report(self) -> Dict[str, Any]:
        """The report of the latest conflict or merge on this wiki."""
        return json.loads(self._query("wikidb_conflict_json") or "{}")

    # -- revisions ---------------------------------------------------------

    def get_revision(self, title: Text, commit: Text, as_bytes: bool = False) -> Any:
        """The page's text at a commit (a hash from the history, or any
        revision git accepts)."""
        return self._query("wikidb_get_revision", _arg(title, "title"), _arg(commit, "commit"),
                           as_bytes=as_bytes)

    def get_diff(self, title: Text, from_commit: Text, to_commit: Text,
                 as_bytes: bool = False) -> Any:
        """git's unified diff of the page between two commits ("" when the
        same). The library passes git's complaint about an unknown commit
        back as the text; it is returned as it is."""
        fn = self._fn("wikidb_get_diff")
        with _native.lock:
            result = fn(self._h(), _arg(title, "title"), _arg(from_commit, "from_commit"),
                        _arg(to_commit, "to_commit"))
            message = self._message()
            if message:
                raise error_for(message)
            return _text(result, as_bytes)

    def rollback(self, title: Text, commit: Text, author: Optional[Text] = None) -> Optional[str]:
        """Commits the page's text of `commit` as its current text (also
        brings back a deleted page from a revision that had it)."""
        return self._write("wikidb_rollback", _arg(title, "title"), _arg(commit, "commit"),
                           _arg(author, "author"))

    # -- whole reports -------------------------------------------------------

    def list_pages_json(self, prefix: Optional[Text] = None, as_bytes: bool = False) -> Any:
        return self._query("wikidb_list_pages_json", _arg(prefix, "prefix"), as_bytes=as_bytes)

    def get_history_json(self, title: Optional[Text] = None, as_bytes: bool = False) -> Any:
        return self._query("wikidb_get_history_json", _arg(title, "title"), as_bytes=as_bytes)

    def get_recent_changes_json(self, limit: int = 0, as_bytes: bool = False) -> Any:
        return self._query("wikidb_get_recent_changes_json", _int(limit, "limit"),
                           as_bytes=as_bytes)

    def list_pages(self, prefix: Optional[Text] = None) -> List[str]:
        """Page names, in git's order."""
        return json.loads(self.list_pages_json(prefix))

    def get_history(self, title: Optional[Text] = None) -> List[Dict[str, Any]]:
        """Every commit touching the page (or the wiki), newest first."""
        return json.loads(self.get_history_json(title))

    def get_recent_changes(self, limit: int = 0) -> List[Dict[str, Any]]:
        """Page changes of the latest `limit` commits (0: 50), newest first."""
        return json.loads(self.get_recent_changes_json(limit))

    # -- paged reads and search ----------------------------------------------

    def history_page(self, title: Optional[Text] = None, cursor: Optional[str] = None,
                     limit: int = 0, author: Optional[Text] = None,
                     since: Optional[Text] = None, until: Optional[Text] = None,
                     follow: bool = True) -> Dict[str, Any]:
        """One page of history: {"entries": [...], "next": cursor or None}.
        title None: the whole wiki. follow: continue under the old title
        before a recorded rename."""
        return self._json("wikidb_history_page_json", _arg(title, "title"),
                          _arg(cursor, "cursor"), _int(limit, "limit"), _arg(author, "author"),
                          _arg(since, "since"), _arg(until, "until"), FOLLOW if follow else 0)

    def recent_page(self, cursor: Optional[str] = None, limit: int = 0,
                    author: Optional[Text] = None,
                    since: Optional[Text] = None) -> Dict[str, Any]:
        """One page of recent changes: {"entries": [...], "next": ...}."""
        return self._json("wikidb_recent_page_json", _arg(cursor, "cursor"),
                          _int(limit, "limit"), _arg(author, "author"), _arg(since, "since"))

    def iter_history(self, title: Optional[Text] = None, page_size: int = 50,
                     **filters: Any) -> Iterator[Dict[str, Any]]:
        """Every history entry, newest first, fetched page by page as the
        iteration goes (filters: author, since, until, follow)."""
        return _paged(lambda cursor: self.history_page(title, cursor, page_size, **filters))

    def iter_recent(self, page_size: int = 50, **filters: Any) -> Iterator[Dict[str, Any]]:
        """Every recent change, newest first, page by page (author, since)."""
        return _paged(lambda cursor: self.recent_page(cursor, page_size, **filters))

    def search(self, query: Text, limit: int = 0, words: bool = False, titles: bool = False,
               regex: bool = False, case_sensitive: bool = False) -> Dict[str, Any]:
        """Pages holding every word of `query`, case-insensitively unless
        asked: {"hits": [{"page", "line", "column", "text"}], "truncated"}."""
        flags = ((SEARCH_WORDS if words else 0) | (SEARCH_TITLES if titles else 0)
                 | (SEARCH_REGEX if regex else 0) | (SEARCH_CASE if case_sensitive else 0))
        return self._json("wikidb_search_json", _arg(query, "query"), _int(limit, "limit"), flags)

    def deleted_pages(self) -> List[Dict[str, Any]]:
        """Pages that existed and do not now, each with the commit that
        deleted it and the revision to restore it from (see rollback)."""
        return self._json("wikidb_deleted_pages_json")

    def blame(self, title: Text, revision: Optional[Text] = None) -> List[Dict[str, Any]]:
        """For each line of the page (at `revision`, default the current
        one), the commit, author and date that last changed it."""
        return self._json("wikidb_blame_json", _arg(title, "title"), _arg(revision, "revision"))

    # -- batches ---------------------------------------------------------------

    # -- sync with a remote repository -------------------------------------

    def remote_set(self, name: Text, url: Text, branch: Optional[Text] = None) -> None:
        """Stores remote `name` for this wiki: a URL or path git reaches, or
        the name of a remote of the repository's git configuration; branch
        None for the branch the wiki is on. A URL beginning with "-" is
        refused (WikiError "Invalid remote URL: ...")."""
        self._write("wikidb_remote_set", _arg(name, "name"), _arg(url, "url"),
                    _arg(branch, "branch"))

    def sync_config(self, key: Text, value: Text) -> None:
        """Adds a git setting for this wiki's network gits only, e.g.
        ("http.extraHeader", "Authorization: Bearer ..."): credentials stay
        with the handle, never in the process's environment."""
        self._write("wikidb_sync_config", _arg(key, "key"), _arg(value, "value"))

    def sync(self, remote: Optional[Text] = None, pull_only: bool = False,
             push_only: bool = False, allow_unrelated: bool = False,
             allow_commands: bool = False) -> Dict[str, Any]:
        """Fetches, integrates and pushes; returns the report, a dict with
        "state" ("up_to_date", "pushed", "fast_forward" or "merged"), "ahead",
        "behind", "rewritten" and "pages_changed". remote None means "origin".

        Raises Conflict when both sides changed a page in overlapping ways:
        nothing changed here, and .report is the sync report (state
        "conflict"), whose .conflicts give each page's base, ours and theirs
        revisions and texts and the text with markers. Resolve each page with
        sync_resolve() and sync again. Any other failure raises WikiError
        (Busy when the wiki is busy); calling sync again is always safe."""
        flags = ((SYNC_PULL_ONLY if pull_only else 0) | (SYNC_PUSH_ONLY if push_only else 0) |
                 (SYNC_ALLOW_UNRELATED if allow_unrelated else 0) |
                 (SYNC_ALLOW_COMMANDS if allow_commands else 0))
        fn = self._fn("wikidb_sync")
        report_fn = self._fn("wikidb_sync_report")
        with _native.lock:
            rc = fn(self._h(), _arg(remote, "remote"), flags)
            if rc == -1:
                raise error_for(self._message())
            report = _text(report_fn(self._h()))
        if rc == CONFLICT:
            exc = Conflict("", report)
            exc.message = "Sync conflict: " + ", ".join(
                str(c.get("page")) for c in exc.conflicts if isinstance(c, dict))
            exc.args = (exc.message,)
            raise exc
        return json.loads(report)

    def sync_report(self) -> Optional[Dict[str, Any]]:
        """The report of this wiki's latest sync, None when it failed or
        none ran."""
        fn = self._fn("wikidb_sync_report")
        with _native.lock:
            report = fn(self._h())
        return None if report is None else json.loads(_text(report))

    def sync_resolve(self, title: Text, content: Optional[Text], remote: Optional[Text] = None,
                     author: Optional[Text] = None, message: Optional[Text] = None) -> str:
        """Saves the resolved text of a page the latest sync reported in
        conflict, on top of the reported "ours" revision; the next sync()
        merges it. Raises Conflict when the page changed here since the
        report (nothing written). Returns the commit made."""
        return self._write("wikidb_sync_resolve", _arg(remote, "remote"), _arg(title, "title"),
                           _arg(content, "content"), _arg(author, "author"),
                           _arg(message, "message")) or ""

    def transaction(self, author: Optional[Text] = None, message: Optional[Text] = None,
                    merge: bool = False, author_date: Optional[Text] = None,
                    committer: Optional[Text] = None,
                    committer_date: Optional[Text] = None) -> "Transaction":
        """A batch of saves, deletes and renames committed as one commit:

            with wiki.transaction(author="Ann", message="Tidy") as t:
                t.save("A", "text", expected_revision=rev_a)
                t.rename("B", "C")

        commits when the block ends normally (t.commit_hash tells which
        commit) and aborts when it raises. All or nothing: a conflict on any
        page raises Conflict, listing every stale page, and commits none.
        author_date, committer and committer_date keep an import's original
        identities and dates ("@UNIX +ZONE" or ISO 8601). The batch holds
        the process-wide library lock from begin to commit, so no other
        thread's call lands inside it."""
        return Transaction(self, author, message, merge, author_date, committer, committer_date)


def _paged(fetch: Any) -> Iterator[Dict[str, Any]]:
    cursor = None
    seen = set()
    while True:
        page = fetch(cursor)
        for entry in page.get("entries", []):
            yield entry
        cursor = page.get("next")
        if not cursor:
            return
        if cursor in seen:  # a cursor that comes back would loop forever
            raise WikiError("the library returned the cursor %r twice" % cursor)
        seen.add(cursor)


class Transaction:
    """A batch on one wiki; see Wiki.transaction."""

    def __init__(self, wiki: Wiki, author: Optional[Text], message: Optional[Text], merge: bool,
                 author_date: Optional[Text], committer: Optional[Text],
                 committer_date: Optional[Text]) -> None:
        self._wiki = wiki
        self._author, self._message, self._merge = author, message, merge
        self._dates = (author_date, committer, committer_date)
        self._open = False
        self.commit_hash: Optional[str] = None

    def begin(self) -> "Transaction":
        wiki = self._wiki
        if wiki._batch is not None:
            raise WikiError("a transaction is already open on this wiki")
        fn = wiki._fn("wikidb_begin")
        _native.lock.acquire()
        try:
            if fn(wiki._h()) != 0:
                raise error_for(wiki._message())
        except BaseException:
            _native.lock.release()
            raise
        self._open = True
        wiki._batch = self
        return self

    def _stage(self, name: str, *args: Any) -> None:
        if not self._open:
            raise WikiError("the transaction is not open")
        wiki = self._wiki
        rc = wiki._fn(name)(wiki._h(), *args)
        if rc == CONFLICT:
            raise wiki._conflict()
        if rc != 0:
            raise error_for(wiki._message())

    def save(self, title: Text, content: Optional[Text],
             expected_revision: Optional[Text] = None) -> None:
        """Stages a save (optionally only if the page is at that revision)."""
        self._stage("wikidb_stage_save", _arg(title, "title"), _arg(content, "content"),
                    _arg(expected_revision, "expected_revision"))

    def delete(self, title: Text, expected_revision: Optional[Text] = None) -> None:
        """Stages a delete."""
        self._stage("wikidb_stage_delete", _arg(title, "title"),
                    _arg(expected_revision, "expected_revision"))

    def rename(self, old: Text, new: Text, expected_revision: Optional[Text] = None) -> None:
        """Stages a rename."""
        self._stage("wikidb_stage_rename", _arg(old, "old title"), _arg(new, "new title"),
                    _arg(expected_revision, "expected_revision"))

    def commit(self) -> str:
        """Commits every staged change as one commit and returns its hash
        ("" when nothing changed). Conflict: nothing was committed. The
        batch is over afterwards, whatever the outcome."""
        if not self._open:
            raise WikiError("the transaction is not open")
        wiki = self._wiki
        flags = MERGE if self._merge else 0
        try:
            if any(d is not None for d in self._dates):
                author_date, committer, committer_date = self._dates
                fn, args = wiki._fn("wikidb_commit_as"), (
                    _arg(self._author, "author"), _arg(author_date, "author_date"),
                    _arg(committer, "committer"), _arg(committer_date, "committer_date"),
                    _arg(self._message, "message"), flags)
            else:
                fn, args = wiki._fn("wikidb_commit"), (
                    _arg(self._author, "author"), _arg(self._message, "message"), flags)
        except BaseException:
            self._end(abort=True)  # the library never saw the commit
            raise
        try:
            # The library ends the batch in any case, so no abort follows.
            rc = fn(wiki._h(), *args)
            if rc == CONFLICT:
                raise wiki._conflict()
            if rc != 0:
                raise error_for(wiki._message())
            self.commit_hash = wiki._commit_made() or ""
            return self.commit_hash
        finally:
            self._end(abort=False)

    def abort(self) -> None:
        """Drops every staged change; nothing is committed."""
        if self._open:
            self._end(abort=True)

    def _end(self, abort: bool) -> None:
        if not self._open:
            return
        wiki = self._wiki
        try:
            if abort:
                fn = wiki._lib.functions.get("wikidb_abort")
                if fn is not None and wiki._handle is not None:
                    fn(wiki._handle)
        finally:
            self._open = False
            wiki._batch = None
            _native.lock.release()

    def __enter__(self) -> "Transaction":
        return self.begin()

    def __exit__(self, exc_type: Any, exc: Any, tb: Any) -> None:
        if exc_type is None:
            self.commit()
        else:
            self.abort()
