#!/usr/bin/env python3
"""Fails when an #include crosses the layers the wrong way.

Layers, lowest first: base (common/src/base but rcApi), rpc
(common/src/base/rcApi), client (corvane/src), then gateway and sim, which
both stand on client and not on each other; tests, benchmarks and fuzzers
may include anything. Inside base, the folders must not include each other
in a cycle. A header whose first line says "// Internal to <library>." is
included only from inside that library (and by tests).
Usage: check_layers.py SOURCE_DIR
"""
import os
import re
import sys

SCANNED = ("common", "corvane", "gateway", "sim", "tests", "bench", "fuzz")
# Where a quoted include is looked for after the including file's folder.
ROOTS = ("common/src", "corvane/src", ".", "tests", "gateway")
LIBRARY = {
    "base": "corvane_base",
    "rpc": "corvane_rpc",
    "client": "corvane_client",
    "gateway": "corvane_gateway",
    "sim": "corvane_sim",
}
BELOW = {
    "base": set(),
    "rpc": {"base"},
    "client": {"base", "rpc"},
    "gateway": {"base", "rpc", "client"},
    "sim": {"base", "rpc", "client"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
INTERNAL = re.compile(r"// Internal to (\w+)\.")


def layer_of(path):
    if path.startswith("common/src/base/rcApi/"):
        return "rpc"
    if path.startswith("common/src/base/"):
        return "base"
    if path.startswith("corvane/src/"):
        return "client"
    for top in ("gateway", "sim"):
        if path.startswith(top + "/"):
            return top
    return None  # tests, benchmarks, fuzzers: above every layer


def base_folder(path):
    parts = path.split("/")
    return parts[3] if layer_of(path) == "base" and len(parts) > 4 else None


def resolve(root, including, name):
    for folder in (os.path.dirname(including),) + ROOTS:
        candidate = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def internal_to(root, header):
    with open(os.path.join(root, header), encoding="utf-8", errors="replace") as f:
        found = INTERNAL.match(f.readline())
    return found.group(1) if found else None


def find_cycle(graph):
    state = {}  # 1: on the current path, 2: done

    def visit(node, path):
        state[node] = 1
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, path + [nxt])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main():
    root = sys.argv[1]
    errors = []
    folders = {}
    files = 0
    for top in SCANNED:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith((".h", ".c", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), root)
                files += 1
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for included in INCLUDE.findall(text):
                    target = resolve(root, path, included)
                    if target is None:
                        errors.append("%s: cannot find \"%s\"" % (path, included))
                        continue
                    source_layer, target_layer = layer_of(path), layer_of(target)
                    if source_layer and target_layer and target_layer != source_layer \
                            and target_layer not in BELOW[source_layer]:
                        errors.append("%s (%s) includes %s (%s)" % (path, source_layer, target, target_layer))
                    if layer_of(target) is None and source_layer:
                        errors.append("%s (%s) includes %s, which is not library code" % (path, source_layer, target))
                    owner = internal_to(root, target)
                    if owner and source_layer and LIBRARY[source_layer] != owner:
                        errors.append("%s includes %s, which is internal to %s" % (path, target, owner))
                    if owner and owner != LIBRARY.get(layer_of(target)):
                        errors.append("%s says it is internal to %s" % (target, owner))
                    a, b = base_folder(path), base_folder(target)
                    if a and b and a != b:
                        folders.setdefault(a, set()).add(b)
    cycle = find_cycle(folders)
    if cycle:
        errors.append("base folders include each other in a cycle: " + " -> ".join(cycle))
    if files == 0:
        errors.append("no sources found under " + root)
    for error in errors:
        print(error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
