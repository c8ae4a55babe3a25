#!/usr/bin/env bash
# scripts/large-base.sh <dest> [songs [albums [artists]]] : a synthetic lyrics base for benchmarks
# and load tests (default 1,000,000 songs, 80,000 albums, 20,000 artists) in the folder <dest>:
# descriptor, artist index, album and song tables in the demo bases' shapes, checked with
# quarry's .check at the end. Uses the optimised host build (scripts/build.sh release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?usage: large-base.sh <dest> [songs [albums [artists]]]}
songs=${2:-1000000}
albums=${3:-80000}
artists=${4:-20000}
build="${QUILLON_BUILD_ROOT:-$root/build}/release"
"$root/scripts/build.sh" release --target quarry basegen >/dev/null
quarry="$build/tools/quarry/quarry"
basegen="$build/tools/basegen/basegen"

name=$(basename "$dest")
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$basegen" synth --songs "$songs" --albums "$albums" --artists "$artists" "$name" "$work"
find "$dest" -maxdepth 1 -type f \( -iname 'AlbumList.*' -o -iname 'songlist.*' \) -delete
printf '[db]\r\nartistfile=artist.ini\r\nAlbumDb=AlbumList.dat\r\nsongDb=songlist.dat\r\n' >"$dest/$name.ini"
cp "$work/artist.ini" "$dest/artist.ini"
{
  sed "s/@TABLE@/AlbumList.dat/" "$root/data/schema/albums.sql"
  sed "s/@TABLE@/songlist.dat/" "$root/data/schema/songs.sql"
  echo ".timer on"
  echo ".import AlbumList.dat \"$work/albums.tsv\""
  echo ".import songlist.dat \"$work/songs.tsv\""
  echo ".check AlbumList.dat"
  echo ".check songlist.dat"
} >"$work/build.sql"
"$quarry" "$dest" -f "$work/build.sql"
