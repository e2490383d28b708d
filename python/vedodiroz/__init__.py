"""vedodiroz: access-control and time-and-attendance nodes from Python.

    import vedodiroz as nax
    with nax.Library(log_path="host.log", log_level=3):
        with nax.open("192.0.2.10:3001", protocol=2, source_node=0x100) as link:
            print(link.get_time(node=1))
            for user in link.users(1):
                print(user)

The commands block until the node answers; asyncio hosts await them through
``link.aio`` (``await link.aio.get_time(1)``), which runs each in a thread pool.

``vedodiroz.library_path`` names the shared library that was loaded and
``vedodiroz.library_origin`` how it was found ("VEDODIROZ_LIBRARY", "bundled",
"source tree" or "system").
"""

from ._native import library_origin, library_path
from ._version import __version__
from .errors import (
    NO_MARKS,
    NO_MORE_RECORDS,
    NO_USERS,
    SCHEDULES_LAST_PAGE,
    Error,
    LinkError,
    NodeError,
    Status,
    status_text,
)
from .events import EventStream
from .link import (
    AsyncLink,
    Incoming,
    Library,
    Link,
    Listener,
    Page,
    accept,
    close_all,
    init,
    lib_version,
    listen,
    open,
    set_keepalive,
    set_listen_limits,
    uninit,
)
from .records import (
    AuxInput,
    AuxInputEvent,
    ConnEvent,
    ConnState,
    Direction,
    DisplayMessage,
    Event,
    FileMode,
    LinkState,
    Mark,
    ScheduleEntry,
    ScheduleHeader,
    Segment,
    Table,
    TaskGroup,
    TaskItem,
    User,
    UserEvent,
    UserEventAnswer,
)

__all__ = [
    "library_path", "library_origin", "__version__", "Error", "LinkError", "NodeError",
    "Status", "status_text", "NO_USERS", "NO_MORE_RECORDS", "NO_MARKS", "SCHEDULES_LAST_PAGE",
    "AsyncLink", "EventStream", "Incoming", "Library", "Link", "Listener", "Page", "accept", "close_all",
    "init", "lib_version", "listen", "open", "set_keepalive", "set_listen_limits", "uninit", "AuxInput",
    "AuxInputEvent", "ConnEvent", "ConnState", "Direction", "DisplayMessage", "Event",
    "FileMode", "LinkState", "Mark", "ScheduleEntry", "ScheduleHeader", "Segment", "Table",
    "TaskGroup", "TaskItem", "User", "UserEvent", "UserEventAnswer",
]  # fmt: skip
