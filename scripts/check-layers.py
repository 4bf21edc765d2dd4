#!/usr/bin/env python3
"""Checks that the includes between the source folders point one way.

The folders of src/, bottom to top: a file may include files of its own folder
and of the folders below it; nothing includes src/lib/. The folders below
src/objects/ (the Python-facing layer) are the pure core: they include no
Python header. src/py/ (the Python glue: references, version shims, the entry
point guard) includes only src/base/ and the Python headers, and only the
Python-facing layer and src/lib/ include it. A folder missing from the order
is an error: a new subsystem takes its place in it here.
"""

import re
import sys
from pathlib import Path

ORDER = ["base", "json", "idl", "decode", "scan", "tx", "accounts", "columnar", "objects", "lib"]
PYTHON_FACING = {"objects", "lib"}  # the rest is pure: never touches Python
GLUE = "py"

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.M)
PYTHON_HEADER = re.compile(r'^\s*#\s*include\s+<Python\.h>', re.M)


def check(src: Path) -> list[str]:
    problems = []
    rank = {name: i for i, name in enumerate(ORDER)}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        parts = path.relative_to(src).parts
        if len(parts) < 2:
            problems.append(f"{path}: source outside a layer folder")
            continue
        here = parts[0]
        if here != GLUE and here not in rank:
            problems.append(f"{path}: folder '{here}' has no place in the layer order")
            continue
        text = path.read_text(encoding="utf-8")
        if here != GLUE and here not in PYTHON_FACING and PYTHON_HEADER.search(text):
            problems.append(f"{path}: the pure folder '{here}/' includes Python.h")
        for target in INCLUDE.findall(text):
            if target == here:
                continue
            if here == GLUE:
                if target != "base":
                    problems.append(f"{path}: the glue includes '{target}/'")
            elif target == GLUE:
                if here not in PYTHON_FACING:
                    problems.append(f"{path}: the pure folder '{here}/' includes '{GLUE}/'")
            elif target not in rank:
                problems.append(f"{path}: includes unknown folder '{target}/'")
            elif target == "lib" or rank[target] > rank[here]:
                problems.append(f"{path}: '{here}/' includes '{target}/' above it")
    return problems


def main() -> int:
    src = Path(__file__).resolve().parent.parent / "src"
    problems = check(src)
    for problem in problems:
        print(f"check-layers: {problem}", file=sys.stderr)
    if problems:
        return 1
    print("check-layers: includes point one way", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
