#!/usr/bin/env python3
"""Keeps the source folders layered: every #include "..." under src/ may point only to its own
folder or to a folder listed as below it. Prints the folder include graph with --graph.

  check_layers.py [--graph] [ROOT]     exit 1 and one line per offending include otherwise
"""
import os
import re
import sys
from collections import Counter

# Folder -> the folders its files may include (besides itself). "vantrel" is include/vantrel,
# the host ABI; foundation may use only its portable platform types from there.
ALLOWED = {
    "foundation": {"vantrel/platform_types.h"},
    "rcpplus": {"foundation"},
    "core": {"foundation", "vantrel"},
    "control": {"core", "rcpplus", "foundation", "vantrel"},
    "streaming": {"control", "core", "rcpplus", "foundation", "vantrel"},
    "capabilities": {"streaming", "control", "core", "rcpplus", "foundation", "vantrel"},
    "channels": {"capabilities", "streaming", "control", "core", "rcpplus", "foundation", "vantrel"},
    # The subsystems built on the channels sit side by side and do not include each other.
    "audio": {"channels", "capabilities", "streaming", "control", "core", "rcpplus", "foundation", "vantrel"},
    "events": {"channels", "capabilities", "streaming", "control", "core", "rcpplus", "foundation", "vantrel"},
    "ptz": {"channels", "capabilities", "streaming", "control", "core", "rcpplus", "foundation", "vantrel"},
    "edgestorage": {"audio", "events", "channels", "capabilities", "streaming", "control", "core", "rcpplus",
                    "foundation", "vantrel"},
    # The top: exports, factories and the host-facing objects; nothing includes it.
    "driver": {"edgestorage", "audio", "events", "ptz", "channels", "capabilities", "streaming", "control", "core",
               "rcpplus", "foundation", "vantrel"},
}
ORDER = ["foundation", "rcpplus", "core", "control", "streaming", "capabilities", "channels", "audio", "events",
         "ptz", "edgestorage", "driver"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def scan(root):
    edges = Counter()
    errors = []
    src = os.path.join(root, "src")
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in ALLOWED:
            errors.append(f"src/{folder}/: folder has no place in the layer table of scripts/check_layers.py")
            continue
        for dirpath, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c", ".hpp")):
                    continue
                file = os.path.join(dirpath, name)
                rel = os.path.relpath(file, root)
                with open(file, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        head = target.split("/")[0]
                        if "/" not in target:
                            head = folder  # a same-folder include without a path
                        edges[(folder, head)] += 1
                        allowed = ALLOWED[folder]
                        if head == folder or head in allowed or target in allowed:
                            continue
                        errors.append(f"{rel}:{number}: {folder}/ may not include \"{target}\"")
    return edges, errors


def main(argv):
    graph = "--graph" in argv
    args = [a for a in argv if not a.startswith("--")]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    edges, errors = scan(root)
    if graph:
        for folder in ORDER:
            outs = sorted(((t, n) for (f, t), n in edges.items() if f == folder and t != folder),
                          key=lambda x: ORDER.index(x[0]) if x[0] in ORDER else -1)
            print(f"{folder:13} -> " + (", ".join(f"{t} ({n})" for t, n in outs) or "(nothing)"))
    for e in errors:
        print(e)
    if errors:
        print(f"layer check: {len(errors)} include(s) point up the layers")
        return 1
    if not graph:
        print("layer check: OK")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
