#!/usr/bin/env python3
"""Fails when a module includes a header of a layer above it (or of a sibling beside it).

    scripts/check-layers.py [SOURCE_ROOT]

Every `#include "folder/..."` in the sources of a module is checked against the modules it may
build on. A module may include itself and everything below it, following SITS_ON to the bottom;
nothing else. Includes in angle brackets, and quoted includes whose first folder is not one of
ours (a file beside the includer, a generated file), are not ours to check. Tests beside a module
follow their module's rule.

The layers, bottom to top (derived from the includes of the tree when the check was written):

    util                                       text, files, profiles, registry, platform seam
    engine         on util                     the table store
    dataset        on engine                   tables, queries, sessions, dataset/sql
    web            on dataset                  page host, page text, extraction (uses util only today)
    lyricsearch    on dataset                  word index of the lyric table, lyric queries
    ui             on dataset                  the class library over Win32 (data-aware controls)
    skin, flatctl  on ui                       beside ui's users, over util and dataset
    app            on web, lyricsearch, skin, flatctl
    tools          on web, lyricsearch, skin, flatctl    (not on app)
    app/tests      on app, tools                (fixtures build tables with the shell)
    bench          on tools, app                (the window benchmarks drive the main window)
"""
import os
import re
import sys

# Module -> the modules directly below it. A module's name is its folder; the longest matching
# folder wins ("app/tests" before "app").
SITS_ON = {
    "util": [],
    "engine": ["util"],
    "dataset": ["engine"],
    "web": ["dataset"],
    "lyricsearch": ["dataset"],
    "ui": ["dataset"],
    "skin": ["ui"],
    "flatctl": ["ui"],
    "app": ["web", "lyricsearch", "skin", "flatctl"],
    "tools": ["web", "lyricsearch", "skin", "flatctl"],
    "app/tests": ["app", "tools"],
    "bench": ["tools", "app"],
}

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def allowed_below(module):
    seen = set()
    todo = [module]
    while todo:
        m = todo.pop()
        if m in seen:
            continue
        seen.add(m)
        todo.extend(SITS_ON[m])
    return seen


def module_of(path):
    """The module a repository path belongs to, or None."""
    best = None
    for m in SITS_ON:
        if path == m or path.startswith(m + "/"):
            if best is None or len(m) > len(best):
                best = m
    return best


def check(root):
    faults = []
    allowed = {m: allowed_below(m) for m in SITS_ON}
    for top in sorted({m.split("/")[0] for m in SITS_ON}):
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, root).replace(os.sep, "/")
                owner = module_of(rel)
                with open(full, encoding="latin-1") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = module_of(match.group(1))
                        if target is None or target in allowed[owner]:
                            continue
                        faults.append(f"{rel}:{number}: {owner} includes {match.group(1)} of {target}, "
                                      f"which is not below it")
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the layers", file=sys.stderr)
        return 1
    print("layers ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
