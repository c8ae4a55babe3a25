#!/usr/bin/env bash
# scripts/program-folder.sh <win32 build dir> <dest> : lays out the program folder the way it is
# installed: Quillon.exe with its data files beside it.
# Until the demo bases are laid out here (scripts/demo-folder.sh), a folder without a "default"
# base gets a starter one holding a descriptor and an artist index only, so that the main window
# opens on artists to browse; its album and song tables come with the demo data.
set -euo pipefail
build=${1:?usage: program-folder.sh <win32 build dir> <dest>}
dest=${2:?usage: program-folder.sh <win32 build dir> <dest>}
mkdir -p "$dest"
cp "$build/app/Quillon.exe" "$dest/Quillon.exe"
if [ ! -d "$dest/default" ]; then
  mkdir -p "$dest/default"
  printf '[db]\r\nartistfile=artist.ini\r\n' >"$dest/default/default.ini"
  printf '[A]\r\nAbba=\r\nAerosmith=\r\nAlice Cooper=\r\n[B]\r\nBeatles=\r\nBlondie=\r\n[M]\r\nMadonna=\r\n' \
    >"$dest/default/artist.ini"
fi
