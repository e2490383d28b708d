"""Failures come back as exceptions carrying the right status and the library's text."""

import socket

import pytest

import vedodiroz as nax


def _closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# (conn, protocol, status)
OPEN_FAILURES = [
    ("192.0.2.10", 2, 1001),  # no separator
    ("127.0.0.1:30x1", 2, 1001),  # port not all digits
    ("", 2, 1001),
    ("127.0.0.1:{closed}", 2, 1013),
    ("127.0.0.1:{closed}", 3, 1035),
    ("256.1.1.1:3001", 2, 1009),
    ("ttyNAXNONE:9600", 2, 1002),
]


@pytest.mark.parametrize("conn,protocol,status", OPEN_FAILURES)
def test_open_failures(nax_library, conn, protocol, status):
    with pytest.raises(nax.LinkError) as caught:
        nax.open(conn.format(closed=_closed_port()), protocol=protocol, timeout=1000)
    assert caught.value.status == status
    assert caught.value.code == status
    assert caught.value.text == nax.status_text(status)
    assert str(status) in str(caught.value) and "open" in str(caught.value)


# (simulator options, protocol, call, exception, status)
COMMAND_FAILURES = [
    ({"refuse_status": 17}, 2, lambda l: l.get_time(1), nax.NodeError, 17),
    ({"refuse_status": 4}, 2, lambda l: l.get_schd_header(1, 1), nax.NodeError, 4),
    ({"refuse_status": 99}, 2, lambda l: list(l.users(1)), nax.NodeError, 99),
    ({"refuse_status": 5}, 2, lambda l: list(l.marks(1)), nax.NodeError, 5),
    ({"refuse_error": 1}, 1, lambda l: l.add_users(1, [nax.User(id=5)]), nax.NodeError, 5),
    ({"refuse_error": 3}, 1, lambda l: list(l.users(1)), nax.NodeError, 4),
    ({"refuse_error": 3}, 1, lambda l: list(l.marks(1)), nax.NodeError, 18),
    ({"no_answer": True}, 2, lambda l: l.get_time(1), nax.LinkError, 1026),
    ({"answer_from": 5}, 2, lambda l: l.get_time(1), nax.LinkError, 1024),
    ({"answer_cmd": 0x1234}, 2, lambda l: l.get_time(1), nax.LinkError, 1028),
    ({"truncate": 2}, 2, lambda l: l.get_time(1), nax.LinkError, 1029),
    ({"drop_mid_frame": True}, 2, lambda l: l.get_time(1), nax.LinkError, 1061),
    ({"bad_crc": True, "no_answer": False}, 2, lambda l: l.get_time(1), nax.LinkError, 1026),
    ({"answer_to": 0x200}, 1, lambda l: l.get_time(1), nax.LinkError, 1026),
    ({}, 1, lambda l: l.edit_users(1, [nax.User(id=1)]), nax.LinkError, 1038),
    ({}, 1, lambda l: l.fopen(1, "a"), nax.LinkError, 1038),
    ({}, 2, lambda l: l.add_user_in1(1, nax.User(id=1)), nax.LinkError, 1037),
    ({}, 2, lambda l: l.get_num_cfg(1, 3, 4), nax.LinkError, 1037),
    ({}, 2, lambda l: l.fwrite(1, bytes(513)), nax.LinkError, 1037),
    # three users with long texts do not fit one protocol-2 request
    ({}, 2, lambda l: l.add_users(1, [nax.User(id=i, text1="t" * 200) for i in range(3)]),
     nax.LinkError, 1037),
]  # fmt: skip


@pytest.mark.parametrize("options,protocol,call,kind,status", COMMAND_FAILURES)
def test_command_failures(naxsim_factory, options, protocol, call, kind, status):
    sim = naxsim_factory(protocol=protocol, **options)
    with nax.open(sim.conn, protocol=protocol) as link:
        # Only the nodes whose answers never arrive are waited for; the others answer at once.
        link.set_rcv_timeout(500 if status == 1026 else 5000)
        with pytest.raises(kind) as caught:
            call(link)
    assert caught.value.status == status
    assert isinstance(caught.value, nax.Error)


def test_closed_link_refuses_commands(naxsim):
    link = nax.open(naxsim.conn)
    link.close()
    link.close()  # a second close does nothing
    assert link.closed
    with pytest.raises(nax.LinkError) as caught:
        link.get_time(1)
    assert caught.value.status in (1036, 1056)


# Values that do not fit their C field are refused before anything is sent.
BAD_VALUES = [
    lambda l: l.add_users(1, [nax.User(id=1, text1="x" * 256)]),
    lambda l: l.set_schd_header(1, nax.ScheduleHeader(1, "n" * 22)),
    lambda l: l.add_task_item(1, 1, nax.TaskItem(1, job_order="0123456789")),
    lambda l: l.display_msg(1, [nax.DisplayMessage(0, 0, "d" * 50)]),
    lambda l: l.answer_user_event(1, nax.UserEventAnswer(nax.User(id=1), aux=["a"] * 11)),
    lambda l: l.set_time(1, __import__("datetime").datetime(1999, 12, 31)),
    lambda l: l.get_info(1, "a\0b"),
    lambda l: l.get_time(0x10000),  # node numbers are 16 bits
    lambda l: l.add_users(1, [nax.User(id=1 << 32)]),
    lambda l: l.add_users(1, [nax.User(id=1, psw=-1)]),
    lambda l: l.set_aux_input(1, 1, nax.AuxInput(ev_in_condition=1 << 31)),
    lambda l: l.set_schd_segments(1, 1, [nax.Segment(256, 0)]),
    lambda l: l.set_time(1, __import__("datetime").datetime(2030, 1, 1), weekday=300),
]


@pytest.mark.parametrize("call", BAD_VALUES)
def test_values_that_do_not_fit(naxsim, call):
    with nax.open(naxsim.conn) as link:
        with pytest.raises(ValueError):
            call(link)


def test_library_lifecycle_errors(nax_library):
    with pytest.raises(nax.LinkError) as caught:
        nax.init()
    assert caught.value.status == nax.Status.ERR_ALREADY_INIT
    with pytest.raises(nax.LinkError) as caught:
        nax.set_keepalive(1000, 2, 1)
    assert caught.value.status == 1031
    assert nax.lib_version() == nax.__version__


KEEPALIVE_SCRIPT = """
import sys, vedodiroz as nax
from vedodiroz.testing import Simulator
with Simulator(protocol=2, ignore_keepalives=True) as sim:
    with nax.Library(keepalive=(200, 1, 0xFFFF)):
        link = nax.open(sim.conn)
        lost = link.events().get(timeout=10)
        print(lost.state.name, link.closed)
"""


def test_unanswered_keepalives_lose_the_link():
    # Keepalives are set before the library starts, so this runs in a process of its own.
    import os
    import subprocess
    import sys
    from pathlib import Path

    env = dict(os.environ, PYTHONPATH=str(Path(__file__).resolve().parents[1]))
    run = subprocess.run([sys.executable, "-c", KEEPALIVE_SCRIPT], env=env,
                         capture_output=True, text=True, timeout=60)  # fmt: skip
    assert run.stdout.split() == ["NO_KEEPALIVE", "True"], run.stderr
