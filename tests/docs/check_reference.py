#!/usr/bin/env python3
"""Fails when an exported function has no reference: every nax_ symbol the
shared library exports needs a prototype in the header with a comment block
that names each of its arguments, and a generated manual page in section 3
listed in vedodiroz(3).

usage: check_reference.py LIBRARY HEADER MAN_DIR MKMAN_DIR
"""
import os
import re
import subprocess
import sys

library, header_path, man_dir, mkman_dir = sys.argv[1:5]
sys.path.insert(0, mkman_dir)
import mkman  # noqa: E402

symbols = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
exported = {line.split()[-1] for line in symbols.splitlines()
            if line.split()[-1].startswith("nax_") and line.split()[-2] in ("T", "W")}
header = open(header_path, encoding="utf-8").read()
functions = {name: (proto, lines) for name, proto, lines in mkman.find_functions(header)}
overview = open(os.path.join(man_dir, "man3", "vedodiroz.3"), encoding="utf-8").read()

faults = []
if not exported:
    faults.append("the library exports no nax_ function")
for name in sorted(exported):
    if name not in functions:
        faults.append(name + ": exported but no prototype in the header")
        continue
    proto, lines = functions[name]
    if not lines:
        faults.append(name + ": no comment block above its prototype")
        continue
    text = "\n".join(lines)
    params = re.sub(r"^[^(]*\(|\)\s*;$", "", proto)
    for param in params.split(","):
        words = re.findall(r"\w+", param)
        if not words or words == ["void"]:
            continue
        # "- name:" or "- a, name, b:" lines carry the arguments
        if not re.search(r"^- [\w, ]*\b" + words[-1] + r"\b[\w, ]*:", text, re.M):
            faults.append("{}: argument {} not described".format(name, words[-1]))
    page = os.path.join(man_dir, "man3", name + ".3")
    if not os.path.isfile(page):
        faults.append(name + ": no manual page " + page)
        continue
    content = open(page, encoding="utf-8").read()
    description = content.split(".SH DESCRIPTION", 1)
    if len(description) != 2 or len(description[1].split(".SH", 1)[0].strip()) < 40:
        faults.append(name + ": manual page without a description")
    if not re.search(r"\b" + re.escape(name.replace("_", r"\_")) + r"\b|\b" + name + r"\b",
                     overview):
        faults.append(name + ": missing from vedodiroz(3)")
for name in sorted(set(functions) - exported):
    faults.append(name + ": in the header but not exported")

for fault in faults:
    print(fault)
print("{} exported functions, {} faults".format(len(exported), len(faults)))
sys.exit(1 if faults else 0)
