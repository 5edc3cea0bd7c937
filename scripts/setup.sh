#!/usr/bin/env bash
# Installs the Debian packages that are missing. Runs as root on a fresh Debian machine; does
# nothing when everything is there.
#   scripts/setup.sh program   what building and running the Linux program needs (run.sh)
#   scripts/setup.sh tests     that, and what the tests need (test.sh; the default)
set -euo pipefail
want=${1:-tests}

# The Linux program and its tools, with the window system's plugins and Qt's German texts.
program_packages=(
  build-essential
  cmake
  pkg-config
  qt6-base-dev
  libgl-dev
  qt6-qpa-plugins
  qt6-translations-l10n
  libsqlite3-dev
)

# The tests: GoogleTest, the sanitizers and fuzzers (clang), a display for the windows, the
# package's checks, the Windows build (MinGW-w64) and its tests under Wine, through qemu where
# the kernel runs no 32-bit programs, and the tools the benchmarks compare with.
test_packages=(
  libgtest-dev
  libgmock-dev
  clang
  libclang-rt-dev
  xvfb
  xauth
  desktop-file-utils
  systemd
  lintian
  help2man
  locales
  g++-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-win32
  wine
  wine64
  wine32:i386
  fonts-wine
  qemu-user-static
  binfmt-support
  zip
  unzip
  sqlite3
  time
)

case "$want" in
  program) packages=("${program_packages[@]}") ;;
  tests) packages=("${program_packages[@]}" "${test_packages[@]}") ;;
  *) echo "setup: usage: scripts/setup.sh [program|tests]" >&2; exit 2 ;;
esac

# The 32-bit Wine needs the i386 architecture, which a fresh machine does not have yet.
if [ "$want" = tests ] && [ "$(id -u)" -eq 0 ] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these Debian packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
