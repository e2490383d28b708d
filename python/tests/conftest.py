import pytest

import vedodiroz as nax

pytest_plugins = ["vedodiroz.testing"]


@pytest.fixture(params=[1, 2], ids=["p1", "p2"])
def protocol(request):
    return request.param


@pytest.fixture
def link(naxsim_factory, protocol):
    with nax.open(naxsim_factory(protocol=protocol).conn, protocol=protocol) as opened:
        yield opened
