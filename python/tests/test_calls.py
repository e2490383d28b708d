"""Each family's records and arguments reach the node and come back as the same values; values
that do not fit their C field are refused; failures come back as the right exception and text."""

import asyncio
import datetime as dt

import pytest

import vedodiroz as nax

WHEN = dt.datetime(2031, 5, 6, 7, 8, 9)
AUX = nax.AuxInput(1, 2, 3, 4, 5, 6, -7, 8, 9, bytes(range(1, 9)))  # each field its own value
USERS = [nax.User(id=1001, psw=4321, text1="Maria", text2="Day", sec_level=3), nax.User(id=2), nax.User(id=3)]
HEADER = nax.ScheduleHeader(13, "shift 13", hours=2, segments=2, time=WHEN)
SEGMENTS = [nax.Segment(8, 0), nax.Segment(12, 30, enabled=False)]
TEMPLATE = bytes(range(256)) + bytes(100)
FILE = bytes(i * 7 % 251 for i in range(1300))  # three packets' worth


# (name, protocols, write, read, expected)
ROUND_TRIPS = [
    ("clock", (1, 2), lambda l: l.set_time(1, WHEN), lambda l: l.get_time(1).replace(second=9), WHEN),
    ("num_cfg", (1, 2), lambda l: l.set_num_cfg(1, 7, 0xBEEF), lambda l: l.get_num_cfg(1, 7), 0xBEEF),
    ("aux input", (1, 2), lambda l: l.set_aux_input(1, 2, AUX), lambda l: l.get_aux_input(1, 2), AUX),
    ("info text", (1, 2), lambda l: None, lambda l: l.get_info(1, "echo héllo"), "héllo"),
    ("schedule", (1, 2), lambda l: l.set_schd_header(1, HEADER), lambda l: l.get_schd_header(1, 13), HEADER),
    ("segments", (1, 2), lambda l: (l.set_schd_header(1, HEADER), l.set_schd_segments(1, 13, SEGMENTS)),
     lambda l: l.get_schd_segments(1, 13, 0, 2), SEGMENTS),
    ("users", (2,), lambda l: (l.add_users(1, USERS), l.edit_users(1, [nax.User(id=1001, text1="Jo")]),
                               l.del_users(1, [2, USERS[2]])),
     lambda l: [(u.id, u.psw, u.text1, u.sec_level) for u in l.users(1)], [(1001, 4321, "Jo", 3)]),
    ("template", (2,), lambda l: l.write_template(1, 1, 1001, 2, TEMPLATE),
     lambda l: l.read_template(1, 1, 1001, 2), TEMPLATE + bytes(28)),
    ("file", (2,), lambda l: l.write_file(1, "log/day.bin", FILE), lambda l: l.read_file(1, "log/day.bin"), FILE),
]  # fmt: skip


@pytest.mark.parametrize("name,protocols,write,read,expected", ROUND_TRIPS, ids=[r[0] for r in ROUND_TRIPS])
def test_round_trip(link, protocol, name, protocols, write, read, expected):
    if protocol not in protocols:
        pytest.skip(f"{name}: protocol {protocols} only")
    write(link)
    assert read(link) == expected


def test_paged_iterators_end_on_the_nodes_no_more_and_the_protocol_property(naxsim_factory, protocol):
    sim = naxsim_factory(protocol=protocol, marks=5)
    with nax.open(sim.conn, protocol=protocol) as link:
        assert link.protocol == link.get_packet_protocol() == protocol
        assert list(link.users(1)) == []  # "no users" (7) or "no further" (8) ends it
        marks = list(link.marks(1, page_size=2))
        assert len(marks) == 5 and all(isinstance(m.time, dt.datetime) for m in marks)
        assert all(isinstance(m.event, nax.Event) for m in marks)
        link.flush_table(1, nax.Table.MARKS)
        assert (page := link.list_marks(1)).records == [] and page.last
        link.protocol = 3 - protocol
        assert link.get_packet_protocol() == 3 - protocol


def test_commands_have_an_asyncio_form(link):
    async def main():
        await link.aio.add_users(1, [nax.User(id=5, psw=1)])
        return await asyncio.gather(link.aio.get_info(1, "model"), link.aio.users(1))

    info, users = asyncio.run(main())
    assert info == "NX-SIM" and [u.id for u in users] == [5]
    assert "get_time" in dir(link.aio) and "events" not in dir(link.aio)


# (simulator options, protocol, call, exception, status, words of the message)
COMMAND_FAILURES = [
    ({"refuse_status": 17}, 2, lambda l: l.get_time(1), nax.NodeError, 17, "get_time: status reported by the node (status 17)"),
    ({"refuse_status": 5}, 2, lambda l: l.add_users(1, [nax.User(id=5)]), nax.NodeError, 5, "already exists"),
    ({}, 1, lambda l: l.edit_users(1, [nax.User(id=1)]), nax.LinkError, 1038, "needs a protocol-2"),
]  # fmt: skip


@pytest.mark.parametrize("options,protocol,call,kind,status,words", COMMAND_FAILURES)
def test_command_failures(naxsim_factory, options, protocol, call, kind, status, words):
    sim = naxsim_factory(protocol=protocol, **options)
    with nax.open(sim.conn, protocol=protocol) as link, pytest.raises(kind) as caught:
        call(link)
    assert caught.value.status == status and words in str(caught.value)


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
    lambda l: l.add_users(1, [nax.User(id=1, psw=-1)]),
    lambda l: l.set_aux_input(1, 1, nax.AuxInput(ev_in_condition=1 << 31)),
    lambda l: l.set_schd_segments(1, 1, [nax.Segment(256, 0)]),
    lambda l: l.set_time(1, dt.datetime(2030, 1, 1), weekday=300),
]


@pytest.mark.parametrize("call", BAD_VALUES)
def test_values_that_do_not_fit(naxsim, call):
    with nax.open(naxsim.conn) as link, pytest.raises(ValueError):
        call(link)


def test_failures_outside_commands(naxsim):
    link = nax.open(naxsim.conn)
    link.close()
    link.close()  # a second close does nothing
    # (call, statuses it may fail with)
    for call, statuses in ((lambda: link.get_time(1), (1036, 1056)), (lambda: nax.open("192.0.2.10"), (1001,)),
                           (nax.init, (nax.Status.ERR_ALREADY_INIT,))):  # fmt: skip
        with pytest.raises(nax.LinkError) as caught:
            call()
        assert caught.value.status in statuses and caught.value.code == caught.value.status
    assert link.closed and nax.lib_version() == nax.__version__
