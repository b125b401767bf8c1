"""Python access to quenlow-wikidb, a wiki kept as files in a git repository.

Uses only ctypes. The shared library is found, in this order, at the path
given to load_library() or Wiki(library=...), at the path in the environment
variable WIKIDB_LIBRARY, then by the system's usual search under its
installed names (libquenlow-wikidb.so.1 and the like).

    with wikidb.Wiki("/tmp/mywiki") as wiki:
        wiki.save_page("Home", "Hello", author="Ada", message="Create Home")
        for commit in wiki.get_history("Home"):
            print(commit["hash"][:7], commit["summary"])

Text arguments may be str (encoded as UTF-8) or bytes, and must not hold a
NUL byte: the library would end them there, so ValueError is raised instead.
Texts come back as str (decoded as UTF-8, undecodable bytes kept as
surrogate escapes) or, with as_bytes=True, as the library's bytes. Failures
raise WikiError carrying the library's message (wikidb_last_error).
"""

import ctypes
import ctypes.util
import json
import os
import sys
import threading

__all__ = ["Wiki", "WikiError", "load_library", "version", "last_error"]

_ENCODING = "utf-8"
_ERRORS = "surrogateescape"

# The library allows one call at a time in the whole process, and its error
# message is shared by every handle; a call and the reading of its message
# must not interleave with another thread's.
_lock = threading.RLock()
_loaded = {}


class WikiError(Exception):
    """A library call failed; .message is the library's error message."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


def _candidates(path):
    if path is not None:
        return [os.fspath(path)]
    env = os.environ.get("WIKIDB_LIBRARY")
    if env:
        return [env]
    names = []
    found = ctypes.util.find_library("quenlow-wikidb")
    if found:
        names.append(found)
    if sys.platform == "win32":
        names += ["libquenlow-wikidb.dll", "quenlow-wikidb.dll"]
    elif sys.platform == "darwin":
        names += ["libquenlow-wikidb.1.dylib", "libquenlow-wikidb.dylib"]
    else:
        names += ["libquenlow-wikidb.so.1", "libquenlow-wikidb.so"]
    return names


def _declare(lib):
    c_str, c_int, handle = ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p
    signatures = {
        "wikidb_version": (c_str, []),
        "wikidb_last_error": (c_str, []),
        "wikidb_open": (handle, [c_str]),
        "wikidb_close": (None, [handle]),
        "wikidb_save_page": (c_int, [handle, c_str, c_str, c_str, c_str]),
        "wikidb_get_page": (c_str, [handle, c_str]),
        "wikidb_delete_page": (c_int, [handle, c_str, c_str, c_str]),
        "wikidb_get_revision": (c_str, [handle, c_str, c_str]),
        "wikidb_get_diff": (c_str, [handle, c_str, c_str, c_str]),
        "wikidb_rollback": (c_int, [handle, c_str, c_str, c_str]),
        "wikidb_list_pages_json": (c_str, [handle, c_str]),
        "wikidb_get_history_json": (c_str, [handle, c_str]),
        "wikidb_get_recent_changes_json": (c_str, [handle, c_int]),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


def load_library(path=None):
    """Loads the library (once per path) and returns the ctypes.CDLL.

    Raises OSError naming every place tried when it cannot be loaded.
    """
    tried = []
    for name in _candidates(path):
        with _lock:
            if name in _loaded:
                return _loaded[name]
            try:
                lib = _declare(ctypes.CDLL(name))
            except (OSError, AttributeError) as e:
                tried.append("%s (%s)" % (name, e))
                continue
            _loaded[name] = lib
            return lib
    raise OSError("cannot load the quenlow-wikidb library; tried: " + "; ".join(tried))


def _arg(value, what):
    """str, bytes or a path in; NUL-terminated bytes (or None) out."""
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


def _text(data, as_bytes):
    if as_bytes:
        return data
    return data.decode(_ENCODING, _ERRORS)


def version(library=None):
    """The library's version, e.g. "1.0.0"."""
    return load_library(library).wikidb_version().decode("ascii")


def last_error(library=None):
    """The message of the latest failure in this process ("" if none)."""
    with _lock:
        return _text(load_library(library).wikidb_last_error(), False)


class Wiki:
    """An open wiki; a context manager that closes the handle on exit.

    Opening creates the root, its pages and meta directories and a git
    repository when they are missing.
    """

    def __init__(self, root, library=None):
        self._lib = load_library(library)
        root_arg = _arg(root, "root")
        with _lock:
            handle = self._lib.wikidb_open(root_arg)
            if not handle:
                raise WikiError(self._message())
            # The open succeeds even when a repository setting could not be
            # written; that message stays readable here.
            self.open_warning = self._message()
        self._handle = handle
        self.root = root

    # -- lifecycle ---------------------------------------------------------

    def close(self):
        """Releases the handle; further calls raise ValueError. Idempotent."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            with _lock:
                self._lib.wikidb_close(handle)

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:  # interpreter shutdown may have torn ctypes down
            pass

    def __repr__(self):
        return "<wikidb.Wiki %r%s>" % (self.root, " closed" if self.closed else "")

    # -- plumbing ----------------------------------------------------------

    def _h(self):
        if self._handle is None:
            raise ValueError("operation on a closed wiki")
        return self._handle

    def _message(self):
        return _text(self._lib.wikidb_last_error(), False)

    def _change(self, fn, *args):
        with _lock:
            if fn(self._h(), *args) != 0:
                raise WikiError(self._message())

    def _query(self, fn, *args, as_bytes=False):
        with _lock:
            result = fn(self._h(), *args)
            if result is None:
                raise WikiError(self._message())
            return _text(result, as_bytes)

    # -- pages -------------------------------------------------------------

    def save_page(self, title, content=None, author=None, message=None):
        """Writes the page and commits it. None content saves an empty page;
        saving unchanged text succeeds without a commit."""
        self._change(self._lib.wikidb_save_page, _arg(title, "title"),
                     _arg(content, "content"), _arg(author, "author"),
                     _arg(message, "message"))

    def get_page(self, title, as_bytes=False):
        """The page's current text."""
        return self._query(self._lib.wikidb_get_page, _arg(title, "title"), as_bytes=as_bytes)

    def delete_page(self, title, author=None, message=None):
        """Removes the page and commits the removal."""
        self._change(self._lib.wikidb_delete_page, _arg(title, "title"),
                     _arg(author, "author"), _arg(message, "message"))

    # -- revisions ---------------------------------------------------------

    def get_revision(self, title, commit, as_bytes=False):
        """The page's text at a commit (a hash from the history, or any
        revision git accepts)."""
        return self._query(self._lib.wikidb_get_revision, _arg(title, "title"),
                           _arg(commit, "commit"), as_bytes=as_bytes)

    def get_diff(self, title, from_commit, to_commit, as_bytes=False):
        """git's unified diff of the page between two commits ("" when the
        same). The library passes git's complaint about an unknown commit
        back as the text; it is returned as it is."""
        with _lock:
            result = self._lib.wikidb_get_diff(self._h(), _arg(title, "title"),
                                               _arg(from_commit, "from_commit"),
                                               _arg(to_commit, "to_commit"))
            message = self._message()
            if message:
                raise WikiError(message)
            return _text(result or b"", as_bytes)

    def rollback(self, title, commit, author=None):
        """Commits the page's text of `commit` as its current text."""
        self._change(self._lib.wikidb_rollback, _arg(title, "title"),
                     _arg(commit, "commit"), _arg(author, "author"))

    # -- reports: the library's JSON text, and parsed ----------------------

    def list_pages_json(self, prefix=None, as_bytes=False):
        return self._query(self._lib.wikidb_list_pages_json, _arg(prefix, "prefix"),
                           as_bytes=as_bytes)

    def get_history_json(self, title=None, as_bytes=False):
        return self._query(self._lib.wikidb_get_history_json, _arg(title, "title"),
                           as_bytes=as_bytes)

    def get_recent_changes_json(self, limit=0, as_bytes=False):
        return self._query(self._lib.wikidb_get_recent_changes_json, _limit(limit),
                           as_bytes=as_bytes)

    def list_pages(self, prefix=None):
        """Page names (str), in git's order."""
        return json.loads(self.list_pages_json(prefix))

    def get_history(self, title=None):
        """Commits touching the page (every commit when title is None),
        newest first: dicts with hash, author, date, summary and size."""
        return json.loads(self.get_history_json(title))

    def get_recent_changes(self, limit=0):
        """Page changes of the latest `limit` commits (0: 50), newest first:
        dicts with hash, author, date, summary and page."""
        return json.loads(self.get_recent_changes_json(limit))


def _limit(limit):
    if isinstance(limit, bool) or not isinstance(limit, int):
        raise TypeError("limit must be an int")
    if not -2**31 <= limit < 2**31:
        raise ValueError("limit out of range for a C int")
    return limit
