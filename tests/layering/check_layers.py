#!/usr/bin/env python3
"""Fails when an #include crosses the layers the wrong way.

Layers, lowest first: base (common/src/base but rcApi), rpc
(common/src/base/rcApi), client (corvane/src), then gateway and sim, which
both stand on client and not on each other; tests, benchmarks and fuzzers
may include anything. Inside base, the folders must not include each other
in a cycle. A header whose first line says "// Internal to <library>." is
included only from inside that library (and by tests). In gateway/ only
the server door makes server handles: anywhere else a construction of one
would reach a server past the site's list. The gateway's files (a header
and its source taken as one) include no cycle either.
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
# The files that may make a server handle: the door and the handle's own.
DOOR = {"gateway/ServerDoor.h", "gateway/ServerDoor.cpp",
        "gateway/TimeoutCorvaneServerHandle.h", "gateway/TimeoutCorvaneServerHandle.cpp"}
HANDLE = r"\b\w*CorvaneServerHandle\b"
HANDLE_MADE = re.compile(
    r"\bnew\s+" + HANDLE                              # new X(...)
    + r"|<\s*" + HANDLE + r"\s*>\s*[({]"               # make_unique<X>(...)
    + r"|" + HANDLE + r"(?!\s*::)\s*(?:\w+\s*)?[({]")  # X name(...), X(...), X{...}, a base's X(...)
COMMENT_OR_TEXT = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"', re.S)
# The rule is judged on samples first, so that a pattern gone blind fails too.
MADE_SAMPLES = (
    "CorvaneServerHandle server(host.c_str());",
    "TimeoutCorvaneServerHandle server{host, watchdog};",
    "auto h = std::make_unique<CorvaneServerHandle>(id);",
    "CorvaneServerHandle* h = new CorvaneServerHandle(id);",
    "Mine::Mine(const char* id) : CorvaneServerHandle(id) {}",
    "use(CorvaneServerHandle(id));",
)
NOT_MADE_SAMPLES = (
    "TimeoutCorvaneServerHandle server = context.door.open(host);",
    "CorvaneServerHandle::isDiscovered(server.c_str())",
    "[&](TimeoutCorvaneServerHandle& server, CorvaneNodeHandle& node) {",
    "void f(const CorvaneServerHandle &h);",
    "// CorvaneServerHandle server(host);",
    'throw std::string("CorvaneServerHandle(x)");',
)


def makes_handle(text):
    return HANDLE_MADE.search(COMMENT_OR_TEXT.sub(" ", text)) is not None


def check_handle_rule():
    errors = ["handle rule misses: " + t for t in MADE_SAMPLES if not makes_handle(t)]
    return errors + ["handle rule flags: " + t for t in NOT_MADE_SAMPLES if makes_handle(t)]


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
    errors = check_handle_rule()
    folders = {}
    units = {}  # gateway file (without its extension) -> the ones it includes
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
                if layer_of(path) == "gateway" and path not in DOOR and makes_handle(text):
                    errors.append("%s makes a server handle: only ServerDoor may" % path)
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
                    a, b = os.path.splitext(path)[0], os.path.splitext(target)[0]
                    if source_layer == "gateway" and target_layer == "gateway" and a != b:
                        units.setdefault(a, set()).add(b)
    cycle = find_cycle(folders)
    if cycle:
        errors.append("base folders include each other in a cycle: " + " -> ".join(cycle))
    cycle = find_cycle(units)
    if cycle:
        errors.append("gateway files include each other in a cycle: " + " -> ".join(cycle))
    if files == 0:
        errors.append("no sources found under " + root)
    for error in errors:
        print(error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
