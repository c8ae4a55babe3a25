#!/usr/bin/env bash
# scripts/program-folder.sh <win32 build dir> <dest> : lays out the program folder the way it is
# installed: Quillon.exe with its data files beside it.
set -euo pipefail
build=${1:?usage: program-folder.sh <win32 build dir> <dest>}
dest=${2:?usage: program-folder.sh <win32 build dir> <dest>}
mkdir -p "$dest"
cp "$build/app/Quillon.exe" "$dest/Quillon.exe"
