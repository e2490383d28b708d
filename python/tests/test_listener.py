"""Nodes that connect in are yielded by the listener and accepted into links."""

import queue
import socket

import pytest

import vedodiroz as nax


@pytest.fixture
def port():
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def test_incoming_node_is_accepted(naxsim_factory, port):
    with nax.listen(port) as listener:
        naxsim_factory(connect=f"127.0.0.1:{port}", node=7, protocol=2)
        incoming = listener.next(timeout=10)
        link = incoming.accept(protocol=2, source_node=0x100)
        assert (link.id, link.node, link.state) == (incoming.link_id, 7, nax.LinkState.ACCEPTED)
        assert link.get_info(7, "serial") == "SIM-00007"
        link.close()


def test_accept_scans_for_any_waiting_node(naxsim_factory, port):
    with nax.listen(port) as listener:
        naxsim_factory(connect=f"127.0.0.1:{port}", count=2, node=3, protocol=1)
        listener.next(timeout=10)
        listener.next(timeout=10)
        with listener.accept(protocol=1, node=3, accept_timeout=2000) as first:
            with nax.accept(protocol=1, port=port, accept_timeout=2000) as second:
                assert first.id != second.id and first.node == second.node == 3
                assert second.get_num_cfg(3, 0, 2) == 3


def test_accept_failures(naxsim_factory, port):
    with nax.listen(port) as listener:
        naxsim_factory(connect=f"127.0.0.1:{port}", node=5, protocol=2)
        incoming = listener.next(timeout=10)
        with pytest.raises(nax.LinkError) as caught:
            incoming.accept(node=6)  # the node says it is 5
        assert caught.value.status == 1057
        with pytest.raises(nax.LinkError) as caught:
            incoming.accept(protocol=4)
        assert caught.value.status == 1035
        incoming.accept(node=5).close()  # the link stayed claimable
        with pytest.raises(nax.LinkError) as caught:
            listener.accept(accept_timeout=200)  # nobody else waits
        assert caught.value.status in (1036, 1056, 1059)


def test_user_events_on_an_accepted_link(naxsim_factory, port):
    with nax.listen(port) as listener:
        naxsim_factory(connect=f"127.0.0.1:{port}", protocol=2, events_every=50)
        with listener.next(timeout=10).accept() as link:
            with link.events() as stream:
                event = stream.get(timeout=10)
        assert isinstance(event, nax.UserEvent) and event.link == link.id


def test_second_listener_and_busy_port(nax_library, port):
    with nax.listen(port):
        with pytest.raises(nax.LinkError) as caught:
            nax.listen(port + 1 if port < 65535 else port - 1)
        assert caught.value.status == 1053
    with socket.socket() as holder:
        holder.bind(("0.0.0.0", port))
        holder.listen()
        with pytest.raises(nax.LinkError) as caught:
            nax.listen(port, timeout=200)
        assert caught.value.status == 1060


def test_nothing_connects(nax_library, port):
    with nax.listen(port) as listener:
        with pytest.raises(queue.Empty):
            listener.next(timeout=0.2)


def test_listen_limits_turn_away_nodes_beyond_the_cap(naxsim_factory, port):
    nax.set_listen_limits(1, 0)
    try:
        with nax.listen(port) as listener:
            naxsim_factory(connect=f"127.0.0.1:{port}", node=5, protocol=2)
            first = listener.next(timeout=10)
            naxsim_factory(connect=f"127.0.0.1:{port}", node=6, protocol=2)
            with pytest.raises(queue.Empty):
                listener.next(timeout=1)
            with first.accept(protocol=2, source_node=0x100) as link:
                assert link.node == 5
        for bad in ((-1, 0), (0, -1)):
            with pytest.raises(nax.LinkError) as caught:
                nax.set_listen_limits(*bad)
            assert caught.value.status == 1037
    finally:
        nax.set_listen_limits(0, 0)
