#!/usr/bin/env python3
"""Fails when a source file includes from a higher layer.

The folders form layers that only look down:
  platform -> model -> engine -> output -> job, update -> app, window, draw
A file may include from its own folder and from any lower layer. Folders on
the same layer (job and update; app, window and draw) do not include each
other. Usage: tools/check_layers.py [SOURCE_DIR]
"""
import os
import re
import sys

LAYERS = {
    "platform": 0,
    "model": 1,
    "engine": 2,
    "output": 3,
    "job": 4, "update": 4,
    "app": 5, "window": 5, "draw": 5,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def upward_includes(root):
    for folder, rank in LAYERS.items():
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp", ".inc")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as source:
                    text = source.read()
                for match in INCLUDE.finditer(text):
                    target = match.group(1)
                    if target == folder or target not in LAYERS:
                        continue
                    if LAYERS[target] >= rank:
                        line = text.count("\n", 0, match.start()) + 1
                        yield f"{os.path.relpath(path, root)}:{line}: includes {match.group(0).split()[-1]} " \
                              f"({target} is not below {folder})"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems = list(upward_includes(root))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
