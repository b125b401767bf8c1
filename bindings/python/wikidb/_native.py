"""Finding, loading and declaring the quenlow-wikidb shared library."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Dict, List, Tuple, Union

from .errors import LibraryError

# The major version of the C API this package speaks. A library of another
# major version may have changed a function's meaning, so it is refused.
API_MAJOR = 1

# The library allows one call at a time in the whole process, and its error
# message is shared by every handle: a call and the reading of its message
# must not interleave with another thread's. Every call goes through it.
lock = threading.RLock()

PathArg = Union[str, "os.PathLike[str]", None]

_c_str, _c_int, _handle = ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p

# Functions every 1.x library has.
CORE = {
    "wikidb_version": (_c_str, []),
    "wikidb_last_error": (_c_str, []),
    "wikidb_open": (_handle, [_c_str]),
    "wikidb_close": (None, [_handle]),
    "wikidb_save_page": (_c_int, [_handle, _c_str, _c_str, _c_str, _c_str]),
    "wikidb_get_page": (_c_str, [_handle, _c_str]),
    "wikidb_delete_page": (_c_int, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_get_revision": (_c_str, [_handle, _c_str, _c_str]),
    "wikidb_get_diff": (_c_str, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_rollback": (_c_int, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_list_pages_json": (_c_str, [_handle, _c_str]),
    "wikidb_get_history_json": (_c_str, [_handle, _c_str]),
    "wikidb_get_recent_changes_json": (_c_str, [_handle, _c_int]),
}

# Functions added in 1.1; each is bound only when the loaded library
# exports it, so this package works with a 1.0 library too.
NEWER = {
    "wikidb_page_revision": (_c_str, [_handle, _c_str]),
    "wikidb_save_page_if": (_c_int, [_handle, _c_str, _c_str, _c_str, _c_str, _c_str, _c_int]),
    "wikidb_last_commit": (_c_str, [_handle]),
    "wikidb_conflict_json": (_c_str, [_handle]),
    "wikidb_rename_page": (_c_int, [_handle, _c_str, _c_str, _c_str, _c_str]),
    "wikidb_begin": (_c_int, [_handle]),
    "wikidb_stage_save": (_c_int, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_stage_delete": (_c_int, [_handle, _c_str, _c_str]),
    "wikidb_stage_rename": (_c_int, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_commit": (_c_int, [_handle, _c_str, _c_str, _c_int]),
    "wikidb_commit_as": (_c_int, [_handle, _c_str, _c_str, _c_str, _c_str, _c_str, _c_int]),
    "wikidb_abort": (_c_int, [_handle]),
    "wikidb_history_page_json": (_c_str, [_handle, _c_str, _c_str, _c_int, _c_str, _c_str,
                                          _c_str, _c_int]),
    "wikidb_recent_page_json": (_c_str, [_handle, _c_str, _c_int, _c_str, _c_str]),
    "wikidb_search_json": (_c_str, [_handle, _c_str, _c_int, _c_int]),
    "wikidb_deleted_pages_json": (_c_str, [_handle]),
    "wikidb_blame_json": (_c_str, [_handle, _c_str, _c_str]),
    "wikidb_remote_set": (_c_int, [_handle, _c_str, _c_str, _c_str]),
    "wikidb_sync_config": (_c_int, [_handle, _c_str, _c_str]),
    "wikidb_sync": (_c_int, [_handle, _c_str, _c_int]),
    "wikidb_sync_report": (_c_str, [_handle]),
    "wikidb_sync_resolve": (_c_int, [_handle, _c_str, _c_str, _c_str, _c_str, _c_str]),
}


class Library:
    """A loaded library: its ctypes handle, where it came from, its version,
    and which functions it has."""

    def __init__(self, cdll: ctypes.CDLL, path: str, version: str) -> None:
        self.cdll = cdll
        self.path = path
        self.version = version
        self.functions = {name: getattr(cdll, name)
                          for name in list(CORE) + list(NEWER) if hasattr(cdll, name)}

    def has(self, name: str) -> bool:
        return name in self.functions

    def __repr__(self) -> str:
        return "<wikidb library %s at %s>" % (self.version, self.path)


_loaded: Dict[str, Library] = {}


def _system_names() -> List[str]:
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


def _beside_package() -> List[str]:
    """Libraries installed together with this package: a copy in the
    package's folder, or the one `cmake --install` put in the same prefix
    (its place relative to the package is written at install time)."""
    here = os.path.dirname(os.path.abspath(__file__))
    places = []
    try:
        from . import _installed  # written by cmake --install only
        places.append(os.path.normpath(os.path.join(here, _installed.LIBRARY)))
    except ImportError:
        pass
    for name in ("libquenlow-wikidb.so.1", "libquenlow-wikidb.1.dylib", "quenlow-wikidb.dll",
                 "libquenlow-wikidb.dll"):
        places.append(os.path.join(here, name))
    return [p for p in places if os.path.exists(p)]


def candidates(path: PathArg = None) -> Tuple[List[str], bool]:
    """Where to look, in order, and whether the choice was the user's own
    (an explicit path or WIKIDB_LIBRARY: then nothing else is tried)."""
    if path is not None:
        return [os.fspath(path)], True
    env = os.environ.get("WIKIDB_LIBRARY")
    if env:
        return [env], True
    return _beside_package() + _system_names(), False


def parse_version(text: str) -> Tuple[int, ...]:
    parts = []
    for piece in text.split("."):
        digits = ""
        for ch in piece:
            if not ch.isdigit():
                break
            digits += ch
        if not digits:
            break
        parts.append(int(digits))
    return tuple(parts)


def _declare(cdll: ctypes.CDLL) -> None:
    for table in (CORE, NEWER):
        for name, (restype, argtypes) in table.items():
            if hasattr(cdll, name):
                fn = getattr(cdll, name)
                fn.restype = restype
                fn.argtypes = argtypes


def _open(name: str) -> Library:
    cdll = ctypes.CDLL(name)
    missing = [n for n in CORE if not hasattr(cdll, n)]
    if missing:
        raise LibraryError("%s is not the quenlow-wikidb library (it lacks %s)"
                           % (name, ", ".join(missing)))
    _declare(cdll)
    version = cdll.wikidb_version().decode("ascii", "replace")
    if parse_version(version)[:1] != (API_MAJOR,):
        raise LibraryError(
            "the quenlow-wikidb library at %s is version %s, but this wikidb package "
            "speaks version %d.x of its API; install matching versions of the library "
            "and the package (or point WIKIDB_LIBRARY at a %d.x library)"
            % (name, version, API_MAJOR, API_MAJOR))
    return Library(cdll, name, version)


def load(path: PathArg = None) -> Library:
    """Loads the library once per place and returns it.

    Raises LibraryError naming every place tried and why each failed, or
    saying that the library found is of a version this package cannot use.
    """
    names, explicit = candidates(path)
    tried = []
    with lock:
        for name in names:
            if name in _loaded:
                return _loaded[name]
            try:
                lib = _open(name)
            except LibraryError as e:
                if explicit:
                    raise
                tried.append(str(e))
                continue
            except (OSError, AttributeError) as e:
                tried.append("%s (%s)" % (name, e))
                continue
            _loaded[name] = lib
            return lib
    where = "WIKIDB_LIBRARY" if explicit and path is None else "the places"
    raise LibraryError("cannot load the quenlow-wikidb library from %s tried: %s"
                       % (where, "; ".join(tried)))
