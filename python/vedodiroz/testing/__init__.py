"""Testing host code without hardware: the naxsim node simulator, and pytest fixtures.

    from vedodiroz.testing import Simulator
    with Simulator(protocol=2, delay=200) as sim:       # any naxsim fault, as a keyword
        with nax.open(sim.conn, protocol=2) as link: ...

Installed, the package registers these as a pytest plugin (entry point ``pytest11``);
from a source tree, ``pytest_plugins = ["vedodiroz.testing"]`` in a conftest.py brings the fixtures
``nax_library`` (the library, initialised once per session), ``naxsim`` (a running
simulator with default settings) and ``naxsim_factory`` (call it with keywords to start
simulators with faults; all are stopped after the test).
"""

from __future__ import annotations

import atexit
import functools
import os
import re
import shutil
import subprocess
import tempfile
import threading
import weakref
from pathlib import Path
from typing import Optional, Sequence

_PACKAGE_DIR = Path(__file__).resolve().parent.parent
_running: "weakref.WeakSet[Simulator]" = weakref.WeakSet()


@atexit.register
def _stop_all() -> None:
    for sim in list(_running):
        sim.stop()


_READY = re.compile(r"naxsim (listening on|connected to|serial on) (\S+) node (\d+)")


def find_naxsim() -> str:
    """The naxsim program: $NAXSIM, the one bundled with the package, a source tree's
    build folders, or the PATH."""
    explicit = os.environ.get("NAXSIM")
    if explicit:
        return explicit
    candidates = [_PACKAGE_DIR / "_bin" / "naxsim"]
    repo = _PACKAGE_DIR.parent.parent
    if (repo / "include" / "vedodiroz.h").is_file():
        for folder in ("build-python", "build-check-plain", "build"):
            candidates.append(repo / folder / "tools" / "naxsim" / "naxsim")
    for candidate in candidates:
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which("naxsim")
    if found:
        return found
    raise FileNotFoundError("naxsim not found: set NAXSIM to its path")


@functools.lru_cache(maxsize=None)
def naxsim_options(program: Optional[str] = None) -> frozenset:
    """The long options that this naxsim program knows (from its --help)."""
    out = subprocess.run([program or find_naxsim(), "--help"], capture_output=True, text=True,
                         timeout=10).stdout  # fmt: skip
    return frozenset(re.findall(r"^\s+(--[a-z-]+)", out, re.M))


class Simulator:
    """A naxsim program on a free port of 127.0.0.1.

    Keywords become naxsim options: ``node=2`` is ``--node 2``, ``protocol=1``,
    ``clock_offset=3600``; faults too: ``no_answer=True``, ``delay=500``,
    ``refuse_status=17``, ``truncate=3``, ``events_every=100`` and the others that
    ``naxsim --help`` lists (True gives a bare flag, False or None leaves it out).
    ``connect="127.0.0.1:4000"`` makes the node connect to a host's listener instead;
    ``serial=True`` serves a pseudo-terminal, and ``conn`` is then "/dev/pts/N:115200".

    Without ``protocol`` the node learns each connection's protocol from the first
    request it receives, and sends no events before that: a host that only waits for
    events (``for event in link.events()``) must send one command first, or start the
    simulator with ``protocol=1`` or ``protocol=2``.
    """

    def __init__(self, program: Optional[str] = None, extra_args: Sequence[str] = (),
                 **options) -> None:  # fmt: skip
        self.program = program or find_naxsim()
        self.args = [self.program]
        known = naxsim_options(self.program)
        for key, value in options.items():
            if value is None or value is False:
                continue
            flag = "--" + key.replace("_", "-")
            if flag not in known:
                raise TypeError(f"Simulator: naxsim has no option {flag} (keyword {key}=); "
                                "naxsim --help lists them")  # fmt: skip
            self.args.append(flag)
            if value is not True:
                self.args.append(str(value))
        self.args.extend(extra_args)
        self.process: Optional[subprocess.Popen] = None
        self.conn = ""
        self.host = ""
        self.port = 0
        self.node = 0

    def start(self, timeout: float = 10.0) -> "Simulator":
        """Starts naxsim and waits until it serves; RuntimeError with its first error line."""
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE,
                                        stderr=self._stderr, text=True)  # fmt: skip
        line: list = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()),
                                  daemon=True)  # fmt: skip
        reader.start()
        reader.join(timeout)
        match = _READY.search(line[0]) if line else None
        if not match:
            self.stop()
            self._stderr.seek(0)
            err = self._stderr.read().decode(errors="replace").strip().split("\n")[0]
            raise RuntimeError(f"naxsim did not start ({' '.join(self.args[1:])}): {err}")
        self.conn = match.group(2)
        if match.group(1) == "serial on":  # a pseudo-terminal: the host opens its slave side
            self.conn += ":115200"
        if match.group(1) == "listening on":
            self.host, _, port = self.conn.rpartition(":")
            self.port = int(port)
        self.node = int(match.group(3))
        _running.add(self)
        # Keep reading so that the program never blocks on a full pipe.
        threading.Thread(target=self.process.stdout.read, daemon=True).start()
        return self

    def stop(self) -> None:
        """Stops naxsim (SIGTERM, then SIGKILL after 5 s); stopping twice does nothing."""
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    @property
    def running(self) -> bool:
        """True while the naxsim process runs."""
        return self.process is not None and self.process.poll() is None

    def __enter__(self) -> "Simulator":
        return self.start() if self.process is None else self

    def __exit__(self, *exc) -> None:
        self.stop()

    def __repr__(self) -> str:
        return f"<Simulator {' '.join(self.args[1:]) or 'defaults'} at {self.conn or '-'}>"


try:
    import pytest
except ImportError:  # fixtures need pytest; the simulator does not
    pytest = None

if pytest is not None:

    @pytest.fixture(scope="session")
    def nax_library(tmp_path_factory):
        """The library, initialised once for the session (log at level 3 in a temp folder)."""
        from vedodiroz import Library

        log_path = tmp_path_factory.mktemp("nax") / "host.log"
        with Library(log_path=str(log_path), log_level=3) as library:
            library.log_path = log_path
            yield library

    @pytest.fixture
    def naxsim_factory(nax_library):
        """Starts simulators: naxsim_factory(protocol=1, delay=300) -> Simulator."""
        started = []

        def start(**options) -> Simulator:
            sim = Simulator(**options).start()
            started.append(sim)
            return sim

        yield start
        from vedodiroz import close_all

        close_all()
        for sim in started:
            sim.stop()

    @pytest.fixture
    def naxsim(naxsim_factory):
        """A simulator with default settings (node 1, protocol taken from the first frame)."""
        return naxsim_factory()
