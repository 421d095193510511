#!/usr/bin/env python3
"""Fails on an include that points up a layer of kvtd.

The daemon's layers, bottom first: platform/ (the C boundary), card/ (the
image record, section map, checksums, dump), cardlib/ (the card library),
base/ (the daemon's log, fatal-stop entry, file replacement, object
session, status), sections/, service/, frame/. A file may include its own
layer and those below it. sim/ (the simulated SP) stands behind platform/
and may include platform/, card/ and cardlib/ only; tools/ may include any
daemon layer but never sim/. Nothing product includes tests/, bench/ or
fuzz/.

Usage: check-layers.py [ROOT]   (default: the repository's files under git)
"""
import pathlib
import re
import subprocess
import sys

LAYERS = ["platform", "card", "cardlib", "base", "sections", "service", "frame"]
RANK = {name: n for n, name in enumerate(LAYERS)}
NEVER = {"tests", "bench", "fuzz"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def allowed(folder, target):
    if target == folder:
        return True
    if target in NEVER:
        return False
    if folder in RANK:
        return target in RANK and RANK[target] < RANK[folder]
    if folder == "sim":
        return target in ("platform", "card", "cardlib")
    if folder == "tools":
        return target in RANK
    return True  # tests, bench, fuzz and scripts see everything


def source_files(root):
    if root is None:
        names = subprocess.run(["git", "ls-files", "*.cpp", "*.hpp", "*.h"], check=True,
                               capture_output=True, text=True).stdout.split()
        return [pathlib.Path(n) for n in names]
    return [p.relative_to(root) for p in pathlib.Path(root).rglob("*")
            if p.suffix in (".cpp", ".hpp", ".h")]


def main():
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else None
    base = root or pathlib.Path(".")
    back = []
    for path in source_files(root):
        folder = path.parts[0]
        for number, line in enumerate((base / path).read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match and not allowed(folder, match.group(1)):
                back.append(f"{path}:{number}: {folder}/ includes {match.group(1)}/")
    for line in back:
        print(line)
    if back:
        print(f"layers: {len(back)} include(s) point up a layer or across", file=sys.stderr)
        return 1
    print("layers: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
