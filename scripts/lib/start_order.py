#!/usr/bin/env python3
"""Writes the linker script fragment that gathers the gateway's start path.

Usage: start_order.py GATEWAY LINK_MAP CALLGRIND_OUT... > gateway/start-order.ld

Every function of GATEWAY that ran in the given callgrind profiles (taken
with --demangle=no) is looked up in the program's symbols, and the input
section holding it in LINK_MAP becomes one line of the fragment, in the order
of the profiles and, within one, of name. Local functions that share a name
with others (clones in several objects) are left out when they sit in a whole
object's .text, so that only the code that ran moves.
"""
import re
import subprocess
import sys

HEADER = """\
/* The code a gateway request runs from exec to exit, gathered in one place.
   A CGI process maps its program text a window of pages at a time as it
   first touches it; left in link order, the few functions a request runs
   are spread over the whole text, and mapping their windows costs more
   than the request's own work. Written by scripts/order-start-path.sh
   from profiles of real requests; a line that no longer matches anything
   costs nothing but the locality, so regenerate it when the start path
   changes. */
SECTIONS
{
  .text.startpath : {
    *Scrt1.o(.text)
    *crtbegin*.o(.text)
    *(.text.startup .text.startup.*)
"""

FOOTER = """\
  }
}
INSERT BEFORE .text;
/* The guards of function-local statics and template members, which start-up
   reads and sets, at the head of .bss: its first page is already mapped for
   the end of .data, and the rest is then left untouched. */
SECTIONS
{
  .bss.startpath (NOLOAD) : { *(.bss._ZGV*) }
}
INSERT BEFORE .bss;
"""


def ran_functions(profiles):
    """Names of the functions that ran, first profile first. Callgrind may
    put the program's own under an unknown object, so every object's are
    taken, and only the program's symbols are looked up."""
    names, seen = [], set()
    for profile in profiles:
        ran = set()
        functions = {}  # callgrind's compressed names: (id) name
        for line in open(profile, errors="replace"):
            match = re.match(r"^(c?fn)=\((\d+)\)(?: (.*))?$", line.rstrip("\n"))
            if not match:
                continue
            kind, key, name = match.groups()
            if name:
                functions[key] = name
            if kind == "fn":
                name = re.sub(r"'\d+$", "", functions.get(key, ""))  # recursion marks
                if name and not name.startswith(("0x", "_GLOBAL__sub_I")):
                    ran.add(name)
        # Sorted: callgrind lists the functions of threads in no fixed order.
        names += sorted(ran - seen)
        seen |= ran
    return names


def symbol_addresses(program):
    addresses = {}
    listing = subprocess.run(["nm", program], capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] in "tTwWiI":
            addresses.setdefault(fields[2], []).append(int(fields[0], 16))
    return addresses


def text_input_sections(link_map):
    """(start, size, section, file) of every input section of output .text."""
    sections = []
    lines = open(link_map).read().splitlines()
    inside = False
    entry = re.compile(r"^ (\.text\S*)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+))?\s*$")
    place = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)")
    for i, line in enumerate(lines):
        if re.match(r"^\.\S", line):
            inside = line.split()[0] in (".text", ".text.startpath")
            continue
        match = entry.match(line) if inside else None
        if not match:
            continue
        if match.group(2):
            start, size, path = match.group(2), match.group(3), match.group(4)
        elif i + 1 < len(lines) and place.match(lines[i + 1]):
            start, size, path = place.match(lines[i + 1]).groups()
        else:
            continue
        if int(size, 16):
            sections.append((int(start, 16), int(size, 16), match.group(1), path))
    return sections


def main():
    program, link_map, profiles = sys.argv[1], sys.argv[2], sys.argv[3:]
    addresses = symbol_addresses(program)
    sections = text_input_sections(link_map)
    lines, written = [], set()
    for name in ran_functions(profiles):
        places = addresses.get(name, [])
        for address in places:
            for start, size, section, path in sections:
                if not start <= address < start + size:
                    continue
                if section.startswith(".text.startup"):
                    continue  # all of them come first anyway
                if section == ".text":
                    if len(places) > 1:
                        continue
                    member = path.split("/")[-1].replace("(", ":").rstrip(")")
                    line = "    *%s(%s)" % (member, section)
                else:
                    line = "    *(%s)" % section
                if line not in written:
                    written.add(line)
                    lines.append(line)
    sys.stdout.write(HEADER + "\n".join(lines) + "\n" + FOOTER)


if __name__ == "__main__":
    main()
