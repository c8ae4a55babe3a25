#!/usr/bin/env bash
# scripts/run32.sh CMD [ARGS...]
# Runs a command that starts 32-bit x86 programs (32-bit Wine, the win32 build's executables).
# Where this machine runs 32-bit code, CMD runs as it is. Where it runs 64-bit code only, CMD runs in
# a private user namespace whose own binfmt_misc hands every i386 ELF program to qemu-i386:
# qemu-user does not follow execve by itself, and Wine starts many processes (its services, the
# desktop, test peers). The registration and the mounts exist only inside that namespace and end
# with it, together with every process started there; nothing machine-wide is touched.
#   scripts/run32.sh --mode   prints "native" or "emulated" (or fails when neither can work)
# QUILLON_EMULATE_32BIT=1 takes the emulated path even where 32-bit code runs natively.
set -euo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
qemu=/usr/bin/qemu-i386

runs_natively() {
  [ "${QUILLON_EMULATE_32BIT:-0}" != 1 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Per-namespace binfmt_misc came with Linux 6.7; on an older kernel mounting it inside a user
# namespace fails, and the only other way, the machine-wide table, is not ours to change.
kernel_has_private_binfmt() {
  local major minor
  IFS=. read -r major minor _ <<<"$(uname -r)"
  minor=${minor%%[!0-9]*}
  [ "$major" -gt 6 ] || { [ "$major" -eq 6 ] && [ "${minor:-0}" -ge 7 ]; }
}

refuse() {
  echo "run32: $*" >&2
  exit 1
}

check_emulation() {
  kernel_has_private_binfmt ||
    refuse "this machine runs no 32-bit code, and its kernel ($(uname -r)) is older than 6.7, which" \
      "is needed to hand 32-bit programs to qemu-i386 in a private namespace; the machine-wide" \
      "binfmt_misc is left alone. Use a machine that runs 32-bit code or a newer kernel."
  [ -x "$qemu" ] || refuse "$qemu is missing: run scripts/setup.sh (it installs qemu-user)"
}

if [ "${1:-}" = --mode ]; then
  if runs_natively; then
    echo native
  else
    check_emulation
    echo emulated
  fi
  exit 0
fi

if [ "${1:-}" = --inside ]; then
  shift
  # PID 1 of the new namespace: register the rule, then run the command as a child so that this
  # shell reaps whatever Wine leaves orphaned.
  dir=/proc/sys/fs/binfmt_misc
  mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null ||
    refuse "binfmt_misc cannot be mounted in a user namespace here"
  # i386 ELF executables (class 32-bit, little-endian, type EXEC or DYN, machine 3). Flag F opens
  # the interpreter now, so that it is found whatever the program's own mount view.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >"$dir/register"
  rc=0
  "$@" || rc=$?
  exit $rc
fi

[ $# -gt 0 ] || refuse "usage: scripts/run32.sh CMD [ARGS...] | --mode"
if runs_natively; then
  exec "$@"
fi
check_emulation
# --mount-proc: Wine finds its libraries through /proc/self/exe, which must name the program
# rather than qemu in the namespace's own /proc. --kill-child ends everything started inside
# when the command ends.
exec unshare --user --map-root-user --mount --pid --fork --kill-child --mount-proc \
  bash "$self" --inside "$@"
