#!/usr/bin/env bash
# Turns a fresh Debian 12 machine into one that builds and tests Quillon.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format
  googletest libgtest-dev libbenchmark-dev
  sqlite3 libsqlite3-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 fonts-wine ccache
  xvfb xdotool imagemagick
  python3 file
  dpkg-dev nasm libedit-dev
  nsis zip unzip
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The JPEG library for the Windows build comes from Debian's source package.
src_list=/etc/apt/sources.list.d/debian-src.sources
if [ ! -f "$src_list" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    "${sudo_cmd[@]}" tee "$src_list" >/dev/null
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  "${sudo_cmd[@]}" apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Quillon ships as a 32-bit program. A machine that runs 64-bit code only (the 32-bit loader fails
# with "Exec format error") runs the 32-bit Wine and the win32 build's programs through qemu-user
# (scripts/run32.sh); Debian 12's own qemu-user is far too slow for Wine, the backports suite's is
# not. QUILLON_EMULATE_32BIT=1 takes the emulated path on any machine, to test it.
if [ "${QUILLON_EMULATE_32BIT:-0}" = 1 ] || ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  . /etc/os-release
  backports="${VERSION_CODENAME}-backports"
  if ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -Eq '^1:([89]|[1-9][0-9])\.'; then
    bp_list=/etc/apt/sources.list.d/quillon-backports.sources
    if [ ! -f "$bp_list" ]; then
      # The backports suite from the mirror this machine already uses, for one package only.
      mirror=""
      if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        mirror=$(awk -v suite="$VERSION_CODENAME" '
          /^[[:space:]]*$/ { if (ok && deb && uri != "") { print uri; exit } ok = 0; uri = ""; deb = 0; next }
          /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
          /^URIs:/ { uri = $2 }
          /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) ok = 1 }
          END { if (ok && deb && uri != "") print uri }' /etc/apt/sources.list.d/debian.sources |
          head -n 1)
      fi
      if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
        mirror=$(awk -v suite="$VERSION_CODENAME" '$1 == "deb" && $3 == suite { print $2; exit }' \
          /etc/apt/sources.list)
      fi
      if [ -z "$mirror" ]; then
        echo "setup: no Debian source for $VERSION_CODENAME found to derive $backports from" >&2
        exit 1
      fi
      printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
        "$mirror" "$backports" /usr/share/keyrings/debian-archive-keyring.gpg |
        "${sudo_cmd[@]}" tee "$bp_list" >/dev/null
    fi
    "${sudo_cmd[@]}" apt-get update -q
    echo "setup: installing qemu-user from $backports (this machine runs no 32-bit code)"
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
      -t "$backports" qemu-user
  fi
fi
echo "setup: system packages ready"
