"""The build backend's wheels, and how the package finds its library."""

import base64
import hashlib
import os
import runpy
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import vedodiroz as nax
from vedodiroz.testing import find_naxsim

PYTHON_DIR = Path(__file__).resolve().parents[1]
BACKEND = runpy.run_path(str(PYTHON_DIR / "build_backend" / "nax_build.py"))
INFO = f"vedodiroz-{nax.__version__}.dist-info"


def _wheel(tmp_path, monkeypatch, **env) -> zipfile.ZipFile:
    """A wheel built in the given environment, every line of its RECORD checked."""
    for name in ("VEDODIROZ_LIBRARY", "VEDODIROZ_NAXSIM", "VEDODIROZ_NO_BUNDLE"):
        monkeypatch.delenv(name, raising=False)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    wheel = zipfile.ZipFile(tmp_path / BACKEND["build_wheel"](str(tmp_path)))
    lines = [line.rsplit(",", 2) for line in wheel.read(f"{INFO}/RECORD").decode().splitlines()]
    assert {name for name, _, _ in lines} == set(wheel.namelist())
    for name, digest, size in lines:
        data = wheel.read(name)
        want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert name.endswith("RECORD") or (digest, int(size)) == (f"sha256={want}", len(data)), name
    return wheel


def test_pure_wheel_and_sdist(tmp_path, monkeypatch):
    with _wheel(tmp_path, monkeypatch, VEDODIROZ_NO_BUNDLE="1") as wheel:
        assert Path(wheel.filename).name == f"vedodiroz-{nax.__version__}-py3-none-any.whl"
        plugin = "[pytest11]\nvedodiroz.testing = vedodiroz.testing"  # the fixtures
        assert plugin in wheel.read(f"{INFO}/entry_points.txt").decode()
        assert "License: MIT" in wheel.read(f"{INFO}/METADATA").decode()
        names = set(wheel.namelist())
    sources = {p.relative_to(PYTHON_DIR).as_posix() for p in (PYTHON_DIR / "vedodiroz").rglob("*.py")}
    assert sources | {"vedodiroz/py.typed", f"{INFO}/LICENSE"} <= names
    assert not any("_lib/" in n or "_bin/" in n for n in names)
    with tarfile.open(tmp_path / BACKEND["build_sdist"](str(tmp_path))) as sdist:
        names = {n.split("/", 1)[1] for n in sdist.getnames()}
    assert {"pyproject.toml", "vedodiroz/link.py", "LICENSE"} <= names


def test_bundled_wheel_loads_its_own_library(tmp_path, monkeypatch):
    with _wheel(tmp_path, monkeypatch, VEDODIROZ_LIBRARY=nax.library_path, VEDODIROZ_NAXSIM=find_naxsim()) as wheel:
        assert not wheel.filename.endswith("-any.whl")
        assert wheel.getinfo("vedodiroz/_bin/naxsim").external_attr >> 16 & 0o111
        wheel.extractall(tmp_path / "site")
    monkeypatch.delenv("VEDODIROZ_LIBRARY")
    code = "import vedodiroz as nax; print(nax.library_origin, nax.library_path, nax.lib_version())"
    out = subprocess.run([sys.executable, "-c", code], env=dict(os.environ, PYTHONPATH=str(tmp_path / "site")),
                         cwd=tmp_path, capture_output=True, text=True).stdout.split()  # fmt: skip
    assert out == ["bundled", str(tmp_path / "site" / "vedodiroz" / "_lib" / "libvedodiroz.so"), nax.lib_version()]
    # A library named explicitly is that one or none.
    env = dict(os.environ, VEDODIROZ_LIBRARY=str(tmp_path / "nowhere.so"))
    run = subprocess.run([sys.executable, "-c", "import vedodiroz"], env=env, cwd=PYTHON_DIR, capture_output=True, text=True)
    assert run.returncode != 0 and "nowhere.so" in run.stderr
