"""The library's lifecycle, links, their commands, and the listener."""

from __future__ import annotations

import asyncio
import atexit
import ctypes
import datetime as _dt
import functools
import queue
import threading
import types
from dataclasses import dataclass
from typing import Callable, Iterable, Iterator, List, Optional, Sequence, Union

from . import _native as n
from . import events as ev
from .errors import (
    NO_MARKS,
    NO_MORE_RECORDS,
    NO_USERS,
    SCHEDULES_LAST_PAGE,
    Error,
    LinkError,
    Status,
    check,
)
from .records import (
    AuxInput,
    ConnEvent,
    ConnState,
    DisplayMessage,
    FileMode,
    LinkState,
    Mark,
    ScheduleEntry,
    ScheduleHeader,
    Segment,
    TaskGroup,
    TaskItem,
    User,
    UserEventAnswer,
    UserEvent,
    AuxInputEvent,
    decode_text,
    encode_text,
    from_c_time,
    to_c_time,
)

lib = n.lib
TEMPLATE_SIZE = 384  # bytes of one biometric template
FILE_CHUNK = 512  # most data bytes a node moves in one packet
INFO_SIZE = 512  # answer buffer of get_info

_open_lock = threading.Lock()
_open_links: "set[Link]" = set()
_listeners: "set[Listener]" = set()


# --- lifecycle ---------------------------------------------------------------


def init(log_path: Optional[str] = None, log_level: int = 0) -> None:
    """Starts the library.  log_path None logs to "zavidu.log"; log_level 0 logs nothing."""
    path = None if log_path is None else str(log_path).encode()
    check(lib.nax_init(path, log_level), "init")


def uninit() -> None:
    """Stops the library.  Close links and the listener first (Library does it for you)."""
    check(lib.nax_uninit(), "uninit")


def set_keepalive(timeout: int, retries: int, dest_node: int) -> None:
    """Library-wide keepalive (ms, retries, node addressed); only before init.  0 disables."""
    check(lib.nax_set_keepalive(timeout, retries, dest_node), "set_keepalive")


def set_listen_limits(max_unclaimed: int, claim_timeout: int) -> None:
    """Bounds nodes that connect in but are not accepted: at most max_unclaimed wait at
    once (more are closed at once) and each must be accepted within claim_timeout ms.
    0 lifts a bound (both are off until set); negative values raise LinkError (1037).
    Callable at any time."""
    check(lib.nax_set_listen_limits(max_unclaimed, claim_timeout), "set_listen_limits")


def lib_version() -> str:
    """The library's version text, e.g. "1.1.13"; works before init."""
    buffer = ctypes.create_string_buffer(16)
    lib.nax_lib_version(buffer)
    return buffer.value.decode("ascii", "replace")


class Library:
    """The library's lifetime as a context manager: init on entry; on exit every link and
    listener still open is closed, then uninit."""

    def __init__(self, log_path: Optional[str] = None, log_level: int = 0,
                 keepalive: Optional[tuple] = None) -> None:  # fmt: skip
        self.log_path = log_path
        self.log_level = log_level
        self.keepalive = keepalive

    def __enter__(self) -> "Library":
        if self.keepalive is not None:
            set_keepalive(*self.keepalive)
        init(self.log_path, self.log_level)
        return self

    def __exit__(self, *exc) -> None:
        close_all()
        uninit()


def close_all() -> None:
    """Closes every link and listener this process still has open."""
    with _open_lock:
        links, listeners = list(_open_links), list(_listeners)
    for link in links:
        link.close()
    for listener in listeners:
        listener.close()


@atexit.register
def _close_at_exit() -> None:
    # Reception threads must not call into an interpreter that is shutting down.
    try:
        close_all()
    except Error:
        pass


# --- links -------------------------------------------------------------------


class AsyncLink:
    """A link's commands as coroutines, for asyncio hosts: ``await link.aio.get_time(1)``,
    ``users = await link.aio.users(1)``.

    The library's calls block until the node answers, so each runs in the event loop's
    default thread pool; the loop goes on meanwhile.  Iterators (users, marks, schedules)
    come back as lists.  Events have their own async form: ``async for e in link.events()``.
    """

    def __init__(self, link: "Link") -> None:
        self._link = link

    def __getattr__(self, name: str):
        command = getattr(self._link, name)
        if name.startswith("_") or not callable(command) or name in ("events", "aio"):
            raise AttributeError(f"AsyncLink has no command {name!r}")

        @functools.wraps(command)
        async def run_in_thread(*args, **kwargs):
            def run():
                result = command(*args, **kwargs)
                return list(result) if isinstance(result, types.GeneratorType) else result

            return await asyncio.get_running_loop().run_in_executor(None, run)

        return run_in_thread

    def __dir__(self):
        return [n for n in dir(self._link) if not n.startswith("_") and n not in ("events", "aio")
                and callable(getattr(self._link, n))]  # fmt: skip


@dataclass
class Page:
    """One answer of a paged list: the records and whether the node said there are no more."""

    records: list
    last: bool
    status: int


Handler = Optional[Callable[[object], None]]


class Link:
    """An open link to one or more nodes, made by vedodiroz.open() or accepted from a
    Listener.  Commands take the node number first and block until the node answers;
    ``link.aio`` has them as coroutines for asyncio hosts."""

    def __init__(self, link_id: int, token: int, state: LinkState) -> None:
        self.id = link_id
        self._token = token
        self._state = state
        self._lock = threading.Lock()
        self._handlers: dict = {UserEvent: None, AuxInputEvent: None, ConnEvent: None}
        self._streams: list = []
        self.node: Optional[int] = None  # the node number an accepted node reported
        self.port: Optional[int] = None  # the listened port an accepted node came in on
        with _open_lock:
            _open_links.add(self)

    def __repr__(self) -> str:
        return f"<vedodiroz.Link {self.id} {self._state!r}>"

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    @property
    def state(self) -> LinkState:
        """The link's state as the library sees it (OPEN, ACCEPTED, CLOSING ...)."""
        return self._state

    @property
    def closed(self) -> bool:
        """True once the link was closed or lost; commands then raise LinkError."""
        return bool(self._state & LinkState.CLOSING)

    def close(self) -> None:
        """Closes the link; closing a closed or lost link does nothing."""
        if ev.in_callback_of(self):
            raise RuntimeError("a link cannot be closed from inside its own callback")
        with self._lock:
            if self.closed:
                return
            self._state = LinkState.CLOSING
        status = lib.nax_close(self.id)
        self._finish()
        # 1056: the link was being closed by its own thread after a loss at that moment.
        check(status, "close", Status.ERR_LINK_STATE)

    def _finish(self) -> None:
        with self._lock:
            self._state = LinkState.CLOSING
            streams, self._streams = self._streams, []
        for stream in streams:
            stream._end()
        ev.unregister(self._token, self.id)
        with _open_lock:
            _open_links.discard(self)

    @property
    def aio(self) -> "AsyncLink":
        """The link's commands as coroutines: ``await link.aio.get_time(1)``."""
        return AsyncLink(self)

    # -- per-link settings --
    @property
    def protocol(self) -> int:
        """The link's packet protocol (1 or 2; 0 when the link cannot be taken)."""
        return lib.nax_get_packet_protocol(self.id)

    @protocol.setter
    def protocol(self, value: int) -> None:
        self.set_packet_protocol(value)

    def get_packet_protocol(self) -> int:
        """The link's packet protocol: 1 or 2 (0 when the link cannot be taken)."""
        return self.protocol

    def set_packet_protocol(self, value: int) -> None:
        """Switches the link to packet protocol 1 or 2 for the following commands."""
        check(lib.nax_set_packet_protocol(self.id, value), "set_packet_protocol")

    def set_source_node(self, node: int) -> None:
        """Sets the node number the library sends as on this link."""
        check(lib.nax_set_source_node(self.id, node), "set_source_node")

    def set_rcv_timeout(self, ms: int) -> None:
        """Sets how long each command waits for the node's answer, in ms (3000 at first)."""
        check(lib.nax_set_rcv_timeout(self.id, ms), "set_rcv_timeout")

    def set_snd_timeout(self, ms: int) -> None:
        """Sets how long sending a request may take, in ms."""
        check(lib.nax_set_snd_timeout(self.id, ms), "set_snd_timeout")

    def set_interbyte_timeout(self, ms: int) -> None:
        """Sets the longest pause inside one answer frame, in ms."""
        check(lib.nax_set_interbyte_timeout(self.id, ms), "set_interbyte_timeout")

    # -- events --
    def on_user_event(self, handler: Handler) -> Handler:
        """Calls handler(UserEvent) on the link's reception thread; None stops.  Returns the
        previous handler.  What the handler raises is logged and the link goes on."""
        return self._set_handler(UserEvent, handler)

    def on_aux_input_event(self, handler: Handler) -> Handler:
        """Calls handler(AuxInputEvent) on the reception thread; None stops."""
        return self._set_handler(AuxInputEvent, handler)

    def on_conn(self, handler: Handler) -> Handler:
        """Calls handler(ConnEvent) when the link is lost (state LOST or NO_KEEPALIVE)."""
        return self._set_handler(ConnEvent, handler)

    # Aliases named after the C setters.
    set_user_callback = on_user_event
    set_aux_input_callback = on_aux_input_event
    set_conn_callback = on_conn

    def events(self, maxsize: int = 0) -> ev.EventStream:
        """A stream of every event of the link from now on (blocking and async iterator).

        A node that learns the link's protocol from the first request it receives (naxsim
        without a protocol) sends no events before one: send a command first."""
        stream = ev.EventStream(self._detach, maxsize)
        with self._lock:
            if self.closed:
                stream._end()
                return stream
            self._streams.append(stream)
        self._update_callbacks()
        return stream

    def _detach(self, stream) -> None:
        with self._lock:
            if stream in self._streams:
                self._streams.remove(stream)
        if not self.closed:
            try:
                self._update_callbacks()
            except Error:  # lost meanwhile: nothing left to switch off
                pass

    def _set_handler(self, kind, handler: Handler) -> Handler:
        with self._lock:
            previous, self._handlers[kind] = self._handlers[kind], handler
        if not self.closed:
            self._update_callbacks()
        return previous

    def _update_callbacks(self) -> None:
        with self._lock:
            streams = bool(self._streams)
            user = streams or self._handlers[UserEvent] is not None
            aux = streams or self._handlers[AuxInputEvent] is not None
        check(lib.nax_set_user_callback(self.id, ev.USER_CALLBACK if user else ev.NO_USER_CALLBACK),
              "set_user_callback")  # fmt: skip
        check(lib.nax_set_aux_input_callback(self.id, ev.AUX_INPUT_CALLBACK if aux else ev.NO_AUX_INPUT_CALLBACK),
              "set_aux_input_callback")  # fmt: skip

    def _deliver(self, event) -> None:
        """Runs on the library's thread."""
        lost = isinstance(event, ConnEvent) and event.state != ConnState.CONNECTED
        with self._lock:
            handler = self._handlers[type(event)]
            streams = list(self._streams)
        for stream in streams:
            stream._put(event)
        ev.call_handler(handler, event, self)
        if lost:
            self._finish()

    # -- helpers --
    def _call(self, name: str, *args, accepted: Sequence[int] = ()) -> int:
        _, argtypes = n.FUNCTIONS["nax_" + name]
        for i, (ctype, value) in enumerate(zip(argtypes[1:], args), start=2):
            n.check_range(ctype, value, f"{name}: argument {i}")
        return check(getattr(lib, "nax_" + name)(self.id, *args), name, *accepted)

    # -- clock --
    def get_time(self, node: int) -> _dt.datetime:
        """The node's clock as a datetime (ValueError when the node keeps an impossible date)."""
        c = n.DateTime()
        self._call("get_time", node, ctypes.byref(c))
        when = from_c_time(c)
        if when is None:
            raise ValueError(
                f"node {node} keeps an invalid clock: 20{c.year:02d}-{c.month:02d}-{c.day:02d} "
                f"{c.hour:02d}:{c.minute:02d}:{c.second:02d}"
            )
        return when

    def set_time(self, node: int, when: Optional[_dt.datetime] = None,
                 weekday: Optional[int] = None) -> None:  # fmt: skip
        """Sets the node's clock (default: the host's local time now)."""
        c = to_c_time(when if when is not None else _dt.datetime.now(), weekday)
        self._call("set_time", node, ctypes.byref(c))

    # -- numeric parameters --
    def get_num_cfg(self, node: int, num_id: int, size: int = 2) -> int:
        """A numeric parameter of the node (size 1, 2 or 4 bytes); parameter 0 is its node number."""
        value = ctypes.c_uint32()
        self._call("get_num_cfg", node, size, num_id, ctypes.byref(value))
        return value.value

    def set_num_cfg(self, node: int, num_id: int, value: int, size: int = 2) -> None:
        """Sets a numeric parameter of the node (size 1, 2 or 4 bytes)."""
        if value >= 1 << 31:
            value -= 1 << 32  # the value travels as its 32 bits
        self._call("set_num_cfg", node, size, num_id, value)

    # -- auxiliary inputs and relay --
    def get_aux_input(self, node: int, input_id: int) -> AuxInput:
        """The configuration of one auxiliary input."""
        c = n.CAuxInput()
        self._call("get_aux_input", node, input_id, ctypes.byref(c))
        return AuxInput.from_c(c)

    def set_aux_input(self, node: int, input_id: int, aux: AuxInput) -> None:
        """Replaces the configuration of one auxiliary input."""
        self._call("set_aux_input", node, input_id, ctypes.byref(aux.to_c()))

    def state_aux_input(self, node: int) -> int:
        """Protocol 2: a bit mask of the auxiliary inputs active now."""
        state = ctypes.c_uint32()
        self._call("state_aux_input", node, ctypes.byref(state))
        return state.value

    def rele_control(self, node: int, rele_id: int, time_mode: int) -> None:
        """Drives a relay: time_mode is the node's code for how long or how."""
        self._call("rele_control", node, rele_id, time_mode)

    def answer_aux_input_event(self, node: int, answer_code: int) -> None:
        """Answers an aux input event with a code (protocol 2); sends without waiting."""
        self._call("answer_aux_input_event", node, answer_code)

    # -- users --
    def list_users(self, node: int, first_index: int = 0, count: int = 16) -> Page:
        """One page of users; ``last`` says the node has no more after it."""
        array = (n.CUser * count)()
        stored = ctypes.c_uint16()
        status = self._call("list_users", node, first_index, count, array, ctypes.byref(stored),
                            accepted=(NO_USERS, NO_MORE_RECORDS))  # fmt: skip
        got = min(stored.value, count)
        return Page([User.from_c(array[i]) for i in range(got)], status != 1, status)

    def users(self, node: int, page_size: int = 16) -> Iterator[User]:
        """Every user of the node, asking page after page until the node says no more."""
        return self._paged(self.list_users, node, page_size)

    def _paged(self, lister, node: int, page_size: int) -> Iterator:
        first = 0
        while True:
            # Protocol 1 nodes keep their own position: index 0 starts, any other goes on.
            page = lister(node, first, page_size)
            yield from page.records
            if page.last or not page.records:
                return
            first += len(page.records)

    def _user_batch(self, name: str, node: int, users: Iterable[User], first_index: int) -> int:
        batch = list(users)
        if not batch:
            return 0
        if len(batch) > 1 and self.protocol == 1:
            # Protocol-1 nodes take one user per request.
            return sum(self._user_batch(name, node, [user], first_index + i)
                       for i, user in enumerate(batch))  # fmt: skip
        array = (n.CUser * len(batch))()
        for i, user in enumerate(batch):
            user.to_c(array[i])
        taken = ctypes.c_uint16()
        self._call(name, node, first_index, len(batch), array, ctypes.byref(taken))
        return taken.value

    def add_users(self, node: int, users: Iterable[User], first_index: int = 0) -> int:
        """Sends the users in one request (protocol 1: one request per user); returns how
        many the node took.  A protocol-2 batch must fit one packet (else LinkError 1037)."""
        return self._user_batch("add_user", node, users, first_index)

    def edit_users(self, node: int, users: Iterable[User], first_index: int = 0) -> int:
        """Protocol 2: changes the fields each record's mask names; returns how many the node took."""
        return self._user_batch("edit_user", node, users, first_index)

    def del_users(self, node: int, users: Iterable[Union[User, int]], first_index: int = 0) -> int:
        """Deletes users given as User records or as ids."""
        records = [u if isinstance(u, User) else User(id=u) for u in users]
        return self._user_batch("del_user", node, [User(id=u.id) for u in records], first_index)

    add_user, edit_user, del_user = add_users, edit_users, del_users

    def add_user_in1(self, node: int, user: User, extra: bytes = b"") -> None:
        """Protocol 1: one user with extra bytes after its block."""
        data = bytes(extra)
        buffer = ctypes.create_string_buffer(data, len(data)) if data else None
        self._call("add_user_in1", node, ctypes.byref(user.to_c()), 0, buffer, len(data))

    # -- marks --
    def list_marks(self, node: int, first_index: int = 0, count: int = 16) -> Page:
        """One page of attendance marks; ``last`` says the node has no more after it."""
        array = (n.CMark * count)()
        stored = ctypes.c_uint16()
        status = self._call("list_marks", node, first_index, count, array, ctypes.byref(stored),
                            accepted=(NO_MARKS, NO_MORE_RECORDS))  # fmt: skip
        got = min(stored.value, count)
        return Page([Mark.from_c(array[i]) for i in range(got)], status != 1, status)

    def marks(self, node: int, page_size: int = 16) -> Iterator[Mark]:
        """Every mark of the node, oldest first, until the node says no more."""
        return self._paged(self.list_marks, node, page_size)

    # -- node administration --
    def get_info(self, node: int, query: str) -> str:
        """Asks the node an information query (its own vocabulary, e.g. "model") and returns the answer."""
        answer = ctypes.create_string_buffer(INFO_SIZE)
        self._call("get_info", node, encode_text(query, 512, "query"), answer)
        return decode_text(answer.raw)

    def reset_node(self, node: int, device_id: int = 0, sub_id: int = 0) -> None:
        """Resets a device of the node (device and sub-device as the node numbers them)."""
        self._call("reset_node", node, device_id, sub_id)

    def block_node(self, node: int, value: Union[bool, int]) -> None:
        """Blocks (True) or unblocks (False) the node, or sends the node's own block value."""
        self._call("block_node", node, int(value))

    def flush_table(self, node: int, table_id: int) -> None:
        """Empties one of the node's tables (Table.USERS, Table.MARKS ...)."""
        self._call("flush_table", node, table_id)

    def del_records(self, node: int, table_id: int, count: int) -> int:
        """Protocol 2: deletes the oldest count records of a table; returns how many went."""
        deleted = ctypes.c_uint16()
        self._call("del_records", node, table_id, count, ctypes.byref(deleted))
        return deleted.value

    # -- schedules --
    def get_schd_header(self, node: int, schd_id: int) -> ScheduleHeader:
        """The header of one schedule."""
        c = n.CSchdHeader()
        self._call("get_schd_header", node, schd_id, ctypes.byref(c))
        return ScheduleHeader.from_c(c)

    def set_schd_header(self, node: int, header: ScheduleHeader) -> None:
        """Creates or replaces the header of a schedule."""
        self._call("set_schd_header", node, ctypes.byref(header.to_c()))

    def get_schd_segments(self, node: int, schd_id: int, first_index: int = 0,
                          count: int = 64) -> List[Segment]:  # fmt: skip
        """count time segments of a schedule from first_index (all when count is None)."""
        array = (n.CSchdSegment * count)()
        received = ctypes.c_uint32()
        self._call("get_schd_segments", node, schd_id, array, first_index, count,
                   ctypes.byref(received))  # fmt: skip
        return [Segment.from_c(array[i]) for i in range(min(received.value, count))]

    def set_schd_segments(self, node: int, schd_id: int, segments: Sequence[Segment],
                          first_index: int = 0) -> int:  # fmt: skip
        """Writes time segments of a schedule from first_index; returns how many were stored."""
        array = (n.CSchdSegment * max(len(segments), 1))()
        for i, segment in enumerate(segments):
            segment.to_c(array[i])
        count_out = ctypes.c_uint32()
        self._call("set_schd_segments", node, schd_id, array, first_index, len(segments),
                   ctypes.byref(count_out))  # fmt: skip
        return count_out.value

    def del_schd(self, node: int, schd_id: int) -> None:
        """Deletes a schedule."""
        self._call("del_schd", node, schd_id)

    def list_schd(self, node: int, start_id: int = 0, capacity: int = 16):
        """One page of schedules from start_id: (entries, next start id, last page)."""
        array = (n.CSchdEntry * capacity)()
        start = ctypes.c_uint16(start_id)
        received = ctypes.c_uint32()
        status = self._call("list_schd", node, array, ctypes.byref(start), capacity,
                            ctypes.byref(received), accepted=(SCHEDULES_LAST_PAGE,))  # fmt: skip
        entries = [ScheduleEntry(array[i].id, decode_text(array[i].name))
                   for i in range(min(received.value, capacity))]  # fmt: skip
        return entries, start.value, status == SCHEDULES_LAST_PAGE

    def schedules(self, node: int, page_size: int = 16) -> Iterator[ScheduleEntry]:
        """Every schedule of the node, page after page."""
        start = 0
        while True:
            entries, following, last = self.list_schd(node, start, page_size)
            yield from entries
            if last or not entries or following <= start:
                return
            start = following

    # -- biometric templates --
    def read_template(self, node: int, sensor_id: int, access_id: int, template_id: int) -> bytes:
        """A biometric template (384 bytes) of an access id on a sensor."""
        buffer = ctypes.create_string_buffer(TEMPLATE_SIZE)
        self._call("read_template", node, sensor_id, access_id, template_id, buffer,
                   TEMPLATE_SIZE)  # fmt: skip
        return buffer.raw

    def write_template(self, node: int, sensor_id: int, access_id: int, template_id: int,
                       data: bytes) -> None:  # fmt: skip
        """Protocol 2: stores a biometric template (at most 384 bytes, padded with zeros)."""
        raw = bytes(data)
        self._call("write_template", node, sensor_id, access_id, template_id,
                   ctypes.create_string_buffer(raw, len(raw)), len(raw))  # fmt: skip

    def del_template(self, node: int, sensor_id: int, access_id: int, template_id: int) -> None:
        """Protocol 2: deletes one biometric template."""
        self._call("del_template", node, sensor_id, access_id, template_id)

    def flush_templates(self, node: int, sensor_id: int) -> None:
        """Protocol 2: deletes every template of a sensor."""
        self._call("flush_templates", node, sensor_id)

    # -- tasks --
    def add_task_group(self, node: int, group: TaskGroup) -> None:
        """Protocol 2: creates a task group."""
        self._call("add_task_group", node, ctypes.byref(group.to_c()))

    def add_task_item(self, node: int, group_id: int, item: TaskItem) -> None:
        """Protocol 2: adds an item to a task group."""
        self._call("add_task_item", node, group_id, ctypes.byref(item.to_c()))

    # -- files --
    def fopen(self, node: int, fname: str, flags: int = FileMode.READ) -> int:
        """Opens a file on the node; returns the size the node reports."""
        size = ctypes.c_uint32()
        self._call("fopen", node, encode_text(fname, 512, "fname"), int(flags), ctypes.byref(size))
        return size.value

    def fread(self, node: int, size: int = FILE_CHUNK) -> bytes:
        """The next chunk of the open file (empty at its end)."""
        buffer = ctypes.create_string_buffer(size)
        got = ctypes.c_uint32()
        self._call("fread", node, buffer, size, ctypes.byref(got))
        return buffer.raw[: min(got.value, size)]

    def fwrite(self, node: int, data: bytes) -> None:
        """Protocol 2: writes up to 512 bytes to the open file."""
        raw = bytes(data)
        self._call("fwrite", node, ctypes.create_string_buffer(raw, len(raw)), len(raw))

    def fclose(self, node: int) -> int:
        """Closes the open file; returns the node's crc32 of it."""
        crc = ctypes.c_uint32()
        self._call("fclose", node, ctypes.byref(crc))
        return crc.value

    def fdel(self, node: int, fname: str) -> None:
        """Protocol 2: deletes a file on the node."""
        self._call("fdel", node, encode_text(fname, 512, "fname"))

    def read_file(self, node: int, fname: str) -> bytes:
        """The whole file, read chunk by chunk."""
        size = self.fopen(node, fname, FileMode.READ)
        chunks, got = [], 0
        try:
            while got < size:
                chunk = self.fread(node, FILE_CHUNK)
                if not chunk:
                    break
                chunks.append(chunk)
                got += len(chunk)
        finally:
            self.fclose(node)
        return b"".join(chunks)

    def write_file(self, node: int, fname: str, data: bytes) -> int:
        """Writes the whole file; returns the node's crc32."""
        self.fopen(node, fname, FileMode.WRITE)
        try:
            for at in range(0, len(data), FILE_CHUNK):
                self.fwrite(node, data[at : at + FILE_CHUNK])
        except BaseException:
            self.fclose(node)
            raise
        return self.fclose(node)

    # -- answers and display --
    def answer_user_event(self, node: int, answer: Union[UserEventAnswer, User]) -> None:
        """Answers a user event (may be called from inside the event handler)."""
        if isinstance(answer, User):
            answer = UserEventAnswer(answer)
        self._call("answer_user_event", node, ctypes.byref(answer.to_c()))

    def display_msg(self, node: int, messages: Sequence[DisplayMessage], timer: int = 0) -> int:
        """Shows up to 8 messages; returns the node's answer word."""
        array = (n.CDisplayMessage * max(len(messages), 1))()
        for i, message in enumerate(messages):
            message.to_c(array[i])
        answer = ctypes.c_uint16()
        self._call("display_msg", node, len(messages), array, timer, ctypes.byref(answer))
        return answer.value


def open(conn: str, protocol: int = 2, source_node: int = 0x100,  # noqa: A001
         timeout: int = 3000) -> Link:  # fmt: skip
    """Opens a link: conn is "host:port", "a.b.c.d port" or "/dev/ttyX:baud"."""
    status = ctypes.c_uint32()
    holder: list = []
    token = ev.register(_Pending(holder))
    link_id = lib.nax_open(ctypes.byref(status), source_node, protocol, conn.encode(), timeout,
                           token, ev.NO_USER_CALLBACK, ev.NO_AUX_INPUT_CALLBACK,
                           ev.CONN_CALLBACK)  # fmt: skip
    if link_id == 0:
        ev.unregister(token)
        raise Error.of(status.value or Status.ERR_INVALID_ARG, "open")
    link = Link(link_id, token, LinkState.OPEN)
    ev.register_as(token, link)
    ev.bind_link_id(link_id, link)
    for event in holder:  # lost before nax_open returned
        link._deliver(event)
    return link


class _Pending:
    """Stands for a link whose id is not known yet; keeps what arrives meanwhile."""

    def __init__(self, holder: list) -> None:
        self.holder = holder

    def _deliver(self, event) -> None:
        self.holder.append(event)


# --- listener ------------------------------------------------------------------


@dataclass
class Incoming:
    """A node that connected to the listener and waits to be accepted."""

    link_id: int

    def accept(self, protocol: int = 2, source_node: int = 0x100, node: int = 0, port: int = 0,
               rcv_timeout: int = 3000) -> Link:  # fmt: skip
        """Claims this node's link; node 0 takes whatever number the node reports."""
        return _accept(self.link_id, protocol, source_node, node, port, 0, rcv_timeout)


def accept(protocol: int = 2, source_node: int = 0x100, node: int = 0, port: int = 0,
           accept_timeout: int = 3000, rcv_timeout: int = 3000) -> Link:  # fmt: skip
    """Claims the first waiting node's link (any link id), looking for accept_timeout ms."""
    return _accept(0, protocol, source_node, node, port, accept_timeout, rcv_timeout)


def _accept(link_id, protocol, source_node, node, port, accept_timeout, rcv_timeout) -> Link:
    lid, dest, p = ctypes.c_uint32(link_id), ctypes.c_uint16(node), ctypes.c_uint16(port)
    check(lib.nax_accept(ctypes.byref(lid), ctypes.byref(dest), ctypes.byref(p), protocol,
                         source_node, accept_timeout, rcv_timeout), "accept")  # fmt: skip
    link = Link(lid.value, 0, LinkState.ACCEPTED)
    link._token = ev.register(link)
    link.node = dest.value
    link.port = p.value
    # The reception thread of a listened link started before anybody could give it
    # callbacks; events find this Link by its id.
    ev.bind_link_id(link.id, link)
    check(lib.nax_set_callback_args(link.id, link._token), "set_callback_args")
    check(lib.nax_set_conn_callback(link.id, ev.CONN_CALLBACK), "set_conn_callback")
    return link


class Listener:
    """The library's listener.  Iterating yields each node that connects in (Incoming)."""

    def __init__(self, port: int, timeout: int = 1000) -> None:
        self.port = port
        self._queue: queue.Queue = queue.Queue()
        self._token = ev.register(self)
        status = ctypes.c_uint32()
        self.id = lib.nax_listen(ctypes.byref(status), port, timeout, self._token,
                                 ev.CONN_CALLBACK)  # fmt: skip
        if self.id == 0:
            ev.unregister(self._token)
            raise Error.of(status.value or Status.ERR_INVALID_ARG, "listen")
        with _open_lock:
            _listeners.add(self)

    def _deliver(self, event) -> None:
        if isinstance(event, ConnEvent) and event.state == ConnState.CONNECTED:
            self._queue.put(Incoming(event.link))

    def next(self, timeout: Optional[float] = None) -> Incoming:
        """The next node that connected; queue.Empty after timeout seconds."""
        return self._queue.get(timeout=timeout)

    def __iter__(self) -> Iterator[Incoming]:
        """Yields nodes as they connect, until the listener is closed."""
        while self.id:
            try:
                yield self._queue.get(timeout=0.2)
            except queue.Empty:
                continue

    def accept(self, **kwargs) -> Link:
        """Claims the first waiting node (see vedodiroz.accept)."""
        return accept(port=kwargs.pop("port", self.port), **kwargs)

    def close(self) -> None:
        """Stops listening; links already accepted stay open."""
        if not self.id:
            return
        status = lib.nax_close_listen(self.id)
        self.id = 0
        ev.unregister(self._token)
        with _open_lock:
            _listeners.discard(self)
        check(status, "close_listen")

    def __enter__(self) -> "Listener":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def listen(port: int, timeout: int = 1000) -> Listener:
    """Listens for nodes on a TCP port; timeout (ms) is how long to wait for a busy port."""
    return Listener(port, timeout)


__all__ = ["Library", "Link", "Listener", "Incoming", "Page", "LinkError", "open", "listen",
           "accept", "init", "uninit", "set_keepalive", "set_listen_limits", "lib_version", "close_all"]  # fmt: skip
