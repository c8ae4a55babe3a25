# Sourced by the scripts that run Windows executables: a Wine prefix inside the build folder (32-bit
# for the win32 build, 64-bit for the win64 one) and an X display. quillon_wine_up <build dir>
# prepares both; quillon_wine_down undoes what quillon_wine_up started, and nothing else.

# The Windows build whose programs this machine can run: win32 (the program that ships), natively or
# through scripts/run32.sh; win64 only where neither works (no 32-bit code and a kernel too old for
# the emulation).
quillon_windows_kind() {
  if "$(dirname "${BASH_SOURCE[0]}")/run32.sh" --mode >/dev/null 2>&1; then echo win32; else echo win64; fi
}

quillon_wine_up() {
  local build_dir
  build_dir=$(cd "$1" && pwd)
  if grep -q 'x86_64-w64-mingw32' "$build_dir/CMakeCache.txt" 2>/dev/null; then
    export WINEARCH=win64
    # Debian's "wine" script prefers the 32-bit loader whenever it is installed; the 64-bit
    # build must go to the 64-bit one, also from Wine's own scripts (wineboot, winepath).
    mkdir -p "$build_dir/wine-bin"
    local tool
    for tool in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$build_dir/wine-bin/$tool"
      chmod +x "$build_dir/wine-bin/$tool"
    done
    case ":$PATH:" in *":$build_dir/wine-bin:"*) ;; *) export PATH="$build_dir/wine-bin:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32
  fi
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  QUILLON_XVFB_PID=
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      QUILLON_XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      break
    done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # This Wine does not look into its own font folder: without Marlett the caption buttons
    # show letters. Fonts in the prefix's Fonts folder are always loaded.
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
}

# Keeps one wineserver and its services for a whole run, started with no tie to our output.
quillon_wine_persist() {
  wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# Waits for every Wine process of the prefix to end (stops them after a grace period).
quillon_wine_down() {
  if [ -n "${WINEPREFIX:-}" ]; then
    timeout 20 wineserver -w >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "${QUILLON_XVFB_PID:-}" ]; then
    kill "$QUILLON_XVFB_PID" 2>/dev/null || true
    wait "$QUILLON_XVFB_PID" 2>/dev/null || true
    QUILLON_XVFB_PID=
  fi
}
