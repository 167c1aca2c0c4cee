#!/usr/bin/env python3
"""Fails when a source file includes from a higher layer.

The folders form layers that only look down:
  platform -> model -> engine -> output -> job, update -> app, window, draw
A file may include from its own folder and from any lower layer. Folders on
the same layer (job and update; app, window and draw) do not include each
other. engine/ is itself in rooms that are ranked the same way:
  bitmap -> psd, confine -> colour -> composite -> decode, steps
and every file of engine/ lives in one of them.
Usage: tools/check_layers.py [SOURCE_DIR]
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
ENGINE_ROOMS = {
    "bitmap": 0,
    "psd": 1, "confine": 1,
    "colour": 2,
    "composite": 3,
    "decode": 4, "steps": 4,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/(?:([^"/]+)/)?[^"]+"', re.M)
SOURCE = (".h", ".cpp", ".inc")


def engine_problems(root):
    """Rooms of engine/ that include a room not below them, and files outside any room."""
    engine = os.path.join(root, "engine")
    for dirpath, _, names in os.walk(engine):
        room = os.path.relpath(dirpath, engine).split(os.sep)[0]
        for name in sorted(names):
            if not name.endswith(SOURCE):
                continue
            path = os.path.join(dirpath, name)
            if room not in ENGINE_ROOMS:
                yield f"{os.path.relpath(path, root)}: not in one of the engine's rooms ({', '.join(ENGINE_ROOMS)})"
                continue
            with open(path, encoding="utf-8") as source:
                text = source.read()
            for match in INCLUDE.finditer(text):
                target = match.group(2)
                if match.group(1) != "engine" or target == room or target not in ENGINE_ROOMS:
                    continue
                if ENGINE_ROOMS[target] >= ENGINE_ROOMS[room]:
                    line = text.count("\n", 0, match.start()) + 1
                    yield f"{os.path.relpath(path, root)}:{line}: includes {match.group(0).split()[-1]} " \
                          f"(engine/{target} is not below engine/{room})"


def upward_includes(root):
    for folder, rank in LAYERS.items():
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith(SOURCE):
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
    problems = list(upward_includes(root)) + list(engine_problems(root))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
