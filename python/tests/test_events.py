"""Events reach handlers, blocking and async iterators; a raising handler stops nothing."""

import asyncio
import ctypes
import datetime as dt
import logging
import queue
import threading

import pytest

import vedodiroz as nax

WAIT = 10  # seconds: an upper bound on waiting for an event, not a measured time


def _collector():
    got = queue.Queue()
    return got, got.put


def test_handler_gets_user_events(naxsim_factory, protocol):
    sim = naxsim_factory(protocol=protocol, events_every=50)
    got, put = _collector()
    with nax.open(sim.conn, protocol=protocol) as link:
        assert link.on_user_event(put) is None
        first, second = got.get(timeout=WAIT), got.get(timeout=WAIT)
        assert isinstance(first, nax.UserEvent)
        assert (first.link, first.node) == (link.id, 1)
        assert second.id == first.id + 1
        assert first.event == nax.Event.WORD_0 and first.time is not None
        assert link.on_user_event(None) is put


def test_raising_handler_is_logged_and_the_link_goes_on(naxsim_factory, caplog):
    sim = naxsim_factory(protocol=2, events_every=50)
    calls = []

    def handler(event):
        calls.append(event)
        raise RuntimeError("host bug")

    with caplog.at_level(logging.ERROR, logger="vedodiroz"):
        with nax.open(sim.conn) as link:
            link.on_user_event(handler)
            stream = link.events()
            for _ in range(3):  # the reception thread keeps delivering after each raise
                assert isinstance(stream.get(timeout=WAIT), nax.UserEvent)
            assert link.get_info(1, "model") == "NX-SIM"  # and commands still work
    assert len(calls) >= 2
    assert any("host bug" in r.getMessage() or "host bug" in str(r.exc_info) for r in caplog.records)


def test_answer_from_inside_the_handler(naxsim_factory, protocol):
    sim = naxsim_factory(protocol=protocol, events_every=50)
    answered, put = _collector()
    with nax.open(sim.conn, protocol=protocol) as link:

        def handler(event):
            link.answer_user_event(event.node, nax.User(id=event.id, st=1))
            put(event)

        link.on_user_event(handler)
        assert answered.get(timeout=WAIT).id >= 1
        assert answered.get(timeout=WAIT).id >= 2


def test_close_from_inside_the_handler_is_refused(naxsim_factory, caplog):
    sim = naxsim_factory(protocol=2, events_every=50)
    errors, put = _collector()
    with nax.open(sim.conn) as link:

        def handler(event):
            try:
                link.close()
            except RuntimeError as e:
                put(e)

        link.on_user_event(handler)
        assert "inside" in str(errors.get(timeout=WAIT))
        assert not link.closed


def test_blocking_iterator_ends_when_the_link_closes(naxsim_factory):
    sim = naxsim_factory(protocol=2, events_every=30)
    with nax.open(sim.conn) as link:
        seen = []
        for event in link.events():
            seen.append(event)
            if len(seen) == 3:
                threading.Thread(target=link.close).start()
        assert len(seen) >= 3
        assert all(isinstance(e, nax.UserEvent) for e in seen)


def test_async_iterator(naxsim_factory):
    sim = naxsim_factory(protocol=2, events_every=30)

    async def main():
        with nax.open(sim.conn) as link:
            ids = []
            async for event in link.events():
                ids.append(event.id)
                if len(ids) == 3:
                    break
            return ids

    ids = asyncio.run(asyncio.wait_for(main(), WAIT))
    assert ids == sorted(ids) and len(set(ids)) == 3


def test_lost_link_reaches_handler_and_ends_streams(naxsim_factory):
    sim = naxsim_factory(protocol=2)
    got, put = _collector()
    link = nax.open(sim.conn)
    link.on_conn(put)
    stream = link.events()
    sim.stop()
    event = got.get(timeout=WAIT)
    assert event == nax.ConnEvent(link.id, nax.ConnState.LOST)
    assert list(stream) == [event]  # the loss is the stream's last item
    assert link.closed
    link.close()  # nothing left to close
    with pytest.raises(nax.LinkError):
        link.get_time(1)


def test_stream_get_times_out_without_events(naxsim):
    with nax.open(naxsim.conn) as link:
        with link.events() as stream:
            with pytest.raises(queue.Empty):
                stream.get(timeout=0.2)
        with pytest.raises(StopIteration):
            stream.get(timeout=0)


def test_aux_input_events_reach_handler_and_stream(naxsim):
    # naxsim has no option that sends aux input events, so the library's side is played
    # here: the process-wide callback is called through its C function pointer the way
    # the reception thread calls it, with a link id and a record.
    from vedodiroz import _native as n
    from vedodiroz import events

    got, put = _collector()
    with nax.open(naxsim.conn) as link:
        link.on_aux_input_event(put)
        stream = link.events()
        record = n.CAuxInputEvent(aux_input=3, aux_value=1)
        record.time = n.DateTime(hour=8, minute=30, second=5, year=31, month=2, day=28)
        events.AUX_INPUT_CALLBACK(link._token, link.id, 1, ctypes.pointer(record))
        want = nax.AuxInputEvent(link.id, 1, 3, 1, dt.datetime(2031, 2, 28, 8, 30, 5))
        assert got.get(timeout=WAIT) == want
        assert stream.get(timeout=WAIT) == want
        record.time.month = 13  # a date no calendar has; no callback argument either
        events.AUX_INPUT_CALLBACK(None, link.id, 1, ctypes.pointer(record))
        assert got.get(timeout=WAIT).time is None


def test_a_link_ended_twice_unregisters_once():
    # A loss reported on the library's thread and the host's close may both end a link.
    from vedodiroz import events as ev

    gone = object()
    token = ev.register(gone)
    ev.unregister(token, 41)
    ev.unregister(token, 41)  # the second end finds nothing and must not fail
    # Nor may it take away a later link's binding to the same id.
    later = object()
    ev.bind_link_id(41, later)
    ev.unregister(token, 41)
    assert ev._target(None, 41) is later
    ev.unregister(ev.register(later), 41)
    assert ev._target(None, 41) is None
