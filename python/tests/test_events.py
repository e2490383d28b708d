"""Events reach handlers, blocking and async iterators; a raising handler stops nothing; nodes
that connect in are yielded by the listener and accepted into links."""

import asyncio
import ctypes
import datetime as dt
import itertools
import logging
import queue
import socket
import threading

import pytest

import vedodiroz as nax
from vedodiroz import _native as n
from vedodiroz import events as ev

WAIT = 10  # seconds: an upper bound on waiting for an event, not a measured time


def test_handlers_and_streams_get_events_past_a_raising_handler(naxsim_factory, protocol, caplog):
    sim = naxsim_factory(protocol=protocol, events_every=30)
    got, calls = queue.Queue(), itertools.count()

    async def three_ids(stream):
        return [(await stream.__anext__()).id for _ in range(3)]

    with caplog.at_level(logging.ERROR, logger="vedodiroz"), nax.open(sim.conn, protocol=protocol) as link:

        def handler(event):  # one event at a time; later answers would race the commands below
            if next(calls) < 2:
                link.answer_user_event(event.node, nax.User(id=event.id, st=1))  # from inside
                with pytest.raises(RuntimeError, match="inside"):
                    link.close()
                got.put(event)
            raise ZeroDivisionError("host bug")

        assert link.on_user_event(handler) is None
        ids = asyncio.run(asyncio.wait_for(three_ids(link.events()), WAIT))
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
        stream.get(timeout=0)  # and it stays ended


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


def test_incoming_nodes_are_claimed_by_number_or_by_scan(naxsim_factory):
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        port = s.getsockname()[1]
    with nax.listen(port) as listener:
        naxsim_factory(connect=f"127.0.0.1:{port}", node=7, protocol=2)
        incoming = listener.next(timeout=10)
        with pytest.raises(nax.LinkError, match="status 1057"):
            incoming.accept(node=6)  # the node says it is 7
        with incoming.accept(protocol=2, source_node=0x100) as link:  # still claimable
            assert (link.id, link.node, link.port) == (incoming.link_id, 7, port)
            assert link.state == nax.LinkState.ACCEPTED and link.get_info(7, "serial") == "SIM-00007"
        naxsim_factory(connect=f"127.0.0.1:{port}", node=3, protocol=1)
        listener.next(timeout=10)
        with listener.accept(protocol=1, node=3, accept_timeout=2000) as scanned:
            assert (scanned.node, scanned.port, scanned.protocol) == (3, port, 1)
        with pytest.raises(nax.LinkError):
            listener.accept(accept_timeout=200)  # nobody else waits
