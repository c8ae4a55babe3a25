#!/usr/bin/env bash
# scripts/demo-folder.sh <dest> <quarry> <basegen> : builds the demo data of the program folder
# into <dest> from the sources under data/: every base folder (descriptor, artist index, album
# and song tables), the shared lyric table "lyrics.dat", "search.ini" and "help.html".
# <quarry> and <basegen> are commands (they may be "wine path/quarry.exe").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?usage: demo-folder.sh <dest> <quarry> <basegen>}
quarry=${2:?}
basegen=${3:?}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ini_value() {  # ini_value <file> <key> <default>
  local v
  v=$(tr -d '\r' <"$1" | sed -n "s/^$2=//Ip" | head -n 1)
  echo "${v:-$3}"
}

schema() {  # schema <kind> <table file name>
  sed "s/@TABLE@/$2/" "$root/data/schema/$1.sql"
}

rm -f "$dest"/lyrics.DAT "$dest"/lyrics.IDX "$dest"/lyrics.BLB
schema lyrics lyrics.dat >"$work/lyrics.sql"
$quarry "$dest" -f "$work/lyrics.sql"

for src in "$root"/data/bases/*/; do
  name=$(basename "$src")
  base="$dest/$name"
  rm -rf "$base"
  mkdir -p "$base" "$work/$name"
  cp "$src/$name.ini" "$base/"
  albums=$(ini_value "$src/$name.ini" AlbumDb AlbumList.dat)
  songs=$(ini_value "$src/$name.ini" songDb songlist.dat)
  artists=$(ini_value "$src/$name.ini" artistfile artist.ini)
  kind=normal
  if echo "$albums" | grep -qi mylyrics; then kind=own; fi
  $basegen catalogue "$src/catalogue.tsv" "$root/data/lyrics" "$name" "$kind" "$work/$name"
  cp "$work/$name/artist.ini" "$base/$artists"
  {
    schema albums "$albums"
    schema songs "$songs"
    echo ".import \"$albums\" \"$work/$name/albums.tsv\""
    echo ".import \"$songs\" \"$work/$name/songs.tsv\""
  } >"$work/$name/build.sql"
  $quarry "$base" -f "$work/$name/build.sql"
  echo ".import lyrics.dat \"$work/$name/lyrics.tsv\"" >"$work/$name/lyrics.sql"
  $quarry "$dest" -f "$work/$name/lyrics.sql"
done

cp "$root/data/search.ini" "$root/data/help.html" "$dest/"
