"""Delivery of events from the library's threads to Python: callbacks and streams."""

from __future__ import annotations

import asyncio
import itertools
import logging
import queue
import threading
from typing import Optional

from . import _native as n
from .records import AuxInputEvent, ConnEvent, ConnState, UserEvent

log = logging.getLogger("vedodiroz")

_END = object()
_lock = threading.Lock()
_by_token: dict = {}  # token -> Link or Listener
_by_link_id: dict = {}  # link id -> Link (links whose thread was started by a listener)
_tokens = itertools.count(1)
_local = threading.local()


def register(target) -> int:
    with _lock:
        token = next(_tokens)
        _by_token[token] = target
        return token


def bind_link_id(link_id: int, target) -> None:
    with _lock:
        _by_link_id[link_id] = target


def unregister(token: int, link_id: int = 0) -> None:
    with _lock:
        target = _by_token.pop(token, None)
        if link_id and target is not None and _by_link_id.get(link_id) is target:
            del _by_link_id[link_id]


def _target(args: Optional[int], link_id: int):
    with _lock:
        found = _by_token.get(args) if args else None
        return found if found is not None else _by_link_id.get(link_id)


def in_callback_of(target) -> bool:
    """True on a library thread that is running one of target's callbacks."""
    return getattr(_local, "target", None) is target


def call_handler(handler, event, target) -> None:
    """Runs a host handler; what it raises is logged, never passed to the library's thread."""
    if handler is None:
        return
    _local.target = target
    try:
        handler(event)
    except Exception:
        log.exception("event handler %r raised on %r", handler, event)
    finally:
        _local.target = None


# One C callback of each kind for the whole process: they never die, so the library
# can never call into freed memory.  Targets are found by callback argument or link id.
@n.USER_CALLBACK
def _user_callback(args, link_id, node, event):
    try:
        target = _target(args, link_id)
        if target is not None and event:
            target._deliver(UserEvent.from_c(link_id, node, event.contents))
    except Exception:
        log.exception("user event on link %d dropped", link_id)


@n.AUX_INPUT_CALLBACK
def _aux_input_callback(args, link_id, node, event):
    try:
        target = _target(args, link_id)
        if target is not None and event:
            target._deliver(AuxInputEvent.from_c(link_id, node, event.contents))
    except Exception:
        log.exception("aux input event on link %d dropped", link_id)


@n.CONN_CALLBACK
def _conn_callback(args, link_id, state):
    try:
        target = _target(args, link_id)
        if target is None:
            return
        try:
            conn = ConnState(state)
        except ValueError:
            log.warning("link %d: unknown connection state %d", link_id, state)
            return
        target._deliver(ConnEvent(link_id, conn))
    except Exception:
        log.exception("connection event on link %d dropped", link_id)


USER_CALLBACK = _user_callback
AUX_INPUT_CALLBACK = _aux_input_callback
CONN_CALLBACK = _conn_callback
# Null function pointers: "no callback".
NO_USER_CALLBACK = n.USER_CALLBACK()
NO_AUX_INPUT_CALLBACK = n.AUX_INPUT_CALLBACK()
NO_CONN_CALLBACK = n.CONN_CALLBACK()


class EventStream:
    """Events of a link as they arrive, for ``for`` and ``async for`` alike.

    Iteration ends when the link is closed or lost (the ConnEvent of a loss is the last
    item) or when the stream is closed.  ``get(timeout)`` waits at most timeout seconds
    and raises ``queue.Empty`` (a TimeoutError) when nothing came.
    """

    def __init__(self, detach, maxsize: int = 0) -> None:
        self._queue: queue.Queue = queue.Queue(maxsize)
        self._detach = detach
        self._ended = False
        self._wakers: list = []  # (loop, asyncio.Event)
        self._wlock = threading.Lock()

    # -- producer side (library threads) --
    def _put(self, item) -> None:
        try:
            self._queue.put_nowait(item)
        except queue.Full:
            log.warning("event stream full, event dropped: %r", item)
            return
        with self._wlock:
            wakers = list(self._wakers)
        for loop, flag in wakers:
            try:
                loop.call_soon_threadsafe(flag.set)
            except RuntimeError:  # the loop has closed
                pass

    def _end(self) -> None:
        if not self._ended:
            self._ended = True
            self._put(_END)

    # -- consumer side --
    def get(self, timeout: Optional[float] = None):
        """The next event; StopIteration once the stream has ended."""
        item = self._queue.get(timeout=timeout)
        if item is _END:
            self._queue.put_nowait(_END)  # stays ended for every later call
            raise StopIteration
        return item

    def __iter__(self):
        return self

    def __next__(self):
        return self.get()

    def __aiter__(self):
        return self

    async def __anext__(self):
        loop = asyncio.get_running_loop()
        flag = asyncio.Event()
        with self._wlock:
            self._wakers.append((loop, flag))
        try:
            while True:
                flag.clear()
                try:
                    return self.get(timeout=0)
                except queue.Empty:
                    pass
                except StopIteration:
                    raise StopAsyncIteration from None
                await flag.wait()
        finally:
            with self._wlock:
                self._wakers.remove((loop, flag))

    def close(self) -> None:
        """Stops this stream; events are no longer queued for it."""
        self._detach(self)
        self._end()

    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def register_as(token: int, target) -> None:
    with _lock:
        _by_token[token] = target
