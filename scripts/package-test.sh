#!/usr/bin/env bash
# scripts/package-test.sh : builds the package (scripts/package.sh) and tries it as a Windows user
# would, in a fresh Wine prefix on a virtual display:
#   - the installer runs silently (per user), lays out the program folder, the Start menu
#     shortcut and the uninstall entry with its fields; the demo bases point at no 127.0.0.1 page
#     and carry every demo text in "lyrics.dat";
#   - Quillon.exe starts from the installed folder and shows its window with several artists under
#     "A" (screenshot package-installed.png), and closes writing "lyrics.ini" and the registry value;
#   - a lyric is stored, then the silent uninstall removes the installed files, the shortcut and the
#     entry and keeps the stored lyric, the own lyrics base and the settings;
#   - the same for an install for all users, uninstalled through the entry's quiet command;
#   - the portable zip unpacks and starts the same way (screenshot package-portable.png).
# Needs the win32 build's inspect_window.exe (bash scripts/build.sh win32 --target inspect_window).
# The screenshots are kept in build/win32-release/package-test/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(tr -d '\r\n' <"$root/VERSION")
build_root=${QUILLON_BUILD_ROOT:-$root/build}
dist=${QUILLON_DIST:-$root/dist}
inspector="$build_root/win32/app/tests/inspect_window.exe"
caption='Pelmora Lyrics Base - Quillon'
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon'

[ -f "$inspector" ] || { echo "package-test: build $inspector first" >&2; exit 1; }
# The package first, then the rest through scripts/run32.sh (32-bit Wine and programs).
if [ -z "${QUILLON_PACKAGE_TEST_INSIDE:-}" ]; then
  "$root/scripts/package.sh"
  QUILLON_PACKAGE_TEST_INSIDE=1 exec "$root/scripts/run32.sh" bash "$root/scripts/package-test.sh" "$@"
fi
setup="$dist/Quillon-$version-setup.exe"
zip="$dist/Quillon-$version-win32.zip"
shots="$build_root/win32-release/package-test"
mkdir -p "$shots"
quarry="$build_root/win32-release/tools/quarry/quarry.exe"

work=$(mktemp -d)
. "$root/scripts/wine-env.sh"
unset WINEPREFIX
quillon_wine_up "$work"
cleanup() {
  wine "$inspector" "$caption" --close >/dev/null 2>&1 </dev/null || true
  quillon_wine_down
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pass() { echo "ok: $*"; }

# reg_value <root\key> <name>: the value as "reg query" prints it, empty when missing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print }'
}
unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
sql() {  # sql <folder> <statement>
  wine "$quarry" "$(winepath -w "$1" 2>/dev/null)" -c "$2" 2>&1 </dev/null | tr -d '\r'
}

# kept_lyric <folder>: true when the lyric table there holds the lyric this test stored.
kept_lyric() {
  local found
  found=$(sql "$1" "SELECT lyrics FROM \"lyrics.dat\" WHERE songname = 'Kept Song'")
  grep -q 'kept words' <<<"$found"
}

# start_program <folder> <screenshot>: starts Quillon.exe there, checks its window and its artist
# list, takes the screenshot and closes it, which must write "lyrics.ini" into the folder.
start_program() {
  local folder=$1 shot=$2 report="$work/report.txt"
  if xdotool search --name "^$caption\$" >/dev/null 2>&1; then fail "a '$caption' window is already open"; fi
  (cd "$folder" && exec wine Quillon.exe >/dev/null 2>&1 </dev/null) &
  local pid=$!
  for _ in $(seq 1 150); do
    xdotool search --name "^$caption\$" >/dev/null 2>&1 && break
    sleep 0.2
  done
  xdotool search --name "^$caption\$" >/dev/null 2>&1 || fail "no window captioned '$caption' from $folder"
  sleep 2  # let the window paint
  import -window root "$shot"
  wine "$inspector" "$caption" >"$report" 2>&1 </dev/null || fail "inspector: $(cat "$report")"
  local artists
  artists=$(tr -d '\r' <"$report" |
    awk '/^child ListBox .* visible=1/ {on=1; next} /^child/ {on=0} on && /^  item / {sub(/^  item /, ""); print}')
  [ "$(echo "$artists" | grep -c .)" -ge 3 ] || fail "the first start lists too few artists under A: $artists"
  wine "$inspector" "$caption" --close >/dev/null 2>&1 </dev/null || fail "cannot close the window"
  wait "$pid" || true
  [ -f "$folder/lyrics.ini" ] || fail "the program wrote no lyrics.ini into $folder"
  grep -qi '^base=default' "$folder/lyrics.ini" || fail "lyrics.ini: $(cat "$folder/lyrics.ini")"
}

# check_installed <folder>: the program folder as the package lays it out.
check_installed() {
  local f
  for f in Quillon.exe skin.dat search.ini help.html lyrics.dat default/default.ini lyricvault/lyricvault.ini \
    MyLyrics/MyLyrics.ini tools/quarry.exe tools/pagetext.exe tools/skinpack.exe; do
    # The table store names its files in capitals (".DAT"); Windows does not mind the case.
    [ -n "$(find "$1" -ipath "$1/$f" -type f)" ] || fail "$f missing from $1"
  done
  for f in basegen.exe tools/basegen.exe app_tests.exe; do
    [ ! -e "$1/$f" ] || fail "$f must not be shipped"
  done
  # Shipped programs hold no test framework and no debugging information.
  for f in "$1"/Quillon.exe "$1"/tools/*.exe; do
    ! grep -qa 'testing::' "$f" || fail "$f holds test code"
    sections=$(i686-w64-mingw32-objdump -h "$f")
    ! grep -q '\.debug_' <<<"$sections" || fail "$f is not stripped"
  done
  ! grep -rIil '127\.0\.0\.1' "$1" --include='*.ini' || fail "a page address of the installed bases points at 127.0.0.1"
  # Every demo text is stored: the lyric table holds a row for each song that has one.
  local expected stored
  expected=$(awk -F '\t' 'FNR > 1 && $5 != "" {n++} END {print n}' "$root"/data/bases/*/catalogue.tsv)
  expected=$((expected + $(awk 'NR > 1' "$root/data/site/pages.tsv" | grep -c .)))
  stored=$(sql "$1" 'SELECT COUNT(*) AS n FROM "lyrics.dat"' | grep -Eo '[0-9]+' | tail -n 1)
  [ "$stored" = "$expected" ] || fail "lyrics.dat holds $stored lyrics, the demo data has $expected"
}

# ---- Per-user install -----------------------------------------------------------------------
wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
wineserver -w
location=$(reg_value "HKCU\\$uninstall_key" InstallLocation)
[ -n "$location" ] || fail "no uninstall entry under HKCU"
installed=$(unix_path "$location")
case "$installed" in *AppData/Local/Programs/Quillon) ;; *) fail "per-user install went to $installed" ;; esac
check_installed "$installed"
[ "$(reg_value "HKCU\\$uninstall_key" DisplayName)" = Quillon ] || fail "DisplayName"
[ "$(reg_value "HKCU\\$uninstall_key" DisplayVersion)" = "$version" ] || fail "DisplayVersion"
[ "$(reg_value "HKCU\\$uninstall_key" Publisher)" = "Pelmora Software" ] || fail "Publisher"
[ "$(reg_value "HKCU\\$uninstall_key" DisplayIcon)" = "$location\\Quillon.exe,0" ] || fail "DisplayIcon"
size=$(reg_value "HKCU\\$uninstall_key" EstimatedSize)
[ -n "$size" ] && [ $((size)) -gt 1000 ] || fail "EstimatedSize $size"
uninstaller=$(reg_value "HKCU\\$uninstall_key" UninstallString)
[ "$uninstaller" = "\"$location\\uninstall.exe\" /CurrentUser" ] || fail "UninstallString $uninstaller"
shortcut=$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Quillon.lnk' | head -n 1)
[ -n "$shortcut" ] || fail "no Start menu shortcut"
[ -z "$(reg_value "HKLM\\$uninstall_key" DisplayName)" ] || fail "a per-user install wrote HKLM"
pass "per-user install into $location with its uninstall entry and shortcut"

start_program "$installed" "$shots/package-installed.png"
[ "$(reg_value 'HKCU\Software\Pelmora\Quillon' Path)" = "$location\\" ] || fail "the program did not write Path"
pass "the installed program starts, lists the artists of A and closes"

# A lyric the program stored, then the silent uninstall.
printf 'songname\tlyrics\tsongindex\tsongdb\nKept Song\tkept words\t9999\tdefault\n' >"$work/kept.tsv"
sql "$installed" ".import lyrics.dat \"$(winepath -w "$work/kept.tsv" 2>/dev/null)\"" >/dev/null ||
  fail "cannot store a lyric"
# Installed again over itself (an update): what the user made stays.
wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the installer failed over an installed copy"
wineserver -w
kept_lyric "$installed" ||
  fail "installing again lost the stored lyric"
[ -f "$installed/lyrics.ini" ] || fail "installing again removed the settings"
echo "not ours" >"$installed/default/notes.txt"
wine "$installed/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
wineserver -w  # the uninstaller runs on from a copy of itself
for f in Quillon.exe skin.dat search.ini help.html uninstall.exe default/default.ini lyricvault tools; do
  [ ! -e "$installed/$f" ] || fail "uninstall left $f"
done
[ -z "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Quillon.lnk')" ] || fail "uninstall left the shortcut"
[ -z "$(reg_value "HKCU\\$uninstall_key" DisplayName)" ] || fail "uninstall left its entry"
[ -f "$installed/default/notes.txt" ] || fail "uninstall removed a file it did not install"
[ -f "$installed/lyrics.ini" ] || fail "uninstall removed the settings"
[ -f "$installed/MyLyrics/MyLyrics.ini" ] || fail "uninstall removed the own lyrics base"
kept_lyric "$installed" ||
  fail "uninstall lost the stored lyric"
pass "silent uninstall removed the program and kept the stored lyric, the own base and the settings"

# ---- Install for all users ----------------------------------------------------------------------
wine "$setup" /S /AllUsers </dev/null >/dev/null 2>&1 || fail "the installer failed for all users"
wineserver -w
location=$(reg_value "HKLM\\$uninstall_key" InstallLocation)
[ -n "$location" ] || fail "no uninstall entry under HKLM"
machine=$(unix_path "$location")
case "$location" in *'Program Files'*'\Quillon') ;; *) fail "an install for all users went to $location" ;; esac
check_installed "$machine"
[ "$(reg_value "HKLM\\$uninstall_key" DisplayVersion)" = "$version" ] || fail "DisplayVersion (HKLM)"
quiet=$(reg_value "HKLM\\$uninstall_key" QuietUninstallString)
[ "$quiet" = "\"$location\\uninstall.exe\" /AllUsers /S" ] || fail "QuietUninstallString $quiet"
# As the system runs it: the quoted program, then its arguments.
quiet_program=${quiet#\"}
quiet_program=${quiet_program%%\"*}
read -r -a quiet_args <<<"${quiet#\"$quiet_program\"}"
wine "$quiet_program" "${quiet_args[@]}" </dev/null >/dev/null 2>&1 || fail "the quiet uninstall command failed"
wineserver -w
[ ! -e "$machine/Quillon.exe" ] || fail "uninstall for all users left Quillon.exe"
[ -z "$(reg_value "HKLM\\$uninstall_key" DisplayName)" ] || fail "uninstall left the HKLM entry"
pass "install for all users into $location, removed by its quiet uninstall command"

# ---- Portable zip -------------------------------------------------------------------------------
mkdir -p "$work/portable"
unzip -q "$zip" -d "$work/portable"
check_installed "$work/portable/Quillon"
start_program "$work/portable/Quillon" "$shots/package-portable.png"
pass "the portable copy unpacks and starts"
echo "package-test: all passed (screenshots in $shots)"
