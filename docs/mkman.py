#!/usr/bin/env python3
"""Builds the manual pages from their one source.

Section 3: the comment block right above each exported prototype in
vedodiroz.h becomes that function's page (its first line is the summary, the
rest the description), and the header's opening comment with the status table
becomes vedodiroz(3).  Section 1: the tools' Markdown guides.  Every page is
written as Markdown first and rendered by pandoc.

usage: mkman.py --header H --out DIR [--pandoc P] [--tool NAME=FILE.md ...]
"""
import argparse
import concurrent.futures
import gzip
import os
import re
import subprocess
import sys

PROTOTYPE = re.compile(r"NAX_API\s+[^;]*?\b(nax_\w+)\s*\(([^;]*?)\)\s*;", re.S)
STATUS = re.compile(r'X\((\w+),\s*(\d+),\s*"([^"]*)"\)')
SECTION_LINE = re.compile(r"^([A-Z][A-Za-z' ]+):\s*(.*)$")
MANUAL = "vedodiroz manual"
TOOL_SUMMARIES = {
    "naxctl": "operators' tool for vedodiroz nodes",
    "naxsim": "vedodiroz node simulator",
    "naxgw": "MQTT gateway daemon for vedodiroz nodes",
}


def comment_text(block):
    """Text of a /* ... */ block without the comment markers."""
    body = block.strip()
    body = body[2:] if body.startswith("/*") else body
    body = body[:-2] if body.endswith("*/") else body
    lines = []
    for line in body.split("\n"):
        line = line.rstrip()
        stripped = line.lstrip()
        if stripped.startswith("* "):
            line = stripped[2:]
        elif stripped == "*":
            line = ""
        else:
            line = stripped
        lines.append(line)
    while lines and not lines[0]:
        lines.pop(0)
    while lines and not lines[-1]:
        lines.pop()
    return lines


def escape(line):
    """Keeps C text literal in Markdown: pointers, includes, arrows."""
    out = []
    for part in re.split(r"(`[^`]*`)", line):
        if part.startswith("`"):
            out.append(part)
        else:
            out.append(re.sub(r"([*<>\\|])", r"\\\1", part))
    return "".join(out)


def body_markdown(lines):
    """Comment lines to Markdown: 'Word:' at the start of a paragraph opens a subsection."""
    md = []
    paragraph_start = True
    in_list = False
    for line in lines:
        if not line:
            md.append("")
            paragraph_start = True
            in_list = False
            continue
        if line.startswith("- "):
            in_list = True
        elif in_list and not line.startswith(" "):
            # Text after a list, in the same comment paragraph: a paragraph of its own.
            md.append("")
            in_list = False
        m = SECTION_LINE.match(line) if paragraph_start else None
        if m and not line.startswith("- "):
            md.append("## " + m.group(1))
            md.append("")
            if m.group(2):
                md.append(escape(m.group(2)))
        else:
            md.append(escape(line))
        paragraph_start = False
    return "\n".join(md)


def find_functions(header):
    """(name, prototype, comment lines) for every exported prototype, in header order."""
    functions = []
    for m in PROTOTYPE.finditer(header):
        before = header[: m.start()].rstrip()
        lines = None
        if before.endswith("*/"):
            start = before.rfind("/*")
            lines = comment_text(before[start:])
            # A banner line of dashes marks a group heading, not a function's comment.
            if not lines or lines[0].startswith("---"):
                lines = None
        proto = " ".join(m.group(0).split())
        proto = proto.replace("NAX_API ", "").replace("NAX_CALL ", "")
        functions.append((m.group(1), proto, lines))
    return functions


def see_also(text, names, own):
    mentioned = sorted({n for n in re.findall(r"\bnax_\w+", text) if n in names and n != own})
    return ", ".join(["**vedodiroz**(3)"] + ["**%s**(3)" % n for n in mentioned])


def wrap_prototype(proto, width=66):
    """A prototype in lines that fit a manual page at 80 columns (code is indented by 14)."""
    if len(proto) <= width:
        return proto
    head, params = proto.split("(", 1)
    lines, line = [], head + "("
    for param in params.split(", "):
        piece = param + ("" if param.endswith(";") else ",")
        if len(line) + 1 + len(piece) > width and line.strip() and not line.endswith("("):
            lines.append(line)
            line = "    " + piece
        else:
            line += ("" if line.endswith("(") else " ") + piece
    return "\n".join(lines + [line])


def function_page(name, proto, lines, names, version, example):
    summary = lines[0].rstrip(".")
    rest = lines[1:]
    text = body_markdown(rest)
    return "\n".join([
        "% {}(3) {} | {}".format(name.upper(), version, MANUAL),
        "",
        "# NAME",
        "",
        "{} - {}".format(escape(name), escape(summary)),
        "",
        "# SYNOPSIS",
        "",
        "```c",
        "#include <vedodiroz.h>",
        "",
        wrap_prototype(proto),
        "```",
        "",
        "Link with `-lvedodiroz` (or `pkg-config --libs vedodiroz`).",
        "",
        "# DESCRIPTION",
        "",
        text,
        "",
    ] + (["# EXAMPLE", "", example, ""] if example else []) + [
        "# SEE ALSO",
        "",
        see_also("\n".join(rest), names, name),
        "",
    ])


def overview_page(header, functions, version):
    intro = comment_text(header[: header.index("*/") + 2])
    statuses = STATUS.findall(header)
    rows = []
    for n, code, t in statuses:
        rows += ["**{}** {}".format(code, escape(n)), ":   " + escape(t), ""]
    listing = []
    for n, _, l in functions:
        if l:
            listing += ["**{}**(3)".format(escape(n)), ":   " + escape(l[0].rstrip(".")), ""]
    # Sentences about the header's own layout mean nothing in a manual page.
    intro = re.sub(r"(?<=\.)\s+[^.]*\bprototype\b[^.]*\.", "", "\n".join(intro)).split("\n")
    return "\n".join([
        "% VEDODIROZ(3) {} | {}".format(version, MANUAL),
        "",
        "# NAME",
        "",
        "vedodiroz - " + escape(intro[0].split(":", 1)[1].strip().rstrip(".")),
        "",
        "# SYNOPSIS",
        "",
        "```c",
        "#include <vedodiroz.h>",
        "```",
        "",
        "Link with `-lvedodiroz`: `pkg-config --cflags --libs vedodiroz`, or in CMake "
        "`find_package(vedodiroz CONFIG)` and the target `vedodiroz::vedodiroz` "
        "(`vedodiroz::static` for the static library).",
        "",
        "# DESCRIPTION",
        "",
        body_markdown(intro[2:] if len(intro) > 2 and not intro[1] else intro[1:]),
        "",
        "# LIBRARY STATUSES",
        "",
        "**nax_status_text**(3) gives the same texts at run time.",
        "",
        "\n".join(rows),
        "",
        "# FUNCTIONS",
        "",
        "\n".join(listing),
        "",
    ])


def table_cells(line):
    """Cells of a Markdown table row; '\\|' stays inside its cell."""
    cells = re.split(r"(?<!\\)\|", line.strip().strip("|"))
    return [c.strip().replace("\\|", "|") for c in cells]


def tables_as_lists(lines):
    """Pipe tables become definition lists: a man page's columns must fit 80 characters,
    and a term with its text below it always does."""
    out = []
    i = 0
    while i < len(lines):
        if lines[i].startswith("|") and i + 1 < len(lines) and re.match(r"^\|[-|: ]+\|$", lines[i + 1]):
            header = table_cells(lines[i])
            i += 2
            while i < len(lines) and lines[i].startswith("|"):
                cells = table_cells(lines[i])
                text = cells[1] if len(cells) > 1 else ""
                extra = ["{}: {}".format(header[k].lower(), c)
                         for k, c in enumerate(cells[2:], start=2) if c and k < len(header)]
                out += [cells[0], ":   " + "; ".join([text] + extra if text else extra), ""]
                i += 1
            continue
        out.append(lines[i])
        i += 1
    return out


def tool_page(name, markdown, version):
    """The guide's first heading is the tool's name; its second-level headings become
    sections (SYNOPSIS first, the text before them the DESCRIPTION), third-level ones
    subsections."""
    lines = markdown.split("\n")
    if lines and lines[0].startswith("# "):
        lines = lines[1:]
    sections = [["DESCRIPTION", []]]
    fence = False
    for line in lines:
        if line.startswith("```"):
            fence = not fence
        if not fence and line.startswith("## "):
            sections.append([line[3:].strip().upper(), []])
            continue
        if not fence and line.startswith("###"):
            line = line[1:]
        sections[-1][1].append(line)
    sections.sort(key=lambda s: s[0] != "SYNOPSIS")
    summary = TOOL_SUMMARIES.get(name, "vedodiroz " + name)
    body = ["% {}(1) {} | {}".format(name.upper(), version, MANUAL), "", "# NAME", "",
            "{} - {}".format(name, summary), ""]
    for title, text in sections:
        body += ["# " + title, ""] + tables_as_lists(text) + [""]
    return "\n".join(body)


def render(pandoc, markdown, target):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    result = subprocess.run([pandoc, "-f", "markdown", "-t", "man", "-s", "-o", target],
                            input=markdown.encode(), capture_output=True)
    if result.returncode != 0:
        raise RuntimeError("pandoc failed for {}: {}".format(target, result.stderr.decode()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--header", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--pandoc", default="pandoc")
    parser.add_argument("--version", required=True)
    parser.add_argument("--tool", action="append", default=[])
    parser.add_argument("--examples", help="Markdown file: '## nax_name' then the example")
    parser.add_argument("--compressed", help="also write each page gzipped under this folder")
    args = parser.parse_args()

    header = open(args.header, encoding="utf-8").read()
    functions = find_functions(header)
    names = {n for n, _, _ in functions}
    examples = {}
    if args.examples:
        current = None
        for line in open(args.examples, encoding="utf-8").read().split("\n"):
            if line.startswith("## "):
                current = line[3:].strip()
                examples[current] = []
            elif current:
                examples[current].append(line)
        unknown = set(examples) - names
        if unknown:
            raise SystemExit("mkman: examples for unknown functions: " + ", ".join(sorted(unknown)))
    pages = {}
    for name, proto, lines in functions:
        if not lines:
            print("mkman: {} has no comment block above its prototype".format(name),
                  file=sys.stderr)
            continue
        example = "\n".join(examples.get(name, [])).strip()
        pages[os.path.join("man3", name + ".3")] = function_page(name, proto, lines, names,
                                                                 args.version, example)
    pages[os.path.join("man3", "vedodiroz.3")] = overview_page(header, functions, args.version)
    for tool in args.tool:
        name, path = tool.split("=", 1)
        pages[os.path.join("man1", name + ".1")] = tool_page(
            name, open(path, encoding="utf-8").read(), args.version)

    # Pages from an earlier run whose function is gone would otherwise linger.
    for out, suffix in ((args.out, ""), (args.compressed, ".gz")):
        for section in ("man1", "man3"):
            folder = os.path.join(out, section) if out else ""
            if os.path.isdir(folder):
                for f in os.listdir(folder):
                    if os.path.join(section, f) not in {p + suffix for p in pages}:
                        os.remove(os.path.join(folder, f))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        jobs = [pool.submit(render, args.pandoc, md, os.path.join(args.out, rel))
                for rel, md in pages.items()]
        for job in jobs:
            job.result()
    if args.compressed:
        for rel in pages:
            target = os.path.join(args.compressed, rel + ".gz")
            os.makedirs(os.path.dirname(target), exist_ok=True)
            data = open(os.path.join(args.out, rel), "rb").read()
            # No name or time in the header, so that the package is reproducible.
            with open(target, "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=0) as gz:
                gz.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
