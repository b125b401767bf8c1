"""The exceptions raised by the wikidb package.

Every failure the library reports is a WikiError carrying the library's own
message; the subclasses let a host tell apart the cases it handles
differently (a missing page, a bad title, someone else's save, a busy wiki).
"""

from __future__ import annotations

import json
import re
from typing import Any, Dict, List, Optional, Type

__all__ = ["WikiError", "NotFound", "InvalidTitle", "Conflict", "Busy", "Unsupported",
           "LibraryError", "error_for"]


class WikiError(Exception):
    """A library call failed; .message is the library's error message."""

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class NotFound(WikiError, LookupError):
    """The page (or the revision asked for) does not exist."""


class InvalidTitle(WikiError, ValueError):
    """The title is not one the library accepts (empty part, "..", ".git" ...)."""


class Busy(WikiError):
    """Another writer (a process, or a person running git) holds the wiki."""


class Unsupported(WikiError, NotImplementedError):
    """The loaded library is older than the function asked for.

    .function names the missing C function; the message says which library
    was loaded and its version.
    """

    def __init__(self, message: str, function: str = "") -> None:
        super().__init__(message)
        self.function = function


class Conflict(WikiError):
    """A conditional write found a page changed since the expected revision.

    Nothing was written. .report is the library's conflict report, parsed
    (a dict with "merged" and "conflicts"); .report_json is its text.
    Each element of .conflicts names a page with its expected and current
    revision and, when the library merged, the three texts and the result.
    """

    def __init__(self, message: str, report_json: str = "") -> None:
        super().__init__(message)
        self.report_json = report_json
        try:
            parsed = json.loads(report_json) if report_json else {}
        except ValueError:
            parsed = {}
        self.report: Dict[str, Any] = parsed if isinstance(parsed, dict) else {}

    @property
    def conflicts(self) -> List[Dict[str, Any]]:
        items = self.report.get("conflicts")
        return items if isinstance(items, list) else []

    def conflict_for(self, title: str) -> Optional[Dict[str, Any]]:
        """The report's entry for one page, or None."""
        for item in self.conflicts:
            if isinstance(item, dict) and item.get("page") == title:
                return item
        return None


class LibraryError(OSError):
    """The shared library cannot be loaded, or its version does not fit."""


# The library reports failures as messages; these patterns sort the ones a
# host may want to handle on their own. Anything else stays a WikiError.
_CLASSES = [
    (re.compile(r"^Invalid title\b"), InvalidTitle),
    (re.compile(r"^Page not found\b|\bnot found\b|\bdoes not exist\b|"
                r"\bunknown revision\b|\bbad revision\b|\binvalid object name\b|"
                r"\bbut not in '", re.I), NotFound),
    (re.compile(r"index\.lock|\bbusy\b|\blocked\b|\block timed out\b", re.I), Busy),
]


def error_for(message: str) -> WikiError:
    """The exception that fits a library message."""
    cls: Type[WikiError] = WikiError
    for pattern, candidate in _CLASSES:
        if pattern.search(message):
            cls = candidate
            break
    return cls(message)
