#!/usr/bin/env bash
# Builds Quillon for Windows if needed, lays out the program folder with the demo data and starts
# Quillon.exe under Wine. With a display the program runs until it is closed; without one it runs
# on a virtual display, and a screenshot of its window is saved as quillon.png in the current folder.
# Meanwhile the demo bases' lyrics sites are served on 127.0.0.1:8719 (scripts/lyrics-site.py).
# Arguments go to Quillon.exe (for example /ownlyrics).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shot_dir=$(pwd)

. "$root/scripts/wine-env.sh"
# The 32-bit program (through scripts/run32.sh where this machine runs 64-bit code only), or its
# 64-bit build where even that cannot work.
[ -n "${QUILLON_RUN_INSIDE:-}" ] || "$root/scripts/setup.sh"
kind=$(quillon_windows_kind)
build="${QUILLON_BUILD_ROOT:-$root/build}/$kind"
if [ -z "${QUILLON_RUN_INSIDE:-}" ]; then
  "$root/scripts/build.sh" "$kind" --target Quillon quarry basegen skinpack
  if [ "$kind" = win32 ]; then
    QUILLON_RUN_INSIDE=1 exec "$root/scripts/run32.sh" bash "$root/scripts/run.sh" "$@"
  fi
fi
program="$build/program"

headless=0
[ -n "${DISPLAY:-}" ] || headless=1
# The demo bases' lyrics sites, for the songs whose text is not stored yet (the bases' "Url"
# points at them); a second run finds the port taken by the first one's server and uses it.
python3 "$root/scripts/lyrics-site.py" serve >/dev/null 2>&1 &
site_server=$!
trap 'kill $site_server 2>/dev/null || true; quillon_wine_down' EXIT
quillon_wine_up "$build"
"$root/scripts/program-folder.sh" "$build" "$program"
cd "$program"
if [ $headless = 0 ]; then
  wine Quillon.exe "$@"
  exit 0
fi

wine explorer /desktop=Quillon,1024x768 Quillon.exe "$@" >/dev/null 2>&1 </dev/null &
for _ in $(seq 1 100); do
  if xdotool search --name 'Pelmora Lyrics Base - Quillon' >/dev/null 2>&1; then break; fi
  sleep 0.2
done
sleep 2  # let the window paint
import -window root "$shot_dir/quillon.png"
echo "screenshot: $shot_dir/quillon.png"
wineserver -k >/dev/null 2>&1 || true
