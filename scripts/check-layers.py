#!/usr/bin/env python3
"""Checks the layers of the sources over their #include "..." lines.

Every folder under src/ is a layer, and the public header folder include/quillmere/ is
one too, as is the Python module's binding (python/binding/, layer "python"). A file may include only from its own layer and from the layers listed for it
below; no include cycle may exist between files. Includes that name no file of the tree
(generated headers, system headers written with quotes) are left out.

Usage: check-layers.py [SOURCE_ROOT]   (default: the repository this script is in)
Prints every broken rule and exits 1 when there is one.
"""

import pathlib
import re
import sys

# What each layer may include besides itself. "quillmere" is the public header.
ALLOWED = {
    "quillmere": set(),
    # Numbers as text, shared by the library's messages and the command line's records.
    "text": set(),
    "core": {"quillmere", "text"},
    # The filter design, part of the library: the cost model's requirements and the API.
    "design": {"quillmere", "text", "core"},
    "report": {"quillmere"},
    "platform": set(),
    "process": {"platform"},
    # Requests from their options, solved into records and written: the command line's,
    # the web page's and the Python module's.
    "records": {"quillmere", "text", "report"},
    "interactive": {"quillmere", "report", "process", "platform"},
    "cli": {"quillmere", "text", "report", "records", "process", "platform"},
    # The web calculator's binding: the records and the library, into WebAssembly.
    "web": {"quillmere", "records"},
    # The program's entry: both front ends and what they share.
    "main": {"quillmere", "cli", "interactive", "process", "platform"},
    # The Python module: a binding over the library and the records, nothing else.
    "python": {"quillmere", "records"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}


def layer_of(relative: pathlib.PurePosixPath) -> str:
    """The layer of a file, by its path under src/ or include/."""
    parts = relative.parts
    if parts[0] == "python":
        return "python"
    if parts[0] == "include":
        return parts[1]
    if len(parts) == 2:  # a file directly in src/, such as main.cpp
        return relative.stem
    return parts[1]


def collect(root: pathlib.Path):
    """Every source file of the tree, by its path relative to the root."""
    files = {}
    for top in ("src", "include", "python/binding"):
        for path in sorted((root / top).rglob("*")):
            if path.suffix in SUFFIXES and path.is_file():
                files[pathlib.PurePosixPath(path.relative_to(root).as_posix())] = path
    return files


def resolve(name: str, including: pathlib.PurePosixPath, files):
    """The file an include names: beside the including file, under src/ or include/."""
    for base in (including.parent, pathlib.PurePosixPath("src"),
                 pathlib.PurePosixPath("include"), pathlib.PurePosixPath("python")):
        candidate = pathlib.PurePosixPath(*(base / name).parts)
        if candidate in files:
            return candidate
    return None


def find_cycle(graph):
    """One include cycle as a list of files, or None."""
    state = {}  # absent: not seen; 1: on the current path; 2: done
    path = []

    def visit(node):
        state[node] = 1
        path.append(node)
        for target in sorted(graph.get(node, ())):
            if state.get(target) == 1:
                return path[path.index(target):] + [target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        path.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main(argv):
    root = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[1]
    files = collect(root)
    problems = []
    graph = {}
    for relative, path in files.items():
        layer = layer_of(relative)
        if layer not in ALLOWED:
            problems.append(f"{relative}: the layer '{layer}' is not known to this check")
            continue
        graph[relative] = set()
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = resolve(name, relative, files)
            if target is None:
                continue
            graph[relative].add(target)
            target_layer = layer_of(target)
            if target_layer != layer and target_layer not in ALLOWED[layer]:
                problems.append(f"{relative}: includes {name} ({layer} may not use {target_layer})")
    cycle = find_cycle(graph)
    if cycle:
        problems.append("include cycle: " + " -> ".join(str(node) for node in cycle))
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{len(files)} files, layers as declared, no include cycle")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
