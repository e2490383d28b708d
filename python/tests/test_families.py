"""Each family's records and arguments reach the node and come back as the same values."""

import asyncio
import datetime as dt

import pytest

import vedodiroz as nax

WHEN = dt.datetime(2031, 5, 6, 7, 8, 9)
AUX = nax.AuxInput(invert_input=1, ev_status=2, time_on=3, time_off=4, ev_host=5, ev_historic=6,
                   ev_in_condition=-7, ev_rele_condition=8, schedule_id=9)  # fmt: skip
USERS = [
    nax.User(id=1001, psw=4321, text1="Maria", text2="Day shift", sec_level=3, schedule_id=2),
    nax.User(id=1002, psw=1, text1="Añaterve"),  # not ASCII
    nax.User(id=1003, psw=2, text1="x" * 200),
]
HEADER = nax.ScheduleHeader(13, "shift 13", hours=2, segments=2, time=WHEN)
SEGMENTS = [nax.Segment(8, 0), nax.Segment(12, 30, enabled=False)]
TEMPLATE = bytes(range(256)) + bytes(128)
FILE = bytes(i * 7 % 251 for i in range(1300))  # three packets' worth


def summary(users):
    return [(u.id, u.psw, u.text1, u.sec_level) for u in users]


# (name, protocols, write, read, expected)
ROUND_TRIPS = [
    ("clock", (1, 2), lambda l: l.set_time(1, WHEN), lambda l: l.get_time(1).replace(second=9), WHEN),
    ("num_cfg", (1, 2), lambda l: l.set_num_cfg(1, 7, 0xBEEF), lambda l: l.get_num_cfg(1, 7), 0xBEEF),
    ("aux input", (1, 2), lambda l: l.set_aux_input(1, 2, AUX), lambda l: l.get_aux_input(1, 2), AUX),
    ("info text", (1, 2), lambda l: None, lambda l: l.get_info(1, "echo héllo"), "héllo"),
    ("schedule", (1, 2), lambda l: l.set_schd_header(1, HEADER), lambda l: l.get_schd_header(1, 13), HEADER),
    ("segments", (1, 2), lambda l: (l.set_schd_header(1, HEADER), l.set_schd_segments(1, 13, SEGMENTS)),
     lambda l: l.get_schd_segments(1, 13, 0, 2), SEGMENTS),
    ("users paged", (2,), lambda l: l.add_users(1, USERS),
     lambda l: summary(l.users(1, page_size=2)), summary(USERS)),
    ("users edited", (2,), lambda l: (l.add_users(1, USERS), l.edit_users(1, [nax.User(id=1002, text1="Jo")]),
                                      l.del_users(1, [1001, USERS[2]])),
     lambda l: summary(l.users(1)), [(1002, 1, "Jo", None)]),
    ("template", (2,), lambda l: l.write_template(1, 1, 1001, 2, TEMPLATE[:356]),
     lambda l: l.read_template(1, 1, 1001, 2), TEMPLATE[:356] + bytes(28)),
    ("file", (2,), lambda l: l.write_file(1, "log/day.bin", FILE), lambda l: l.read_file(1, "log/day.bin"), FILE),
]  # fmt: skip


@pytest.mark.parametrize("name,protocols,write,read,expected", ROUND_TRIPS, ids=[r[0] for r in ROUND_TRIPS])
def test_round_trip(link, protocol, name, protocols, write, read, expected):
    if protocol not in protocols:
        pytest.skip(f"{name}: protocol {protocols} only")
    write(link)
    assert read(link) == expected


def test_paged_iterators_end_on_the_nodes_no_more(naxsim_factory, protocol):
    sim = naxsim_factory(protocol=protocol, marks=5)
    with nax.open(sim.conn, protocol=protocol) as link:
        assert list(link.users(1)) == []  # "no users" (7) or "no further" (8) ends it
        marks = list(link.marks(1, page_size=2))
        assert len(marks) == 5 and all(isinstance(m.time, dt.datetime) for m in marks)
        assert all(isinstance(m.event, nax.Event) for m in marks)
        link.flush_table(1, nax.Table.MARKS)
        page = link.list_marks(1)
        assert page.records == [] and page.last


def test_protocol_property(link, protocol):
    assert link.protocol == link.get_packet_protocol() == protocol
    link.protocol = 3 - protocol
    assert link.get_packet_protocol() == 3 - protocol


def test_commands_have_an_asyncio_form(link):
    async def main():
        await link.aio.add_users(1, [nax.User(id=5, psw=1)])
        return await asyncio.gather(link.aio.get_info(1, "model"), link.aio.users(1))

    info, users = asyncio.run(main())
    assert info == "NX-SIM" and [u.id for u in users] == [5]
    assert "get_time" in dir(link.aio) and "events" not in dir(link.aio)
