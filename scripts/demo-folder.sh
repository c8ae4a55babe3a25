#!/usr/bin/env bash
# scripts/demo-folder.sh <dest> <quarry> <basegen> [<skinpack>] : builds the demo data of the
# program folder into <dest> from the sources under data/: every base folder (descriptor, artist
# index, album and song tables), the shared lyric table "lyrics.dat", "search.ini", "help.html"
# and, with <skinpack>, the skin package "skin.dat" from data/skin.
# <quarry>, <basegen> and <skinpack> are commands; when they run under Wine ("wine path/quarry.exe") the
# paths handed to them are converted to Windows paths, so WINEPREFIX must be set up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?usage: demo-folder.sh <dest> <quarry> <basegen>}
quarry=${2:?}
basegen=${3:?}
skinpack=${4:-}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

under_wine=0
case "$quarry" in wine\ *) under_wine=1 ;; esac
# The path as the tools take it.
tool_path() {
  if [ $under_wine = 1 ]; then winepath -w "$1" 2>/dev/null; else echo "$1"; fi
}

ini_value() {  # ini_value <file> <key> <default>
  local v
  v=$(tr -d '\r' <"$1" | sed -n "s/^$2=//Ip" | head -n 1)
  echo "${v:-$3}"
}

schema() {  # schema <kind> <table file name>
  sed "s/@TABLE@/$2/" "$root/data/schema/$1.sql"
}

# A table's three files, whatever the case of their extensions.
remove_table() {  # remove_table <folder> <table file name>
  local stem=${2%.*}
  find "$1" -maxdepth 1 -type f \( -iname "$stem.dat" -o -iname "$stem.idx" -o -iname "$stem.blb" \) -delete
}

remove_table "$dest" lyrics.dat
schema lyrics lyrics.dat >"$work/lyrics.sql"
$quarry "$(tool_path "$dest")" -f "$(tool_path "$work/lyrics.sql")"

for src in "$root"/data/bases/*/; do
  src=${src%/}
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
  $basegen catalogue "$(tool_path "$src/catalogue.tsv")" "$(tool_path "$root/data/lyrics")" "$name" "$kind" \
    "$(tool_path "$work/$name")" >/dev/null
  cp "$work/$name/artist.ini" "$base/$artists"
  {
    schema albums "$albums"
    schema songs "$songs"
    echo ".import \"$albums\" \"$(tool_path "$work/$name/albums.tsv")\""
    echo ".import \"$songs\" \"$(tool_path "$work/$name/songs.tsv")\""
  } >"$work/$name/build.sql"
  $quarry "$(tool_path "$base")" -f "$(tool_path "$work/$name/build.sql")"
  echo ".import lyrics.dat \"$(tool_path "$work/$name/lyrics.tsv")\"" >"$work/$name/lyrics.sql"
  $quarry "$(tool_path "$dest")" -f "$(tool_path "$work/$name/lyrics.sql")"
done

cp "$root/data/search.ini" "$root/data/help.html" "$dest/"
if [ -n "$skinpack" ]; then
  $skinpack pack "$(tool_path "$root/data/skin")" "$(tool_path "$dest/skin.dat")"
fi
