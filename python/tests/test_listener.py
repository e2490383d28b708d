"""Nodes that connect in are yielded by the listener and accepted into links."""

import queue
import socket

import pytest

import vedodiroz as nax


def test_incoming_nodes_are_claimed_by_number_or_by_scan(naxsim_factory):
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        port = s.getsockname()[1]
    with nax.listen(port) as listener:
        with pytest.raises(queue.Empty):
            listener.next(timeout=0.2)  # nobody yet
        naxsim_factory(connect=f"127.0.0.1:{port}", node=7, protocol=2)
        incoming = listener.next(timeout=10)
        with pytest.raises(nax.LinkError, match="status 1057"):
            incoming.accept(node=6)  # the node says it is 7
        with incoming.accept(protocol=2, source_node=0x100) as link:  # still claimable
            assert (link.id, link.node, link.port) == (incoming.link_id, 7, port)
            assert link.state == nax.LinkState.ACCEPTED and link.get_info(7, "serial") == "SIM-00007"
        naxsim_factory(connect=f"127.0.0.1:{port}", count=2, node=3, protocol=1)
        listener.next(timeout=10), listener.next(timeout=10)
        with listener.accept(protocol=1, node=3, accept_timeout=2000) as first:
            with nax.accept(protocol=1, port=port, accept_timeout=2000) as second:
                assert first.id != second.id and first.node == second.node == 3
        with pytest.raises(nax.LinkError):
            listener.accept(accept_timeout=200)  # nobody else waits
