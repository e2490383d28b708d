"""Events reach handlers, blocking and async iterators; a raising handler stops nothing."""

import asyncio
import ctypes
import datetime as dt
import itertools
import logging
import queue
import threading

import pytest

import vedodiroz as nax
from vedodiroz import _native as n
from vedodiroz import events as ev

WAIT = 10  # seconds: an upper bound on waiting for an event, not a measured time


def test_handlers_and_streams_get_events_past_a_raising_handler(naxsim_factory, protocol, caplog):
    sim = naxsim_factory(protocol=protocol, events_every=30)
    got, calls = queue.Queue(), itertools.count()

    async def three_ids(link):
        ids = []
        async for event in link.events():
            ids.append(event.id)
            if len(ids) == 3:
                return ids

    with caplog.at_level(logging.ERROR, logger="vedodiroz"), nax.open(sim.conn, protocol=protocol) as link:

        def handler(event):  # one event at a time; later answers would race the commands below
            if next(calls) < 2:
                link.answer_user_event(event.node, nax.User(id=event.id, st=1))  # from inside
                with pytest.raises(RuntimeError, match="inside"):
                    link.close()
                got.put(event)
            raise ZeroDivisionError("host bug")

        assert link.on_user_event(handler) is None
        ids = asyncio.run(asyncio.wait_for(three_ids(link), WAIT))
        assert ids == sorted(ids) and len(set(ids)) == 3
        first, second = got.get(timeout=WAIT), got.get(timeout=WAIT)
        assert isinstance(first, nax.UserEvent) and (first.link, first.node) == (link.id, 1)
        assert second.id == first.id + 1 and first.event == nax.Event.WORD_0 and first.time is not None
        assert link.get_info(1, "model") == "NX-SIM" and link.on_user_event(None) is handler
        seen = []
        for event in link.events():  # ends when the link closes
            seen.append(event)
            if len(seen) == 3:
                threading.Thread(target=link.close).start()
        assert len(seen) >= 3 and all(isinstance(e, nax.UserEvent) for e in seen)
    assert any(r.exc_info and r.exc_info[0] is ZeroDivisionError for r in caplog.records)


def test_lost_link_reaches_handler_and_ends_streams(naxsim_factory):
    sim = naxsim_factory(protocol=2)
    got = queue.Queue()
    link = nax.open(sim.conn)
    link.on_conn(got.put)
    stream = link.events()
    sim.stop()
    event = got.get(timeout=WAIT)
    assert event == nax.ConnEvent(link.id, nax.ConnState.LOST)
    assert list(stream) == [event] and link.closed  # the loss is the stream's last item
    with pytest.raises(StopIteration):
        stream.get(timeout=0)


def test_aux_input_events_reach_handler_and_stream(naxsim):
    # naxsim sends no aux input events: the reception thread's call is played here.
    got = queue.Queue()
    with nax.open(naxsim.conn) as link:
        link.on_aux_input_event(got.put)
        stream = link.events()
        record = n.CAuxInputEvent(aux_input=3, aux_value=1)
        record.time = n.DateTime(hour=8, minute=30, second=5, year=31, month=2, day=28)
        ev.AUX_INPUT_CALLBACK(link._token, link.id, 1, ctypes.pointer(record))
        want = nax.AuxInputEvent(link.id, 1, 3, 1, dt.datetime(2031, 2, 28, 8, 30, 5))
        assert got.get(timeout=WAIT) == want and stream.get(timeout=WAIT) == want
        record.time.month = 13  # a date no calendar has; no callback argument either
        ev.AUX_INPUT_CALLBACK(None, link.id, 1, ctypes.pointer(record))
        assert got.get(timeout=WAIT).time is None
