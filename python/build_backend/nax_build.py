"""A PEP 517 build backend for the vedodiroz package, standard library only.

It writes the wheel itself (zip, METADATA, WHEEL, RECORD).  When the package sits in
a source checkout (python/ beside CMakeLists.txt) it builds the shared library and the
naxsim program with CMake and bundles both; otherwise the wheel holds only Python code
and finds an installed library at run time.

Environment:
  VEDODIROZ_LIBRARY    bundle this libvedodiroz.so instead of building one
  VEDODIROZ_NAXSIM     bundle this naxsim program instead of building one
  VEDODIROZ_BUILD_DIR  CMake build folder to use (default: <checkout>/build-python)
  VEDODIROZ_NO_BUNDLE  set to 1: bundle nothing, build nothing
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import zipfile
from pathlib import Path

NAME = "vedodiroz"
HERE = Path(__file__).resolve().parent.parent  # python/
REPO = HERE.parent
SUMMARY = "Access-control and time-and-attendance nodes from Python (over libvedodiroz)"


def _version() -> str:
    text = (HERE / NAME / "_version.py").read_text()
    return re.search(r'__version__ = "([^"]+)"', text).group(1)


def _metadata() -> str:
    readme = HERE / "README.md"
    body = readme.read_text() if readme.is_file() else ""
    return (
        f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {_version()}\nSummary: {SUMMARY}\n"
        "License: MIT\nClassifier: License :: OSI Approved :: MIT License\n"
        "Classifier: Typing :: Typed\n"
        "Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n" + body
    )


def _dist_info() -> str:
    return f"{NAME}-{_version()}.dist-info"


# The fixtures of vedodiroz.testing as a pytest plugin, under the module's own name so
# that a conftest naming it in pytest_plugins does not load it twice.
ENTRY_POINTS = "[pytest11]\nvedodiroz.testing = vedodiroz.testing\n"


def _license():
    """The licence text: beside the package in an sdist, at the top of a checkout."""
    for path in (HERE / "LICENSE", REPO / "LICENSE"):
        if path.is_file():
            return path
    return None


def _python_files():
    """The package's modules and its py.typed marker (the package ships type hints)."""
    for path in sorted((HERE / NAME).rglob("*")):
        if "__pycache__" not in path.parts and (path.suffix == ".py" or path.name == "py.typed"):
            yield path, path.relative_to(HERE).as_posix()


def _run(cmd) -> None:
    print("+", " ".join(str(c) for c in cmd), file=sys.stderr, flush=True)
    subprocess.run([str(c) for c in cmd], check=True, stdout=sys.stderr)


def _native_files() -> list:
    """(source file, path in the wheel) of the library and naxsim to bundle."""
    if os.environ.get("VEDODIROZ_NO_BUNDLE") == "1":
        return []
    lib = os.environ.get("VEDODIROZ_LIBRARY")
    sim = os.environ.get("VEDODIROZ_NAXSIM")
    in_checkout = (REPO / "CMakeLists.txt").is_file() and (REPO / "include" / "vedodiroz.h").is_file()
    if (not lib or not sim) and in_checkout and shutil.which("cmake"):
        build = Path(os.environ.get("VEDODIROZ_BUILD_DIR") or REPO / "build-python")
        targets = ([] if lib else ["vedodiroz"]) + ([] if sim else ["naxsim"])
        if not (build / "CMakeCache.txt").is_file():
            generator = ["-G", "Ninja"] if shutil.which("ninja") else []
            _run(["cmake", "-S", REPO, "-B", build, *generator, "-DCMAKE_BUILD_TYPE=Release",
                  "-DNAX_BUILD_TESTS=OFF", "-DNAX_BUILD_BENCH=OFF"])  # fmt: skip
        _run(["cmake", "--build", build, "-j", "2", "--target", *targets])
        lib = lib or str(build / "src" / "libvedodiroz.so")
        sim = sim or str(build / "tools" / "naxsim" / "naxsim")
    files = []
    if lib:
        files.append((Path(lib).resolve(), f"{NAME}/_lib/libvedodiroz.so"))
    if sim:
        files.append((Path(sim).resolve(), f"{NAME}/_bin/naxsim"))
    return files


def _tag(native: bool) -> str:
    if not native:
        return "py3-none-any"
    plat = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"py3-none-{plat}"


def _record_line(arcname: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}"


def _write_wheel(directory: str, entries: list, native: bool) -> str:
    """entries: (arcname, bytes, executable)."""
    tag = _tag(native)
    info = _dist_info()
    entries = list(entries)
    entries.append((f"{info}/METADATA", _metadata().encode(), False))
    wheel = f"Wheel-Version: 1.0\nGenerator: nax_build\nRoot-Is-Purelib: {'false' if native else 'true'}\nTag: {tag}\n"
    entries.append((f"{info}/WHEEL", wheel.encode(), False))
    entries.append((f"{info}/top_level.txt", f"{NAME}\n".encode(), False))
    entries.append((f"{info}/entry_points.txt", ENTRY_POINTS.encode(), False))
    if _license():
        entries.append((f"{info}/LICENSE", _license().read_bytes(), False))
    record = [_record_line(a, d) for a, d, _ in entries] + [f"{info}/RECORD,,"]
    entries.append((f"{info}/RECORD", ("\n".join(record) + "\n").encode(), False))
    filename = f"{NAME}-{_version()}-{tag}.whl"
    with zipfile.ZipFile(Path(directory) / filename, "w", zipfile.ZIP_DEFLATED) as zf:
        for arcname, data, executable in entries:
            zi = zipfile.ZipInfo(arcname, date_time=(2020, 1, 1, 0, 0, 0))
            zi.external_attr = (0o100755 if executable else 0o100644) << 16
            zi.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(zi, data)
    return filename


# --- PEP 517 hooks -----------------------------------------------------------


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = Path(metadata_directory) / _dist_info()
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_text(_metadata())
    (info / "entry_points.txt").write_text(ENTRY_POINTS)
    return info.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    entries = [(arc, path.read_bytes(), False) for path, arc in _python_files()]
    native = _native_files()
    for source, arc in native:
        entries.append((arc, source.read_bytes(), True))
    return _write_wheel(wheel_directory, entries, bool(native))


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """The package stays in place (a .pth file points at python/); the library and naxsim
    are found in the checkout's build folders at run time."""
    pth = (str(HERE) + "\n").encode()
    return _write_wheel(wheel_directory, [(f"_{NAME}_editable.pth", pth, False)], False)


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{_version()}"
    filename = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / filename, "w:gz") as tar:
        for rel in ["pyproject.toml", "README.md", "build_backend/nax_build.py"]:
            if (HERE / rel).is_file():
                tar.add(HERE / rel, f"{base}/{rel}")
        for path, arc in _python_files():
            tar.add(path, f"{base}/{arc}")
        if _license():
            tar.add(_license(), f"{base}/LICENSE")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return filename
