import pytest

import vedodiroz as nax

pytest_plugins = ["vedodiroz.testing"]


@pytest.fixture(params=[1, 2], ids=["p1", "p2"])
def protocol(request):
    return request.param


@pytest.fixture
def sim(naxsim_factory, protocol):
    return naxsim_factory(protocol=protocol)


@pytest.fixture
def link(sim, protocol):
    with nax.open(sim.conn, protocol=protocol) as opened:
        yield opened
