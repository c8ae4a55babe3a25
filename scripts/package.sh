#!/usr/bin/env bash
# scripts/package.sh : builds what a Windows user downloads, into dist/:
#   Quillon-<version>-win32.zip    the portable program folder (unzip, run Quillon.exe)
#   Quillon-<version>-setup.exe    the installer (installer/quillon.nsi, built with makensis)
# The program and the base author's tools come from the win32-release build (only those targets,
# so no test code), stripped; the demo data is laid out for an installed copy (demo-folder.sh
# --installed). The version is the one of the file VERSION.
# QUILLON_DIST moves the output folder (default: dist/ in the checkout).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(tr -d '\r\n' <"$root/VERSION")
dist=${QUILLON_DIST:-$root/dist}
build_root=${QUILLON_BUILD_ROOT:-$root/build}
build="$build_root/win32-release"
strip=i686-w64-mingw32-strip

command -v makensis >/dev/null || { echo "package: makensis is missing (scripts/setup.sh installs nsis)" >&2; exit 1; }
# The demo data is made by the 32-bit tools under Wine: through scripts/run32.sh, which runs the
# rest of this script as it is where this machine runs 32-bit code.
if [ -z "${QUILLON_PACKAGE_INSIDE:-}" ]; then
  "$root/scripts/build.sh" win32-release --target Quillon quarry pagetext skinpack basegen
  QUILLON_PACKAGE_INSIDE=1 exec "$root/scripts/run32.sh" bash "$root/scripts/package.sh" "$@"
fi

work="$build/package"
stage="$work/Quillon"
rm -rf "$work"
mkdir -p "$stage/tools" "$dist"

. "$root/scripts/wine-env.sh"
quillon_wine_up "$build"
trap 'quillon_wine_down' EXIT

"$root/scripts/demo-folder.sh" --installed "$stage" "wine $build/tools/quarry/quarry.exe" \
  "wine $build/tools/basegen/basegen.exe" "wine $build/tools/skinpack/skinpack.exe"
$strip -o "$stage/Quillon.exe" "$build/app/Quillon.exe"
for tool in quarry pagetext skinpack; do
  $strip -o "$stage/tools/$tool.exe" "$build/tools/$tool/$tool.exe"
done

# What the user owns once installed: the own lyrics base, the shared lyric table with the lyrics
# stored, and the settings (written by the program, not shipped). The installer puts the first two
# only where they are missing and the uninstaller removes them only when asked.
user_file() {
  case "$1" in
    MyLyrics/* | lyrics.[dD][aA][tT] | lyrics.[iI][dD][xX] | lyrics.[bB][lL][bB]) return 0 ;;
    *) return 1 ;;
  esac
}
nsis_path() { echo "$1" | tr / '\\'; }
: >"$work/program-files.nsh"
: >"$work/user-files.nsh"
: >"$work/remove-program-files.nsh"
: >"$work/remove-user-files.nsh"
: >"$work/remove-folders.nsh"
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while read -r f; do
  dir=$(dirname "$f")
  out='$INSTDIR'
  [ "$dir" = . ] || out="\$INSTDIR\\$(nsis_path "$dir")"
  if user_file "$f"; then list=user-files remove=remove-user-files; else list=program-files remove=remove-program-files; fi
  printf 'SetOutPath "%s"\nFile "%s"\n' "$out" "$stage/$f" >>"$work/$list.nsh"
  printf 'Delete "$INSTDIR\\%s"\n' "$(nsis_path "$f")" >>"$work/$remove.nsh"
done
(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort -r) | while read -r d; do
  printf 'RMDir "$INSTDIR\\%s"\n' "$(nsis_path "$d")" >>"$work/remove-folders.nsh"
done

setup="$dist/Quillon-$version-setup.exe"
zip="$dist/Quillon-$version-win32.zip"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DICON="$root/data/images/quillon.ico" \
  -DPROGRAM_FILES="$work/program-files.nsh" -DUSER_FILES="$work/user-files.nsh" \
  -DREMOVE_PROGRAM_FILES="$work/remove-program-files.nsh" -DREMOVE_USER_FILES="$work/remove-user-files.nsh" \
  -DREMOVE_FOLDERS="$work/remove-folders.nsh" -DOUTFILE="$setup" "$root/installer/quillon.nsi"
rm -f "$zip"
(cd "$work" && zip -q -r -X "$zip" Quillon)
echo "package: $setup"
echo "package: $zip"
