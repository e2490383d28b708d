"""Records as dataclasses with Python types, and their conversion to and from C."""

from __future__ import annotations

import datetime as _dt
import enum
from dataclasses import dataclass, field
from typing import Optional, Sequence

from . import _native as n

# Texts travel as UTF-8; bytes that do not decode become U+FFFD.
TEXT_ENCODING = "utf-8"


class _OpenEnum(enum.IntEnum):
    """An IntEnum that also takes values without a name (the library passes bytes through)."""

    @classmethod
    def _missing_(cls, value):
        if isinstance(value, int) and 0 <= value <= 0xFF:
            member = int.__new__(cls, value)
            member._name_ = f"0x{value:02X}"
            member._value_ = value
            return member
        return None


class Direction(_OpenEnum):
    """Direction of passage as the node reports it; other bytes pass through unnamed."""

    NONE = 0
    IN = 1
    OUT = 2


class Event(_OpenEnum):
    """Event byte of a mark or user event.  Protocol-1 nodes send an event word that the
    library maps to these bytes; the names say which word.  Protocol-2 nodes send the byte
    itself, and any byte passes through (unnamed ones print as hex)."""

    UNMAPPED = 0x00
    WORD_0 = 0x01
    WORD_2 = 0x8F
    WORD_4 = 0x91
    WORD_8 = 0x92
    WORD_16 = 0x6C
    WORD_106 = 0x6A
    WORD_512 = 0x93
    WORD_2048 = 0x6B


class LinkState(enum.IntFlag):
    """States of a link (one bit each)."""

    OPENING = 1
    OPEN = 2
    INCOMING = 4
    ACCEPTED = 8
    CLOSING = 16


class ConnState(enum.IntEnum):
    """What the connection callback reports."""

    CONNECTED = 1
    LOST = 2
    NO_KEEPALIVE = 3


class Table(enum.IntEnum):
    """Table numbers of flush_table and del_records."""

    USERS = 0
    MARKS = 1


class FileMode(enum.IntEnum):
    """Open flags of fopen."""

    READ = 0
    WRITE = 1
    APPEND = 2


# --- field helpers ---------------------------------------------------------


def encode_text(text: Optional[str], size: int, what: str) -> bytes:
    """text as bytes for a C field of size bytes (the NUL included)."""
    raw = (text or "").encode(TEXT_ENCODING)
    if len(raw) >= size:
        raise ValueError(f"{what}: {len(raw)} bytes do not fit a field of {size - 1}")
    if b"\0" in raw:
        raise ValueError(f"{what}: a text cannot hold a NUL character")
    return raw


def decode_text(raw) -> str:
    data = bytes(raw)
    cut = data.find(b"\0")
    return (data if cut < 0 else data[:cut]).decode(TEXT_ENCODING, "replace")


def node_weekday(when: _dt.date) -> int:
    """Weekday as nodes count it: 0 = Sunday to 6 = Saturday."""
    return when.isoweekday() % 7


def to_c_time(when: Optional[_dt.datetime], weekday: Optional[int] = None) -> n.DateTime:
    c = n.DateTime()
    if when is None:
        return c
    if not 2000 <= when.year <= 2099:
        raise ValueError(f"nodes keep two-digit years of 2000-2099, not {when.year}")
    c.hour, c.minute, c.second = when.hour, when.minute, when.second
    c.year, c.month, c.day = when.year - 2000, when.month, when.day
    _store(c, "weekday", node_weekday(when) if weekday is None else weekday)
    return c


def from_c_time(c) -> Optional[_dt.datetime]:
    """The record's date-time, or None when it holds no valid date (absent or garbled)."""
    try:
        return _dt.datetime(2000 + c.year, c.month, c.day, c.hour, c.minute, c.second)
    except ValueError:
        return None


def _store(struct, name: str, value) -> None:
    """Sets one field; a number that does not fit the field raises ValueError (ctypes
    would silently keep its low bits)."""
    ctype = dict(type(struct)._fields_)[name]
    n.check_range(ctype, value, f"{type(struct).__name__}.{name}")
    setattr(struct, name, value)


def _fill(struct, **values) -> None:
    for name, value in values.items():
        _store(struct, name, value)


# --- users -----------------------------------------------------------------

# (field, mask bit)
USER_FIELDS = (
    ("id", 0x0001), ("psw", 0x0002), ("st", 0x0004), ("ctl", 0x0008), ("panic", 0x0010),
    ("bio_count", 0x0020), ("bio_level", 0x0040), ("sec_level", 0x0080), ("text1", 0x0100),
    ("text2", 0x0200), ("schedule_id", 0x0800), ("anti_passback", 0x1000),
)  # fmt: skip


@dataclass
class User:
    """A user of a node.  Fields left at None are not sent (and not received)."""

    id: Optional[int] = None
    psw: Optional[int] = None
    st: Optional[int] = None
    ctl: Optional[int] = None
    panic: Optional[int] = None
    bio_count: Optional[int] = None
    bio_level: Optional[int] = None
    sec_level: Optional[int] = None
    text1: Optional[str] = None
    text2: Optional[str] = None
    schedule_id: Optional[int] = None
    anti_passback: Optional[int] = None

    @property
    def mask(self) -> int:
        """Mask bits of the fields that are set."""
        return sum(bit for name, bit in USER_FIELDS if getattr(self, name) is not None)

    def to_c(self, c=None):
        """This record in the library's C layout (ctypes)."""
        c = c if c is not None else n.CUser()
        c.mask = self.mask
        for name, _bit in USER_FIELDS:
            value = getattr(self, name)
            if value is None:
                continue
            if name.startswith("text"):
                setattr(c, name, encode_text(value, 256, f"User.{name}"))
            else:
                _store(c, name, int(value))
        return c

    @classmethod
    def from_c(cls, c) -> "User":
        """The record read from the library's C layout (ctypes)."""
        values = {}
        for name, bit in USER_FIELDS:
            if c.mask & bit:
                raw = getattr(c, name)
                values[name] = decode_text(raw) if name.startswith("text") else int(raw)
        return cls(**values)


# --- marks -----------------------------------------------------------------

MARK_FIELDS = (
    ("kind", 0x0001), ("id", 0x0002), ("time", 0x0004), ("event", 0x0008), ("index", 0x0010),
    ("direction", 0x0020), ("value", 0x0040), ("flag", 0x0080), ("code", 0x0100),
)  # fmt: skip


@dataclass
class Mark:
    """An attendance mark.  Fields the node did not send are None."""

    id: Optional[int] = None
    time: Optional[_dt.datetime] = None
    event: Optional[Event] = None
    direction: Optional[Direction] = None
    index: Optional[int] = None
    kind: Optional[int] = None
    value: Optional[int] = None
    flag: Optional[int] = None
    code: Optional[str] = None

    @classmethod
    def from_c(cls, c) -> "Mark":
        """The record read from the library's C layout (ctypes)."""
        values = {}
        for name, bit in MARK_FIELDS:
            if not c.mask & bit:
                continue
            if name == "time":
                values[name] = from_c_time(c.date_time)
            elif name == "code":
                values[name] = decode_text(c.code)
            elif name == "event":
                values[name] = Event(c.event)
            elif name == "direction":
                values[name] = Direction(c.direction)
            else:
                values[name] = int(getattr(c, name))
        return cls(**values)


# --- events ----------------------------------------------------------------


@dataclass(frozen=True)
class UserEvent:
    """A user presented a credential at a node."""

    link: int
    node: int
    id: int
    index: int
    event: Event
    direction: Direction
    time: Optional[_dt.datetime]

    @classmethod
    def from_c(cls, link: int, node: int, c) -> "UserEvent":
        """The record read from the library's C layout (ctypes)."""
        return cls(link, node, c.id, c.index, Event(c.event), Direction(c.direction),
                   from_c_time(c.time))  # fmt: skip


@dataclass(frozen=True)
class AuxInputEvent:
    """An auxiliary input of a node changed."""

    link: int
    node: int
    aux_input: int
    aux_value: int
    time: Optional[_dt.datetime]

    @classmethod
    def from_c(cls, link: int, node: int, c) -> "AuxInputEvent":
        """The record read from the library's C layout (ctypes)."""
        return cls(link, node, c.aux_input, c.aux_value, from_c_time(c.time))


@dataclass(frozen=True)
class ConnEvent:
    """The link's connection changed (a node connected in, the link was lost)."""

    link: int
    state: ConnState


# --- auxiliary inputs ------------------------------------------------------


@dataclass
class AuxInput:
    """Settings of an auxiliary input."""

    invert_input: int = 0
    ev_status: int = 0
    time_on: int = 0
    time_off: int = 0
    ev_host: int = 0
    ev_historic: int = 0
    ev_in_condition: int = 0
    ev_rele_condition: int = 0
    schedule_id: int = 0
    extra: bytes = bytes(8)

    def to_c(self):
        """This record in the library's C layout (ctypes)."""
        c = n.CAuxInput()
        for name, _ in dict(n.RECORDS)["nax_aux_input"]:
            if name != "extra":
                _store(c, name, int(getattr(self, name)))
        if len(self.extra) > 8:
            raise ValueError("AuxInput.extra holds at most 8 bytes")
        c.extra[: len(self.extra)] = list(self.extra)
        return c

    @classmethod
    def from_c(cls, c) -> "AuxInput":
        """The record read from the library's C layout (ctypes)."""
        values = {name: getattr(c, name) for name, _ in dict(n.RECORDS)["nax_aux_input"] if name != "extra"}
        return cls(extra=bytes(c.extra), **values)


# --- schedules -------------------------------------------------------------


@dataclass
class ScheduleHeader:
    id: int
    name: str = ""
    hours: int = 0
    segments: int = 0
    time: Optional[_dt.datetime] = None

    def to_c(self):
        """This record in the library's C layout (ctypes)."""
        c = n.CSchdHeader()
        _fill(c, id=self.id, name=encode_text(self.name, 22, "ScheduleHeader.name"),
              hours=self.hours, segments=self.segments, date_time=to_c_time(self.time))  # fmt: skip
        return c

    @classmethod
    def from_c(cls, c) -> "ScheduleHeader":
        """The record read from the library's C layout (ctypes)."""
        return cls(c.id, decode_text(c.name), c.hours, c.segments, from_c_time(c.date_time))


@dataclass
class Segment:
    hours: int
    minutes: int
    enabled: bool = True

    def to_c(self, c) -> None:
        """This record in the library's C layout (ctypes)."""
        _fill(c, hours=self.hours, minutes=self.minutes, enabled=1 if self.enabled else 0)

    @classmethod
    def from_c(cls, c) -> "Segment":
        """The record read from the library's C layout (ctypes)."""
        return cls(c.hours, c.minutes, bool(c.enabled))


@dataclass
class ScheduleEntry:
    id: int
    name: str


# --- tasks -----------------------------------------------------------------


@dataclass
class TaskGroup:
    id: int
    name: str = ""
    items: int = 0
    mask_fields: int = 0xFFFF

    def to_c(self):
        """This record in the library's C layout (ctypes)."""
        c = n.CTaskGroup()
        _fill(c, mask_fields=self.mask_fields, id=self.id, items=self.items,
              name=encode_text(self.name, 17, "TaskGroup.name"))  # fmt: skip
        return c


@dataclass
class TaskItem:
    id: int
    type: int = 0
    name: str = ""
    job_order: str = ""
    mask_fields: int = 0xFFFF

    def to_c(self):
        """This record in the library's C layout (ctypes)."""
        c = n.CTaskItem()
        _fill(c, mask_fields=self.mask_fields, type=self.type, id=self.id,
              name=encode_text(self.name, 17, "TaskItem.name"),
              job_order=encode_text(self.job_order, 10, "TaskItem.job_order"))  # fmt: skip
        return c


# --- answers and display ---------------------------------------------------


@dataclass
class UserEventAnswer:
    """The host's answer to a user event: the user's fields that its set fields select
    (``user.st`` is the answer's status), a print flag and up to ten short texts."""

    user: User
    time: Optional[_dt.datetime] = None
    print_enable: bool = False
    aux: Sequence[str] = field(default_factory=tuple)

    def to_c(self):
        """This record in the library's C layout (ctypes)."""
        if len(self.aux) > 10:
            raise ValueError("UserEventAnswer.aux holds at most 10 texts")
        c = n.CUserEventAnswer()
        c.date_time = to_c_time(self.time)
        self.user.to_c(c.user)
        c.print_enable = 1 if self.print_enable else 0
        for i, text in enumerate(self.aux):
            setattr(c, f"aux{i}", encode_text(text, 45, f"UserEventAnswer.aux[{i}]"))
        return c


@dataclass
class DisplayMessage:
    line: int
    pos: int
    data: str
    cmd_line: int = 0
    cmd_pos: int = 0
    font: int = 0

    def to_c(self, c) -> None:
        """This record in the library's C layout (ctypes)."""
        _fill(c, line=self.line, pos=self.pos, cmd_line=self.cmd_line, cmd_pos=self.cmd_pos,
              font=self.font, data=encode_text(self.data, 50, "DisplayMessage.data"))  # fmt: skip
