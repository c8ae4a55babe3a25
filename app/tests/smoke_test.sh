#!/usr/bin/env bash
# Smoke test of the program as a person meets it: Quillon.exe in a laid-out program folder with a
# test base, started in a Wine virtual desktop; a screenshot; then the caption, the three tabs, the
# base list, the letter grid and the artist list are checked, and Alt+X must close the window and
# write "lyrics.ini".
#   smoke_test.sh <Quillon.exe> <inspect_window.exe> <win32 build dir>
# The screenshot is kept as <build dir>/app/tests/smoke.png.
set -euo pipefail
quillon=$1
inspector=$2
build=$(cd "$3" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
caption='Pelmora Lyrics Base - Quillon'
shot="$build/app/tests/smoke.png"

. "$root/scripts/wine-env.sh"
own_env=0
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  quillon_wine_up "$build"
  own_env=1
fi

work=$(mktemp -d)
# Closes every window of the program left on the test desktop.
close_all() {
  local i
  for i in $(seq 1 10); do
    wine "$inspector" "$caption" --desktop QuillonSmoke --close >/dev/null 2>&1 </dev/null || return 0
    sleep 0.5
  done
}
cleanup() {
  close_all
  rm -rf "$work"
  if [ $own_env = 1 ]; then quillon_wine_down; fi
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The program folder with one test base.
program="$work/program"
mkdir -p "$program/smoketest"
cp "$quillon" "$program/Quillon.exe"
printf '[db]\r\nartistfile=artist.ini\r\n' >"$program/smoketest/smoketest.ini"
printf '[A]\r\nAnthrax=\r\nAqua=\r\nArcade Fire=\r\n[B]\r\nBjork=\r\n' >"$program/smoketest/artist.ini"
printf '[set]\r\nbase=smoketest\r\n' >"$program/lyrics.ini"
printf '[db]\r\nupcoming=120#45\r\n' >"$program/search.ini"

# Only our window may carry the caption, or the checks would look at another one.
close_all
if xdotool search --name "^$caption\$" >/dev/null 2>&1; then fail "another '$caption' window is open"; fi
(cd "$program" && exec wine explorer /desktop=QuillonSmoke,1024x768 Quillon.exe >/dev/null 2>&1 </dev/null) &
for _ in $(seq 1 150); do
  xdotool search --name "^$caption\$" >/dev/null 2>&1 && break
  sleep 0.2
done
xdotool search --name "^$caption\$" >/dev/null 2>&1 || fail "no window captioned '$caption'"
sleep 2  # let the window paint
import -window root "$shot"

report="$work/report.txt"
wine "$inspector" "$caption" --desktop QuillonSmoke >"$report" 2>&1 </dev/null || fail "inspector: $(cat "$report")"
tr -d '\r' <"$report" >"$report.unix"
report="$report.unix"

grep -qx "window $caption" "$report" || fail "caption"
for tab in 'Select Artist' '  Album && Songs  ' '  Search Lyrics  '; do
  grep -qxF "  tab $tab" "$report" || fail "tab '$tab'"
done
# The artist list of the test base's letter A, in file order, in a visible list box.
artists=$(awk '/^child ListBox .* visible=1/ {on=1; next} /^child/ {on=0} on && /^  item / {sub(/^  item /, ""); print}' "$report")
[ "$artists" = $'Anthrax\nAqua\nArcade Fire' ] || fail "artist list: $artists"
bases=$(awk '/^child ComboBox/ {on=1; next} /^child/ {on=0} on && /^  item / {sub(/^  item /, ""); print}' "$report" | head -n 3)
[ "$bases" = $'smoketest\nupcoming\nmore...' ] || fail "base list: $bases"
grep -q '^child ComboBox .* text=smoketest$' "$report" || fail "the open base is not selected"

# The letter grid: a 119 x 68 window of ours; its cells are #333333 with white letters.
grid=$(grep -m1 '^child QuillonWindow [0-9-]*,[0-9-]*,119,68 visible=1' "$report" | awk '{print $3}') ||
  fail "letter grid not found"
gx=${grid%%,*}
rest=${grid#*,}
gy=${rest%%,*}
# ImageMagick's own convert (another convert may come first in PATH).
im=/usr/bin/convert
[ -x "$im" ] || im=convert
pixel() { "$im" "$shot" -format "%[hex:p{$1,$2}]" info:; }
for cell in "1 0" "6 3" "0 2"; do
  set -- $cell
  x=$((gx + $1 * 17))
  y=$((gy + $2 * 17))
  [ "$(pixel $((x + 15)) $((y + 15)))" = 333333 ] || fail "grid cell $cell colour $(pixel $((x + 15)) $((y + 15)))"
  # Letters are anti-aliased: count the light pixels of the cell.
  light=$("$im" "$shot" -crop "16x16+$x+$y" +repage -colorspace Gray -threshold 70% \
    -format '%[fx:int(mean*256+0.5)]' info:)
  [ "$light" -ge 2 ] || fail "grid cell $cell shows no white letter"
done
# The left strip's colour beside the grid.
[ "$(pixel $((gx - 8)) $((gy + 30)))" = ACA895 ] || fail "left strip colour $(pixel $((gx - 8)) $((gy + 30)))"

# Alt+X closes the window, which writes the remembered state.
window=$(xdotool search --name "^$caption\$" | head -n 1)
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+x
for _ in $(seq 1 50); do
  grep -q '^lastpageindex=' "$program/lyrics.ini" 2>/dev/null && break
  sleep 0.2
done
tr -d '\r' <"$program/lyrics.ini" | grep -qx 'lastchar=A' || fail "lyrics.ini not written at Alt+X"
echo "smoke test passed: $shot"
