"""Exceptions and status numbers."""

from __future__ import annotations

import enum

from ._native import STATUSES, lib

Status = enum.IntEnum("Status", STATUSES)
Status.__doc__ = "The library's own status numbers (1 and 1000 and above)."

# Node verdicts that the paging iterators absorb.
NO_USERS = 7  # protocol 1: the user table is empty
NO_MORE_RECORDS = 8  # the page reached the end of the users or marks
NO_MARKS = 21  # protocol 1: the mark log is empty
SCHEDULES_LAST_PAGE = 31  # the schedule list reached its end


def status_text(status: int) -> str:
    """The library's English text for a status number."""
    text = lib.nax_status_text(status)
    return text.decode("ascii", "replace") if text else ""


class Error(Exception):
    """A call failed; ``status`` is the number the library returned."""

    def __init__(self, status: int, function: str = "") -> None:
        self.status = int(status)
        self.function = function
        self.text = status_text(self.status)
        where = f"{function}: " if function else ""
        super().__init__(f"{where}{self.text} (status {self.status})")

    @staticmethod
    def of(status: int, function: str = "") -> "Error":
        """The exception for a failed status: LinkError from 1000 up, NodeError below."""
        cls = LinkError if status >= 1000 else NodeError
        return cls(status, function)


class LinkError(Error):
    """The library itself failed (status 1000 and above): the link, the transport, an argument."""

    @property
    def code(self):
        try:
            return Status(self.status)
        except ValueError:
            return None


class NodeError(Error):
    """The node refused the request; ``status`` is its verdict, passed through."""


def check(status: int, function: str, *accepted: int) -> int:
    """Returns status when it is 1 or one of accepted, else raises."""
    if status == 1 or status in accepted:
        return status
    raise Error.of(status, function)
