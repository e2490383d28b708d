"""What a newcomer reads and touches first: docstrings, the asyncio form, the plugin."""

import asyncio
import inspect
import pydoc

import pytest

import vedodiroz as nax
from vedodiroz.testing import Simulator


def public_names():
    for name in nax.__all__:
        obj = getattr(nax, name)
        if inspect.isclass(obj) or inspect.isfunction(obj):
            yield name, obj
        if inspect.isclass(obj):
            for member, value in vars(obj).items():
                if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                    yield f"{name}.{member}", getattr(value, "fget", value)


def test_every_public_name_has_a_docstring():
    assert [name for name, obj in public_names() if not (obj.__doc__ or "").strip()] == []
    assert "#" not in pydoc.render_doc(nax.Link.get_time, renderer=pydoc.plaintext)


def test_commands_have_an_asyncio_form(naxsim_factory):
    sim = naxsim_factory(protocol=2)

    async def main(link):
        await link.aio.add_users(1, [nax.User(id=5, psw=1)])
        return await asyncio.gather(link.aio.get_info(1, "model"), link.aio.users(1))

    with nax.open(sim.conn) as link:
        info, users = asyncio.run(main(link))
        assert info == "NX-SIM" and [u.id for u in users] == [5]
        assert "get_time" in dir(link.aio) and "events" not in dir(link.aio)


def test_simulator_faults_are_one_line():
    with pytest.raises(TypeError, match="no option --no-such-fault"):
        Simulator(no_such_fault=1)
    with pytest.raises(RuntimeError) as caught:
        Simulator(port=1, bind="1.2.3.4").start()
    assert "\n" not in str(caught.value)
