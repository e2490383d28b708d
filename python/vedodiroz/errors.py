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


def status_text(status: int, function: str = "") -> str:
    """The English text for a status number; with a function's name (``"add_user"``),
    a node's status reads as the library's table of node statuses says for it."""
    text = None
    if function and 1 < status < 1000:
        text = lib.nax_node_status_text(b"nax_" + function.encode(), status)
    text = text or lib.nax_status_text(status)
    return text.decode("ascii", "replace") if text else ""


# What to do next, for the failures a newcomer meets first.
NEXT_STEP = {
    1034: "start it first: with vedodiroz.Library(): ... (or vedodiroz.init())",
    1031: "it is started once per process; use one vedodiroz.Library() around all the work",
    1013: "is the node (or naxsim) running, and is the port right?",
    1014: "is the host reachable? a longer open time-out may help: open(..., timeout=MS)",
    1026: "check the node number, the protocol (open(..., protocol=1 or 2)) and the time-out "
    "(link.set_rcv_timeout)",
    1035: "the protocol is 1 or 2",
    1038: "this command needs a protocol-2 link",
}


class Error(Exception):
    """A call failed; ``status`` is the number the library returned."""

    def __init__(self, status: int, function: str = "") -> None:
        self.status = int(status)
        self.function = function
        self.text = status_text(self.status, function)
        where = f"{function}: " if function else ""
        hint = NEXT_STEP.get(self.status)
        super().__init__(f"{where}{self.text} (status {self.status})" + (f"; {hint}" if hint else ""))

    @staticmethod
    def of(status: int, function: str = "") -> "Error":
        """The exception for a failed status: LinkError from 1000 up, NodeError below."""
        cls = LinkError if status >= 1000 else NodeError
        return cls(status, function)


class LinkError(Error):
    """The library itself failed (status 1000 and above): the link, the transport, an argument."""

    @property
    def code(self):
        """The status as a Status member, or None for a number the library does not name."""
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
