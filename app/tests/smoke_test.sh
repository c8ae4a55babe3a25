#!/usr/bin/env bash
# Smoke test of the program as a person meets it: Quillon.exe in the program folder laid out with
# the demo data (scripts/program-folder.sh, as the README's run command does), started in a Wine
# virtual desktop; a screenshot; then every table of the demo folder must check "ok", and the
# caption, the three tabs, the base list, the letter grid and the artist list of the demo data are
# checked, the first focus and Tab, arrow and Enter keys on the letter grid, the skinned frame,
# menus and About box against reference pictures, and Alt+X must close the window and write
# "lyrics.ini". Started again on the album page, the remembered album's songs are listed and a
# click on a song shows its stored lyrics (screenshot smoke-songs.png); a song without stored text
# is fetched from the demo lyrics site and stored (smoke-fetched.png).
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

# The program folder with the demo data, opened on the demo base "default".
program="$work/program"
"$root/scripts/program-folder.sh" "$build" "$program"
cp "$quillon" "$program/Quillon.exe"
printf '[set]\r\nbase=default\r\n' >"$program/lyrics.ini"

# Every table of the demo folder checks "ok".
tables=$(cd "$program" && find . -iname '*.dat' ! -iname skin.dat | sort)  # skin.dat is the skin package
[ -n "$tables" ] || fail "no tables in the demo folder"
for t in $tables; do
  result=$(wine "$build/tools/quarry/quarry.exe" "$(winepath -w "$program/$(dirname "$t")")" \
    -c ".check $(basename "$t")" 2>&1 </dev/null | tr -d '\r')
  [ "$result" = ok ] || fail ".check $t: $result"
done

# What the demo data makes the window show: the base folders, then the download list of
# "search.ini" not installed, then "more..."; the artists of letter A in artist-index order.
ini_section() {  # ini_section <file> <section>: the keys of the section in file order
  tr -d '\r' <"$1" | awk -v s="[$2]" '/^\[/ {on = ($0 == s); next} on && /=/ {sub(/=.*/, ""); print}'
}
expected_artists=$(ini_section "$program/default/artist.ini" A)
[ -n "$expected_artists" ] || fail "the demo base has no artists under A"
installed=$(cd "$program" && for d in */; do d=${d%/}; if [ -f "$d/$d.ini" ]; then echo "$d"; fi; done)

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
[ "$artists" = "$expected_artists" ] || fail "artist list: $artists (expected $expected_artists)"
bases=$(awk '/^child ComboBox/ {on=1; next} /^child/ {on=0} on && /^  item / {sub(/^  item /, ""); print}' "$report")
n_installed=$(echo "$installed" | wc -l)
[ "$(echo "$bases" | head -n "$n_installed" | sort -f)" = "$(echo "$installed" | sort -f)" ] ||
  fail "base list $bases does not start with the installed bases $installed"
for b in $(ini_section "$program/search.ini" db); do
  echo "$bases" | grep -qixF "$b" || fail "download list entry $b missing from the base list"
done
[ "$(echo "$bases" | tail -n 1)" = "more..." ] || fail "base list does not end with more...: $bases"
grep -q '^child ComboBox .* text=default$' "$report" || fail "the open base is not selected"

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
# The highlight is on "A", the letter whose artists are listed; the other cells keep the grid's look.
ax=$((gx + 17))
[ "$(pixel $((ax + 15)) $((gy + 15)))" != 333333 ] || fail "the letter A is not highlighted"
for cell in "2 0" "6 3" "0 2"; do
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

# The keyboard, as a person types: the base box has the first focus, Tab moves to the letter
# grid, an arrow and Enter list the letter B's artists.
grep -q '^focus ComboBox ' "$report" || fail "the base box does not have the first focus: $(grep '^focus' "$report")"
window=$(xdotool search --name "^$caption\$" | head -n 1)
inspect_focus() {
  wine "$inspector" "$caption" --desktop QuillonSmoke 2>/dev/null </dev/null | tr -d '\r' | grep '^focus' || true
}
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers Tab
sleep 0.5
focus=$(inspect_focus)
case "$focus" in "focus QuillonWindow $gx,$gy,119,68") ;; *) fail "Tab did not reach the letter grid: $focus" ;; esac
xdotool key --clearmodifiers Right Return
sleep 0.5

# The skin of "skin.dat" in the program folder: the caption is drawn from the skin's caption image;
# the window normal, with a menu open (by a real mouse click on the menu bar), maximized and rolled
# up, and the About box (opened through the skinned Help menu), each cropped out of a screenshot
# and compared with its reference picture in app/tests/reference (QUILLON_UPDATE_REFERENCES=1
# writes them): at most 2 % of the pixels may differ by more than 10 %, for anti-aliased text.
refs="$root/app/tests/reference"
frame_of() {
  wine "$inspector" "$1" --desktop QuillonSmoke 2>/dev/null </dev/null | tr -d '\r' | awk '/^frame / {print $2}'
}
shoot() {  # shoot <name> <caption>
  local f l t w h diff
  f=$(frame_of "$2")
  [ -n "$f" ] || fail "no window '$2' to photograph"
  IFS=, read -r l t w h <<<"$f"
  import -window root "$work/root.png"
  "$im" "$work/root.png" -crop "${w}x${h}+${l}+${t}" +repage "$build/app/tests/skin-$1.png"
  if [ -n "${QUILLON_UPDATE_REFERENCES:-}" ]; then cp "$build/app/tests/skin-$1.png" "$refs/skin-$1.png"; fi
  [ -f "$refs/skin-$1.png" ] || fail "no reference picture skin-$1.png"
  diff=$(compare -metric AE -fuzz 10% "$refs/skin-$1.png" "$build/app/tests/skin-$1.png" null: 2>&1 || true)
  case "$diff" in '' | *[!0-9]*) fail "screenshot $1 cannot be compared with its reference: $diff" ;; esac
  [ "$diff" -le $((w * h / 50)) ] || fail "screenshot $1 differs from its reference in $diff pixels"
}
frame=$(frame_of "$caption")
IFS=, read -r wl wt ww wh <<<"$frame"
[ "$ww" = 798 ] && [ "$wh" = 570 ] || fail "main window size $frame"
caption_colour=$("$im" "$root/data/skin/caption.bmp" -format '%[hex:p{0,7}]' info:)
[ "$(pixel $((wl + 300)) $((wt + 10)))" = "$caption_colour" ] || fail "the caption is not drawn from the skin"
shoot main "$caption"
# The menu bar's first item ("System") opens its popup below it; Esc closes it.
xdotool mousemove $((wl + 14)) $((wt + 3 + 28 + 11)) click 1
sleep 1
shoot menu "$caption"
xdotool key --clearmodifiers Escape
sleep 0.5
# The maximize button (second from the right), then the restore button in its place.
xdotool mousemove $((wl + ww - 4 - 34 - 17)) $((wt + 3 + 14)) click 1
sleep 1.5
IFS=, read -r ml mt mw mh <<<"$(frame_of "$caption")"
[ "$mw" = 1024 ] || fail "maximize: frame $ml,$mt,$mw,$mh"
shoot maximized "$caption"
xdotool mousemove $((ml + mw - 4 - 34 - 17)) $((mt + 3 + 14)) click 1
sleep 1.5
[ "$(frame_of "$caption")" = "$frame" ] || fail "restore: frame $(frame_of "$caption")"
# Rolled up to the caption and edges, and down again (the roll-up message of the skin's actions).
wine "$inspector" "$caption" --desktop QuillonSmoke --post 1129 >/dev/null 2>&1 </dev/null
sleep 1
IFS=, read -r rl rt rw rh <<<"$(frame_of "$caption")"
[ "$rh" = 35 ] && [ "$rw" = 798 ] || fail "roll-up: frame $rl,$rt,$rw,$rh"
shoot rolledup "$caption"
wine "$inspector" "$caption" --desktop QuillonSmoke --post 1129 >/dev/null 2>&1 </dev/null
sleep 1
[ "$(frame_of "$caption")" = "$frame" ] || fail "roll-down: frame $(frame_of "$caption")"
# Help (the second menu-bar item), then its fifth row, "About", below the separator.
xdotool mousemove $((wl + 64)) $((wt + 3 + 28 + 11)) click 1
sleep 1
xdotool mousemove $((wl + 84)) $((wt + 3 + 28 + 22 + 3 + 4 * 22 + 11)) click 1
sleep 1.5
shoot about About
wine "$inspector" About --desktop QuillonSmoke --close >/dev/null 2>&1 </dev/null
sleep 1
wine "$inspector" About --desktop QuillonSmoke 2>/dev/null </dev/null | grep -q '^frame .* visible=1' &&
  fail "the About box did not close"

# Alt+X closes the window, which writes the remembered state.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+x
for _ in $(seq 1 50); do
  grep -q '^lastpageindex=' "$program/lyrics.ini" 2>/dev/null && break
  sleep 0.2
done
tr -d '\r' <"$program/lyrics.ini" | grep -qx 'lastchar=B' || fail "lyrics.ini not written at Alt+X with the letter chosen by keys"

# Started again on the album page: the remembered artist's albums, the remembered album's songs
# sorted, and a click on a song shows its lyrics from the shared lyric table.
for _ in $(seq 1 50); do
  xdotool search --name "^$caption\$" >/dev/null 2>&1 || break
  sleep 0.2
done
printf '[set]\r\nbase=default\r\nlastpageindex=1\r\nlastartist=Celtic Morning\r\nLastAlbum=Highland\r\n' \
  >"$program/lyrics.ini"
(cd "$program" && exec wine explorer /desktop=QuillonSmoke,1024x768 Quillon.exe >/dev/null 2>&1 </dev/null) &
for _ in $(seq 1 150); do
  xdotool search --name "^$caption\$" >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
wine "$inspector" "$caption" --desktop QuillonSmoke 2>/dev/null </dev/null | tr -d '\r' >"$work/page1.txt" ||
  fail "inspector on the album page"
songs=$(awk '/^child ListBox .* visible=1/ {on=1; next} /^child/ {on=0} on && /^  item / {sub(/^  item /, ""); print}' \
  "$work/page1.txt")
[ "$songs" = "$(printf 'Auld Lang Syne\nLoch Lomond\nSkye Boat Song')" ] || fail "song list of Highland: $songs"
list=$(grep -m1 '^child ListBox .* visible=1' "$work/page1.txt" | awk '{print $3}')
lx=${list%%,*}
rest=${list#*,}
ly=${rest%%,*}
window=$(xdotool search --name "^$caption\$" | head -n 1)
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool mousemove $((lx + 20)) $((ly + 8)) click 1
sleep 1
songs_shot="$build/app/tests/smoke-songs.png"
import -window root "$songs_shot"
wine "$inspector" "$caption" --desktop QuillonSmoke 2>/dev/null </dev/null | tr -d '\r' >"$work/lyric.txt" || true
grep -q "Sin' auld lang syne" "$work/lyric.txt" || fail "no lyrics shown for Auld Lang Syne (see $songs_shot)"

# "Skye Boat Song" has no stored text: its page comes from the demo base's lyrics site
# (scripts/lyrics-site.py on the port of the base's "Url"), and the text cut out of it is shown and
# stored in the shared lyric table.
site_port=$(tr -d '\r' <"$program/default/default.ini" | sed -n 's#^Url=http://127.0.0.1:\([0-9]*\)/.*#\1#p')
[ -n "$site_port" ] || fail "the demo base's Url is not on the local lyrics site"
python3 "$root/scripts/lyrics-site.py" serve --port "$site_port" >"$work/site.log" 2>&1 &
site_server=$!
sleep 1
xdotool mousemove $((lx + 20)) $((ly + 2 * 16 + 8)) click 1
for _ in $(seq 1 60); do
  wine "$inspector" "$caption" --desktop QuillonSmoke 2>/dev/null </dev/null | tr -d '\r' >"$work/fetched.txt" || true
  grep -q "Over the sea to Skye" "$work/fetched.txt" && break
  sleep 0.5
done
kill "$site_server" 2>/dev/null || true
import -window root "$build/app/tests/smoke-fetched.png"
grep -q "Over the sea to Skye" "$work/fetched.txt" ||
  fail "no lyrics fetched for Skye Boat Song (see $build/app/tests/smoke-fetched.png; site: $(cat "$work/site.log"))"
stored=$(wine "$build/tools/quarry/quarry.exe" "$(winepath -w "$program")" -c ".dump lyrics.dat" 2>&1 </dev/null | tr -d '\r')
echo "$stored" | grep -q "Skye Boat Song" || fail "the fetched lyrics of Skye Boat Song were not stored in lyrics.dat"
echo "$stored" | grep -q "Over the sea to Skye" || fail "lyrics.dat holds no text for Skye Boat Song"
echo "smoke test passed: $shot $songs_shot $build/app/tests/smoke-fetched.png"
