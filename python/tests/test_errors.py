"""Failures come back as the right exception, status, text and next step."""

import datetime as dt

import pytest

import vedodiroz as nax


def test_open_failure_is_a_link_error(nax_library):
    with pytest.raises(nax.LinkError) as caught:
        nax.open("192.0.2.10", timeout=1000)  # no port
    assert (caught.value.status, caught.value.code) == (1001, nax.Status.ERR_BAD_CONN_STRING)
    assert caught.value.text == nax.status_text(1001) and "open: " in str(caught.value)


# (simulator options, protocol, call, exception, status, words of the message)
COMMAND_FAILURES = [
    ({"refuse_status": 17}, 2, lambda l: l.get_time(1), nax.NodeError, 17, "get_time: status reported"),
    ({"refuse_status": 5}, 2, lambda l: l.add_users(1, [nax.User(id=5)]), nax.NodeError, 5, "already exists"),
    ({}, 1, lambda l: l.edit_users(1, [nax.User(id=1)]), nax.LinkError, 1038, "needs a protocol-2"),
]  # fmt: skip


@pytest.mark.parametrize("options,protocol,call,kind,status,words", COMMAND_FAILURES)
def test_command_failures(naxsim_factory, options, protocol, call, kind, status, words):
    sim = naxsim_factory(protocol=protocol, **options)
    with nax.open(sim.conn, protocol=protocol) as link, pytest.raises(kind) as caught:
        call(link)
    assert caught.value.status == status and words in str(caught.value)


def test_hints_name_the_next_step():
    assert "with vedodiroz.Library()" in str(nax.LinkError(1034, "open"))
    assert str(nax.NodeError(5, "fdel")) == "fdel: no such file (status 5)"


# Values that do not fit their C field are refused before anything is sent.
BAD_VALUES = [
    lambda l: l.add_users(1, [nax.User(id=1, text1="x" * 256)]),
    lambda l: l.set_schd_header(1, nax.ScheduleHeader(1, "n" * 22)),
    lambda l: l.add_task_item(1, 1, nax.TaskItem(1, job_order="0123456789")),
    lambda l: l.display_msg(1, [nax.DisplayMessage(0, 0, "d" * 50)]),
    lambda l: l.answer_user_event(1, nax.UserEventAnswer(nax.User(id=1), aux=["a"] * 11)),
    lambda l: l.set_time(1, dt.datetime(1999, 12, 31)),
    lambda l: l.get_info(1, "a\0b"),
    lambda l: l.get_time(0x10000),  # node numbers are 16 bits
    lambda l: l.add_users(1, [nax.User(id=1 << 32)]),
    lambda l: l.add_users(1, [nax.User(id=1, psw=-1)]),
    lambda l: l.set_aux_input(1, 1, nax.AuxInput(ev_in_condition=1 << 31)),
    lambda l: l.set_schd_segments(1, 1, [nax.Segment(256, 0)]),
    lambda l: l.set_time(1, dt.datetime(2030, 1, 1), weekday=300),
]


@pytest.mark.parametrize("call", BAD_VALUES)
def test_values_that_do_not_fit(naxsim, call):
    with nax.open(naxsim.conn) as link, pytest.raises(ValueError):
        call(link)


def test_closed_link_and_lifecycle(naxsim):
    link = nax.open(naxsim.conn)
    link.close()
    link.close()  # a second close does nothing
    with pytest.raises(nax.LinkError) as caught:
        link.get_time(1)
    assert link.closed and caught.value.status in (1036, 1056)
    with pytest.raises(nax.LinkError) as caught:
        nax.init()
    assert caught.value.status == nax.Status.ERR_ALREADY_INIT
    assert nax.lib_version() == nax.__version__
