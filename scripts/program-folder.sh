#!/usr/bin/env bash
# scripts/program-folder.sh <win32 build dir> <dest> : lays out the program folder the way it is
# installed: Quillon.exe with the demo data beside it (scripts/demo-folder.sh, run with the
# build's quarry.exe and basegen.exe under Wine; WINEPREFIX must be set up) and the skin package
# "skin.dat" packed from data/skin by the build's skinpack.exe. The demo data is rebuilt only when
# its sources or the tools changed since the last layout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: program-folder.sh <win32 build dir> <dest>}" && pwd)
dest=${2:?usage: program-folder.sh <win32 build dir> <dest>}
mkdir -p "$dest"
cp "$build/app/Quillon.exe" "$dest/Quillon.exe"
quarry="$build/tools/quarry/quarry.exe"
basegen="$build/tools/basegen/basegen.exe"
skinpack="$build/tools/skinpack/skinpack.exe"
stamp="$dest/.demo-data"
if [ -f "$stamp" ] && [ -z "$(find "$root/data" "$root/scripts/demo-folder.sh" "$quarry" "$basegen" "$skinpack" -newer "$stamp" -print -quit)" ]; then
  exit 0
fi
rm -f "$stamp"
"$root/scripts/demo-folder.sh" "$dest" "wine $quarry" "wine $basegen" "wine $skinpack"
touch "$stamp"
