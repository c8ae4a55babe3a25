#!/usr/bin/env bash
# scripts/demo-folder.sh [--installed] <dest> <quarry> <basegen> [<skinpack>] : builds the demo
# data of the program folder into <dest> from the sources under data/: every base folder
# (descriptor, artist index, album and song tables), the shared lyric table "lyrics.dat",
# "search.ini", "help.html" and, with <skinpack>, the skin package "skin.dat" from data/skin.
# <quarry>, <basegen> and <skinpack> are commands; when they run under Wine ("wine path/quarry.exe") the
# paths handed to them are converted to Windows paths, so WINEPREFIX must be set up.
# The demo lyrics sites of data/site/ exist only on a developer's machine (scripts/run.sh serves
# them on 127.0.0.1). With --installed, for the folder a user installs, every text of those sites
# goes into "lyrics.dat" with the others, and the bases' page addresses point at the maker's
# site instead of 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
installed=0
if [ "${1:-}" = --installed ]; then
  installed=1
  shift
fi
dest=${1:?usage: demo-folder.sh [--installed] <dest> <quarry> <basegen> [<skinpack>]}
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

# The address of the demo sites while run.sh serves them, and where an installed copy looks instead.
local_site='http://127\.0\.0\.1:8719/'
maker_site='http://www.pelmora.example/'

# installed_texts <Url> <catalogue> <out dir>: writes <out dir>/catalogue.tsv, the catalogue with
# the page texts of the base's demo site named in its lyrics column, and copies those texts into
# $work/lyrics (prefixed "site-", beside the texts of data/lyrics). A base's site is the one whose
# name is a folder of its Url; a song is on the site when its url1 is a page identifier there.
installed_texts() {
  mkdir -p "$work/lyrics"
  cp "$root"/data/lyrics/*.txt "$work/lyrics/"
  for t in "$root"/data/site/texts/*.txt; do cp "$t" "$work/lyrics/site-$(basename "$t")"; done
  awk -F '\t' -v OFS='\t' -v url="$1" '
    FNR == 1 { file++; next }
    file == 1 { if (index(url, "/" $1 "/")) text[$2] = "site-" $5; next }
    { if ($5 == "" && ($4 in text)) $5 = text[$4]; print }
  ' "$root/data/site/pages.tsv" "$2" >"$3/catalogue.body"
  { head -n 1 "$2"; cat "$3/catalogue.body"; } >"$3/catalogue.tsv"
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
  albums=$(ini_value "$src/$name.ini" AlbumDb AlbumList.dat)
  songs=$(ini_value "$src/$name.ini" songDb songlist.dat)
  artists=$(ini_value "$src/$name.ini" artistfile artist.ini)
  kind=normal
  if echo "$albums" | grep -qi mylyrics; then kind=own; fi
  catalogue="$src/catalogue.tsv"
  lyrics_dir="$root/data/lyrics"
  if [ $installed = 1 ]; then
    url=$(ini_value "$src/$name.ini" Url "")
    installed_texts "$url" "$src/catalogue.tsv" "$work/$name"
    catalogue="$work/$name/catalogue.tsv"
    lyrics_dir="$work/lyrics"
    sed "s|^\(Url=\)$local_site|\1$maker_site|I" "$src/$name.ini" >"$base/$name.ini"
    if grep -qi '127\.0\.0\.1\|localhost' "$base/$name.ini"; then
      echo "demo-folder: $name.ini still points at this machine: $(grep -i '^Url=' "$base/$name.ini")" >&2
      exit 1
    fi
  else
    cp "$src/$name.ini" "$base/"
  fi
  $basegen catalogue "$(tool_path "$catalogue")" "$(tool_path "$lyrics_dir")" "$name" "$kind" \
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
