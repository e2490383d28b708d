"""Compares the package's record, status and function tables with a C header."""

from __future__ import annotations

import ctypes
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from vedodiroz import _native as n

C_TYPES = {"uint8_t": "u8", "uint16_t": "u16", "uint32_t": "u32", "int32_t": "i32", "char": "char"}


def _strip_comments(text: str) -> str:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def header_structs(text: str) -> dict:
    """{record: [(field, type), ...]} with types spelled as in the package's table."""
    structs = {}
    for name, body, alias in re.findall(
        r"typedef\s+struct\s+(\w+)\s*\{(.*?)\}\s*(\w+)\s*;", _strip_comments(text), re.S
    ):
        fields = []
        for statement in body.split(";"):
            words = statement.split()
            if not words:
                continue
            ctype, declarator = " ".join(words[:-1]), words[-1]
            m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?", declarator)
            spelled = C_TYPES.get(ctype, ctype)
            fields.append((m.group(1), f"{spelled}[{m.group(2)}]" if m.group(2) else spelled))
        structs[alias] = fields
    return structs


def header_statuses(text: str) -> list:
    return [(name[4:], int(code)) for name, code in re.findall(r"X\((NAX_\w+),\s*(\d+),", text)]


def header_functions(text: str) -> dict:
    """{function: number of parameters}."""
    found = {}
    for name, params in re.findall(
        r"NAX_API\s+[\w\s\*]+?NAX_CALL\s+(nax_\w+)\s*\(([^)]*)\)", _strip_comments(text)
    ):
        params = params.strip()
        found[name] = 0 if params in ("", "void") else params.count(",") + 1
    return found


def measured_layout(header: Path) -> dict:
    """{record: (size, {field: offset})} as a C compiler lays out the header's records."""
    lines = ['#include <stddef.h>', '#include <stdio.h>', '#include "vedodiroz.h"',
             "int main(void) {"]  # fmt: skip
    for record, fields in n.RECORDS:
        lines.append(f'  printf("{record} size %zu\\n", sizeof({record}));')
        for field, _ in fields:
            lines.append(f'  printf("{record} {field} %zu\\n", offsetof({record}, {field}));')
    lines.append("  return 0;\n}\n")
    compiler = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    with tempfile.TemporaryDirectory() as tmp:
        source, exe = Path(tmp) / "layout.c", Path(tmp) / "layout"
        source.write_text("\n".join(lines))
        built = subprocess.run([compiler, "-std=c11", "-I", str(header.parent), str(source),
                                "-o", str(exe)], capture_output=True, text=True)  # fmt: skip
        if built.returncode != 0:
            return {"<compile error>": built.stderr}
        out = subprocess.run([str(exe)], capture_output=True, text=True, check=True).stdout
    result: dict = {}
    for line in out.splitlines():
        record, what, value = line.split()
        size, offsets = result.setdefault(record, [0, {}])
        if what == "size":
            result[record][0] = int(value)
        else:
            offsets[what] = int(value)
    return {k: (v[0], v[1]) for k, v in result.items()}


def problems(header: Path) -> list:
    """Every difference between the header and the package's tables."""
    text = header.read_text()
    found = []
    structs = header_structs(text)
    table = dict(n.RECORDS)
    if set(structs) != set(table):
        found.append(f"records: header {sorted(structs)} vs table {sorted(table)}")
    for record, fields in n.RECORDS:
        if structs.get(record) != list(fields):
            found.append(f"{record}: header {structs.get(record)} vs table {list(fields)}")
    measured = measured_layout(header)
    if "<compile error>" in measured:
        found.append("compile: " + measured["<compile error>"])
    else:
        for record, fields in n.RECORDS:
            size, offsets = measured[record]
            struct = n.STRUCTS[record]
            if ctypes.sizeof(struct) != size:
                found.append(f"{record}: size {ctypes.sizeof(struct)} in Python, {size} in C")
            for field, _ in fields:
                if getattr(struct, field).offset != offsets[field]:
                    found.append(f"{record}.{field}: offset {getattr(struct, field).offset} "
                                 f"in Python, {offsets[field]} in C")  # fmt: skip
    if header_statuses(text) != list(n.STATUSES):
        found.append("status list differs")
    # Every function the package binds must be declared alike; the header may declare
    # more (extensions the package does not wrap yet).
    functions = header_functions(text)
    for name, (_, args) in n.FUNCTIONS.items():
        if functions.get(name) != len(args):
            found.append(f"{name}: {functions.get(name)} parameters in C, {len(args)} in Python")
    return found
