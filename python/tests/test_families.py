"""Every command family round trips through a simulated node."""

import datetime as dt

import pytest

import vedodiroz as nax
from vedodiroz.testing import naxsim_options


def test_clock_round_trip(link):
    when = dt.datetime(2031, 5, 6, 7, 8, 9)
    link.set_time(1, when)
    got = link.get_time(1)
    assert when <= got < when + dt.timedelta(minutes=1)


@pytest.mark.parametrize("num_id,size,value", [(7, 2, 0xBEEF), (9, 2, 1), (11, 1, 0x7F)])
def test_numeric_parameter_round_trip(link, num_id, size, value):
    link.set_num_cfg(1, num_id, value, size)
    assert link.get_num_cfg(1, num_id, size) == value


def test_node_number_is_parameter_0(link):
    assert link.get_num_cfg(1, 0, 2) == 1


def test_aux_input_round_trip(link):
    aux = nax.AuxInput(invert_input=1, ev_status=2, time_on=3, time_off=4, ev_host=5,
                       ev_historic=6, ev_in_condition=-7, ev_rele_condition=8, schedule_id=9)  # fmt: skip
    link.set_aux_input(1, 2, aux)
    got = link.get_aux_input(1, 2)
    assert (got.invert_input, got.time_off, got.ev_in_condition, got.schedule_id) == (1, 4, -7, 9)
    link.rele_control(1, 1, 5)


def test_aux_input_state_and_answer(link2):
    assert link2.state_aux_input(1) == 0
    link2.answer_aux_input_event(1, 3)


USERS = [
    nax.User(id=1001, psw=4321, text1="Maria", text2="Day shift", sec_level=3, schedule_id=2),
    nax.User(id=1002, psw=1, text1="Jon"),
    nax.User(id=1003, psw=2, text1="Añaterve"),  # not ASCII
    nax.User(id=1004, psw=3),
    nax.User(id=1005, psw=4, text1="x" * 200),
]


def test_users_round_trip_over_several_pages(link2):
    assert link2.add_users(1, USERS) == len(USERS)
    got = list(link2.users(1, page_size=2))
    assert [u.id for u in got] == [u.id for u in USERS]
    assert [u.text1 for u in got] == [u.text1 for u in USERS]
    assert got[0].psw == 4321 and got[0].sec_level == 3 and got[0].text2 == "Day shift"
    page = link2.list_users(1, 0, 2)
    assert (len(page.records), page.last) == (2, False)
    page = link2.list_users(1, 4, 2)
    assert (len(page.records), page.last) == (1, True)


def test_users_edit_and_delete(link2):
    link2.add_users(1, USERS[:3])
    assert link2.edit_users(1, [nax.User(id=1002, text1="Jonathan")]) == 1
    assert link2.del_users(1, [1001, nax.User(id=1003, text1="ignored")]) == 2
    got = list(link2.users(1))
    assert [(u.id, u.text1) for u in got] == [(1002, "Jonathan")]


def test_users_protocol_1_page_one_at_a_time(naxsim_factory):
    sim = naxsim_factory(protocol=1)
    with nax.open(sim.conn, protocol=1) as link:
        assert list(link.users(1)) == []  # the node's "no users" ends the iteration
        for user in USERS[:3]:
            assert link.add_users(1, [nax.User(id=user.id, psw=user.psw, sec_level=2)]) == 1
        link.add_user_in1(1, nax.User(id=1010, psw=7), extra=b"\x01\x02")
        got = list(link.users(1))
        assert [u.id for u in got] == [1001, 1002, 1003, 1010]
        assert got[1].psw == 1 and got[1].sec_level == 2
        link.del_users(1, [1002])
        assert [u.id for u in link.users(1)] == [1001, 1003, 1010]


def test_marks_of_an_empty_log(link):
    assert list(link.marks(1)) == []
    page = link.list_marks(1)
    assert page.records == [] and page.last


@pytest.mark.skipif("--marks" not in naxsim_options(), reason="this naxsim cannot seed marks")
@pytest.mark.parametrize("protocol", [1, 2], ids=["p1", "p2"])
def test_marks_page_through_the_log(naxsim_factory, protocol):
    sim = naxsim_factory(protocol=protocol, marks=5)
    with nax.open(sim.conn, protocol=protocol) as link:
        marks = list(link.marks(1, page_size=2))
        assert len(marks) == 5
        assert all(isinstance(m.time, dt.datetime) for m in marks)
        assert all(isinstance(m.event, nax.Event) for m in marks)


def test_info_and_administration(link):
    assert link.get_info(1, "model") == "NX-SIM"
    assert link.get_info(1, "echo héllo") == "héllo"
    link.block_node(1, True)
    link.block_node(1, False)
    link.reset_node(1, 0, 0)


def test_flush_and_delete_records(link2):
    link2.add_users(1, USERS)
    assert link2.del_records(1, nax.Table.USERS, 2) == 2
    assert link2.get_info(1, "users") == "3"
    link2.flush_table(1, nax.Table.USERS)
    assert list(link2.users(1)) == []


def test_schedules_round_trip(link):
    for schd_id in (3, 5, 8, 13, 21):
        header = nax.ScheduleHeader(schd_id, f"shift {schd_id}", hours=2, segments=2,
                                    time=dt.datetime(2030, 1, 2, 3, 4, 5))  # fmt: skip
        link.set_schd_header(1, header)
    segments = [nax.Segment(8, 0), nax.Segment(12, 30, enabled=False)]
    assert link.set_schd_segments(1, 5, segments) == 2
    assert link.get_schd_segments(1, 5, 0, 2) == segments
    got = link.get_schd_header(1, 13)
    assert (got.id, got.name, got.hours, got.segments) == (13, "shift 13", 2, 2)
    assert [e.id for e in link.schedules(1, page_size=2)] == [3, 5, 8, 13, 21]
    link.del_schd(1, 8)
    assert [e.name for e in link.schedules(1)] == ["shift 3", "shift 5", "shift 13", "shift 21"]


def test_templates_round_trip(link2):
    data = bytes(range(256)) + bytes(100)
    link2.write_template(1, 1, 1001, 2, data)
    got = link2.read_template(1, 1, 1001, 2)
    assert got == data + bytes(384 - len(data))
    link2.del_template(1, 1, 1001, 2)
    with pytest.raises(nax.NodeError):
        link2.read_template(1, 1, 1001, 2)
    link2.write_template(1, 1, 1001, 3, b"\x55" * 384)
    link2.flush_templates(1, 1)
    with pytest.raises(nax.NodeError):
        link2.read_template(1, 1, 1001, 3)


def test_tasks(link2):
    link2.add_task_group(1, nax.TaskGroup(4, "Cleaning", items=1))
    link2.add_task_item(1, 4, nax.TaskItem(1, type=2, name="Floor", job_order="J-17"))


def test_files_round_trip(link2):
    data = bytes(i * 7 % 251 for i in range(1300))  # three packets' worth
    crc = link2.write_file(1, "log/day.bin", data)
    assert isinstance(crc, int)
    assert link2.read_file(1, "log/day.bin") == data
    link2.fdel(1, "log/day.bin")
    with pytest.raises(nax.NodeError):
        link2.fopen(1, "log/day.bin", nax.FileMode.READ)


def test_answers_and_display(link):
    answer = nax.UserEventAnswer(nax.User(id=1001, st=1, text1="Welcome"), print_enable=True,
                                 aux=["line one", "line two"])  # fmt: skip
    link.answer_user_event(1, answer)
    if link.protocol == 2:
        messages = [nax.DisplayMessage(1, 0, "Hello"), nax.DisplayMessage(2, 4, "World", font=1)]
        assert isinstance(link.display_msg(1, messages, timer=5), int)


def test_link_settings(link, protocol):
    assert link.protocol == protocol
    link.set_rcv_timeout(2000)
    link.set_snd_timeout(2000)
    link.set_interbyte_timeout(500)
    link.set_source_node(0x101)
    assert link.get_num_cfg(1, 0, 2) == 1  # answers now come back to 0x101
    link.protocol = 3 - protocol
    assert link.get_packet_protocol() == 3 - protocol


def test_serial_link(naxsim_factory, protocol):
    sim = naxsim_factory(serial=True, protocol=protocol)
    assert sim.conn.startswith("/dev/") and sim.conn.endswith(":115200")
    with nax.open(sim.conn, protocol=protocol) as link:
        assert link.get_info(1, "model") == "NX-SIM"
        link.add_users(1, [nax.User(id=77, psw=1)])
        assert [u.id for u in link.users(1)] == [77]


# Transport faults a link must get through.  Protocol-1 frames are found on 14-byte
# windows of the stream only, so the garbage comes in whole windows.
SURVIVED = [{"garbage": 28}, {"split_bytes": True}, {"delay": 100}]


@pytest.mark.parametrize("options", SURVIVED, ids=lambda o: next(iter(o)))
def test_transport_faults_are_survived(naxsim_factory, protocol, options):
    sim = naxsim_factory(protocol=protocol, **options)
    with nax.open(sim.conn, protocol=protocol) as link:
        assert link.get_info(1, "echo through") == "through"
        assert link.get_num_cfg(1, 0) == 1
