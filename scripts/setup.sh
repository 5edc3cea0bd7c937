#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the fuzzers need, if missing.
# Runs as root on a fresh Debian machine; does nothing when everything is there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  libsqlite3-dev sqlite3 time
  libgtest-dev libgmock-dev
  clang libclang-rt-dev
  xvfb xauth
  desktop-file-utils systemd
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
  wine wine64 wine32:i386 fonts-wine
  qemu-user-static binfmt-support
  zip unzip
)

# The 32-bit Wine needs the i386 architecture, which a fresh machine does not have yet.
if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
