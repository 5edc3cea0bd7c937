#!/usr/bin/env bash
# Makes sure this machine can start the 32-bit Wine loader, which the Windows program's tests
# need. A kernel without 32-bit user mode (IA-32 emulation off) cannot run it itself; there the
# 32-bit x86 programs are handed to qemu's user-mode emulation through binfmt_misc. Does
# nothing when 32-bit programs already start; safe to run again. Registering needs root.
# Exit status 0 when the 32-bit loader runs afterwards, 1 when it does not.
set -uo pipefail

loader=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386-static
misc=/proc/sys/fs/binfmt_misc

runs() { "$loader" --version >/dev/null 2>&1; }

runs && exit 0
if [ ! -x "$loader" ]; then
  echo "binfmt-i386: $loader is missing (Debian package wine32:i386)" >&2
  exit 1
fi
if [ ! -x "$qemu" ]; then
  echo "binfmt-i386: $qemu is missing (Debian package qemu-user-static)" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "binfmt-i386: 32-bit programs do not start here, and registering qemu for them needs root" >&2
  exit 1
fi
if [ ! -e "$misc/register" ]; then
  mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null
fi
if [ -e "$misc/qemu-i386" ]; then
  # Registered already (by binfmt-support, or an earlier run), perhaps switched off.
  grep -qx enabled "$misc/qemu-i386" || echo 1 >"$misc/qemu-i386"
elif [ -e "$misc/register" ]; then
  # i386 ELF executables (type 2 or 3 at offset 16, machine 3 at 18), run by the static qemu
  # with F: the interpreter is opened now, so it also works inside other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$misc/register" 2>/dev/null
fi
if runs; then
  echo "binfmt-i386: 32-bit programs now run through $qemu"
  exit 0
fi
echo "binfmt-i386: 32-bit programs still do not start (binfmt_misc unavailable?)" >&2
exit 1
