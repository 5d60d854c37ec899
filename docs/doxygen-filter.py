#!/usr/bin/env python3
"""Turns a public header's plain // comments into the reference's text, as
doxygen reads a file through it (INPUT_FILTER): the comment that opens the
file describes the class named after the file (or the file, when there is
none), a comment on the lines above a declaration describes it, and one at
the end of a declaration's line describes that declaration.
Usage: doxygen-filter.py HEADER"""
import os
import re
import sys

TRAILING = re.compile(r'^(\s*[^"/\s][^"/]*?[;,{])\s*// (.*)$')


def main(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    name = os.path.splitext(os.path.basename(path))[0]
    opening = []
    while lines and lines[0].startswith("//"):
        opening.append(lines.pop(0)[2:])
    main_class = re.compile(r"^(class|struct)\s+" + re.escape(name) + r"\b[^;]*$")
    placed = not opening
    out = []
    if opening and not any(main_class.match(line) for line in lines):
        out.append("/** \\file")
        out.extend(opening)
        out.append(" */")
        placed = True
    for line in lines:
        if not placed and main_class.match(line):
            out.extend("///" + text for text in opening)
            placed = True
        stripped = line.lstrip()
        if stripped.startswith("// ") or stripped == "//":
            out.append(line.replace("//", "///", 1))
            continue
        trailing = TRAILING.match(line)
        out.append(trailing.group(1) + " ///< " + trailing.group(2) if trailing else line)
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
