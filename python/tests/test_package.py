"""The build backend's wheels, and how the package finds its library."""

import base64
import hashlib
import importlib.util
import os
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import vedodiroz as nax
from vedodiroz.testing import find_naxsim

PYTHON_DIR = Path(__file__).resolve().parents[1]


def _backend():
    found = importlib.util.spec_from_file_location("nax_build", PYTHON_DIR / "build_backend" / "nax_build.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def _wheel(tmp_path, monkeypatch, **env) -> zipfile.ZipFile:
    """A wheel built in the given environment, every line of its RECORD checked."""
    for name in ("VEDODIROZ_LIBRARY", "VEDODIROZ_NAXSIM", "VEDODIROZ_NO_BUNDLE"):
        monkeypatch.delenv(name, raising=False)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    wheel = zipfile.ZipFile(tmp_path / _backend().build_wheel(str(tmp_path)))
    record = next(n for n in wheel.namelist() if n.endswith(".dist-info/RECORD"))
    lines = [line.rsplit(",", 2) for line in wheel.read(record).decode().splitlines()]
    assert {name for name, _, _ in lines} == set(wheel.namelist())
    for name, digest, size in lines:
        data = wheel.read(name)
        want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert name == record or (digest, int(size)) == (f"sha256={want}", len(data)), name
    return wheel


def test_pure_wheel_and_sdist(tmp_path, monkeypatch):
    info = f"vedodiroz-{nax.__version__}.dist-info"
    with _wheel(tmp_path, monkeypatch, VEDODIROZ_NO_BUNDLE="1") as wheel:
        assert Path(wheel.filename).name == f"vedodiroz-{nax.__version__}-py3-none-any.whl"
        names = set(wheel.namelist())
        # the fixtures as a pytest plugin, the type hints marker, the licence
        assert "[pytest11]\nvedodiroz.testing = vedodiroz.testing" in wheel.read(f"{info}/entry_points.txt").decode()
        assert "License: MIT" in wheel.read(f"{info}/METADATA").decode()
    sources = {p.relative_to(PYTHON_DIR).as_posix() for p in (PYTHON_DIR / "vedodiroz").rglob("*.py")}
    assert sources | {"vedodiroz/py.typed", f"{info}/LICENSE"} <= names
    assert not any("_lib/" in n or "_bin/" in n for n in names)
    with tarfile.open(tmp_path / _backend().build_sdist(str(tmp_path))) as sdist:
        names = {n.split("/", 1)[1] for n in sdist.getnames()}
    assert {"pyproject.toml", "vedodiroz/link.py", "LICENSE"} <= names


def test_bundled_wheel_loads_its_own_library(tmp_path, monkeypatch):
    target = tmp_path / "site"
    with _wheel(tmp_path, monkeypatch, VEDODIROZ_LIBRARY=nax.library_path, VEDODIROZ_NAXSIM=find_naxsim()) as wheel:
        assert not wheel.filename.endswith("-any.whl")
        assert wheel.getinfo("vedodiroz/_bin/naxsim").external_attr >> 16 & 0o111
        wheel.extractall(target)
    env = {k: v for k, v in os.environ.items() if k not in ("VEDODIROZ_LIBRARY", "NAXSIM")}
    out = subprocess.run(
        [sys.executable, "-c",
         "import vedodiroz as nax; print(nax.library_origin, nax.library_path, nax.lib_version())"],
        env=dict(env, PYTHONPATH=str(target)), cwd=tmp_path, capture_output=True, text=True, check=True,
    ).stdout.split()  # fmt: skip
    assert out == ["bundled", str(target / "vedodiroz" / "_lib" / "libvedodiroz.so"), nax.lib_version()]


def test_missing_explicit_library_is_reported(tmp_path):
    env = dict(os.environ, VEDODIROZ_LIBRARY=str(tmp_path / "nowhere.so"))
    run = subprocess.run([sys.executable, "-c", "import vedodiroz"], env=env, cwd=PYTHON_DIR,
                         capture_output=True, text=True)  # fmt: skip
    assert run.returncode != 0 and "nowhere.so" in run.stderr
