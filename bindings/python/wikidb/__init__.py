"""Python access to quenlow-wikidb, a wiki kept as files in a git repository.

    import wikidb
    with wikidb.Wiki("/tmp/mywiki") as wiki:
        wiki.save_page("Home", "Hello", author="Ada", message="Create Home")
        rev = wiki.page_revision("Home")          # the editor's token
        try:
            wiki.save_page_if("Home", "Hello again", rev, author="Ada")
        except wikidb.Conflict as e:              # someone saved meanwhile
            print(e.conflicts[0]["merged_text"])
        for entry in wiki.iter_history("Home"):   # pages through the history
            print(entry["hash"][:7], entry["summary"])
        wiki.remote_set("origin", "https://git.example.org/wiki.git")
        try:
            print(wiki.sync()["state"])           # fetch, integrate, push
        except wikidb.Conflict as e:              # resolve, then sync again
            for c in e.conflicts:                 # base, ours, theirs, merged
                wiki.sync_resolve(c["page"], edit_by_hand(c["merged_text"]))

The shared library is found, in this order: the path given to Wiki(library=)
or load_library(); the path in the environment variable WIKIDB_LIBRARY; a
library installed together with this package (`cmake --install` with
WIKIDB_INSTALL_PYTHON); the system's search (ctypes.util.find_library and
the installed names). Its major version must be the one this package speaks;
otherwise LibraryError says which library was found and what is needed.

Functions added to the library after 1.0 are used only when the loaded
library exports them; calling one that it lacks raises Unsupported, and
supports("wikidb_search_json") tells in advance.

Exceptions: WikiError, and beneath it NotFound (also a LookupError),
InvalidTitle (also a ValueError), Conflict (carrying the report), Busy and
Unsupported. LibraryError (an OSError) when the library cannot be used.

Threads: the library keeps one error message for the whole process, so
every call (and the reading of its message) holds one process-wide lock;
any thread may use any Wiki, one call at a time.
"""

from ._native import API_MAJOR, Library
from ._native import load as load_library
from ._wiki import (FOLLOW, MERGE, SEARCH_CASE, SEARCH_REGEX, SEARCH_TITLES, SEARCH_WORDS,
                    SYNC_ALLOW_COMMANDS, SYNC_ALLOW_UNRELATED, SYNC_PULL_ONLY, SYNC_PUSH_ONLY,
                    Transaction, Wiki, last_error, supports, version)
from .errors import (Busy, Conflict, InvalidTitle, LibraryError, NotFound, Unsupported,
                     WikiError)

__version__ = "1.1.0"

__all__ = ["Wiki", "Transaction", "Library", "load_library", "version", "last_error", "supports",
           "WikiError", "NotFound", "InvalidTitle", "Conflict", "Busy", "Unsupported",
           "LibraryError", "API_MAJOR", "MERGE", "FOLLOW", "SEARCH_WORDS", "SEARCH_TITLES",
           "SEARCH_REGEX", "SEARCH_CASE", "SYNC_PULL_ONLY", "SYNC_PUSH_ONLY",
           "SYNC_ALLOW_UNRELATED", "SYNC_ALLOW_COMMANDS", "__version__"]
