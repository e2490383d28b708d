"""The build backend's wheels, and how the package finds its library."""

import base64
import hashlib
import importlib.util
import os
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import vedodiroz as nax
from vedodiroz.testing import find_naxsim

PYTHON_DIR = Path(__file__).resolve().parents[1]


@pytest.fixture
def backend(monkeypatch):
    found = importlib.util.spec_from_file_location(
        "nax_build", PYTHON_DIR / "build_backend" / "nax_build.py"
    )
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    for name in ("VEDODIROZ_LIBRARY", "VEDODIROZ_NAXSIM", "VEDODIROZ_NO_BUNDLE"):
        monkeypatch.delenv(name, raising=False)
    return module


def _check_record(wheel: zipfile.ZipFile) -> None:
    record = next(n for n in wheel.namelist() if n.endswith(".dist-info/RECORD"))
    listed = set()
    for line in wheel.read(record).decode().splitlines():
        name, digest, size = line.rsplit(",", 2)
        listed.add(name)
        if name == record:
            continue
        data = wheel.read(name)
        want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert (digest, int(size)) == (f"sha256={want}", len(data)), name
    assert listed == set(wheel.namelist())


def test_pure_wheel_and_sdist(backend, tmp_path, monkeypatch):
    monkeypatch.setenv("VEDODIROZ_NO_BUNDLE", "1")
    name = backend.build_wheel(str(tmp_path))
    assert name == f"vedodiroz-{nax.__version__}-py3-none-any.whl"
    info = f"vedodiroz-{nax.__version__}.dist-info"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        _check_record(wheel)
        names = set(wheel.namelist())
        # the fixtures as a pytest plugin, the type hints marker, the licence
        assert "[pytest11]\nvedodiroz.testing = vedodiroz.testing" in wheel.read(f"{info}/entry_points.txt").decode()
        assert "License: MIT" in wheel.read(f"{info}/METADATA").decode()
    sources = {p.relative_to(PYTHON_DIR).as_posix() for p in (PYTHON_DIR / "vedodiroz").rglob("*.py")}
    assert sources | {"vedodiroz/py.typed", f"{info}/LICENSE"} <= names
    assert not any("_lib/" in n or "_bin/" in n for n in names)
    import tarfile

    with tarfile.open(tmp_path / backend.build_sdist(str(tmp_path))) as sdist:
        names = sdist.getnames()
    assert {"pyproject.toml", "vedodiroz/link.py", "LICENSE"} <= {n.split("/", 1)[1] for n in names}


def test_bundled_wheel_loads_its_own_library(backend, tmp_path, monkeypatch):
    monkeypatch.setenv("VEDODIROZ_LIBRARY", nax.library_path)
    monkeypatch.setenv("VEDODIROZ_NAXSIM", find_naxsim())
    name = backend.build_wheel(str(tmp_path))
    assert not name.endswith("-any.whl")
    target = tmp_path / "site"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        _check_record(wheel)
        mode = wheel.getinfo("vedodiroz/_bin/naxsim").external_attr >> 16
        assert mode & 0o111
        wheel.extractall(target)
    env = {k: v for k, v in os.environ.items() if k not in ("VEDODIROZ_LIBRARY", "NAXSIM")}
    env["PYTHONPATH"] = str(target)
    out = subprocess.run(
        [sys.executable, "-c",
         "import vedodiroz as nax; print(nax.library_origin, nax.library_path, nax.lib_version())"],
        env=env, cwd=tmp_path, capture_output=True, text=True, check=True,
    ).stdout.split()  # fmt: skip
    assert out == ["bundled", str(target / "vedodiroz" / "_lib" / "libvedodiroz.so"), "1.1.13"]


def test_missing_explicit_library_is_reported(tmp_path):
    env = dict(os.environ, VEDODIROZ_LIBRARY=str(tmp_path / "nowhere.so"))
    run = subprocess.run([sys.executable, "-c", "import vedodiroz"], env=env, cwd=PYTHON_DIR,
                         capture_output=True, text=True)  # fmt: skip
    assert run.returncode != 0 and "nowhere.so" in run.stderr
