#!/usr/bin/env python3
"""Fails when a library includes a header of a library above it.

The libraries are the folders CMakeLists.txt adds, in the order it adds them
up to app/: each may use only those before it (README, "Where things live").
The folders beside them (publish/, testkit/, tests/ ...) may use any library,
but no library may use them.
Usage: scripts/check-floors.py
"""
import pathlib
import re
import sys

top = pathlib.Path(__file__).resolve().parent.parent
if len(sys.argv) > 1:
    print(__doc__.strip())
    sys.exit(0 if sys.argv[1] == "--help" else 2)
added = re.findall(r"^add_subdirectory\((\w+)\)", (top / "CMakeLists.txt").read_text(), re.M)
floors = added[: added.index("app") + 1]
folders = {path.name for path in top.iterdir() if path.is_dir()}
include = re.compile(r'^\s*#\s*include\s+"([^/"]+)/', re.M)
faults = []
for floor, folder in enumerate(floors):
    for source in sorted((top / folder).rglob("*")):
        if source.suffix not in {".cpp", ".h", ".in"}:
            continue
        for used in include.findall(source.read_text(encoding="utf-8")):
            if used not in folders:
                continue
            if used not in floors or floors.index(used) > floor:
                faults.append(f"{source.relative_to(top)}: includes {used}/, "
                              f"which is not below {folder}/")
for fault in faults:
    print(fault)
print(f"{len(floors)} floors, {len(faults)} includes running up", file=sys.stderr)
sys.exit(1 if faults else 0)
