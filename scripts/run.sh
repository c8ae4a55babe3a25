#!/usr/bin/env bash
# Builds Quillon for Windows if needed, lays out the program folder with the demo data and starts
# Quillon.exe under Wine. With a display the program runs until it is closed; without one it runs
# on a virtual display, and a screenshot of its window is saved as quillon.png in the current folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shot_dir=$(pwd)

"$root/scripts/setup.sh"
. "$root/scripts/wine-env.sh"
# The 32-bit program, or its 64-bit build on a machine that runs no 32-bit code.
kind=$(quillon_windows_kind)
build="${QUILLON_BUILD_ROOT:-$root/build}/$kind"
"$root/scripts/build.sh" "$kind" --target Quillon quarry basegen
program="$build/program"

headless=0
[ -n "${DISPLAY:-}" ] || headless=1
trap quillon_wine_down EXIT
quillon_wine_up "$build"
"$root/scripts/program-folder.sh" "$build" "$program"
cd "$program"
if [ $headless = 0 ]; then
  wine Quillon.exe
  exit 0
fi

wine explorer /desktop=Quillon,1024x768 Quillon.exe >/dev/null 2>&1 </dev/null &
for _ in $(seq 1 100); do
  if xdotool search --name 'Pelmora Lyrics Base - Quillon' >/dev/null 2>&1; then break; fi
  sleep 0.2
done
sleep 2  # let the window paint
import -window root "$shot_dir/quillon.png"
echo "screenshot: $shot_dir/quillon.png"
wineserver -k >/dev/null 2>&1 || true
