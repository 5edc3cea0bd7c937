#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the regular Linux build (build/) with its
# Debian package, the 32-bit Windows build under Wine (build-win32/) with its zip, and the Linux
# build under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh tests

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
jobs=${TARNU_JOBS:-$(nproc)}

stage() { echo "== $1 ($(date +%T))"; stage_start=$SECONDS; }
stage_end() { echo "== $1 took $((SECONDS - stage_start)) s"; }

stage "regular build"
scripts/build.sh default
ctest --test-dir build --output-on-failure -j "$jobs"
stage_end "regular build and tests"

if [ "${TARNU_SKIP_WINDOWS:-0}" != 1 ]; then
  # The Windows program users get: 32-bit, built with its tests.
  stage "Windows build (32-bit)"
  cmake --preset win32 >/dev/null
  cmake --build build-win32 -j "$jobs"
  stage_end "Windows build (32-bit)"
  # Its tests run under Wine, in a 64-bit prefix as on 64-bit Windows. A kernel without 32-bit
  # user mode hands the 32-bit Wine loader to qemu (binfmt-i386.sh registers it). Where even
  # that fails, only the same sources built as 64-bit programs can be tested.
  if scripts/binfmt-i386.sh; then
    windows=build-win32
  else
    windows=build-win64
    cat >&2 <<'WARN'
==========================================================================================
== WARNING: this machine cannot start 32-bit programs, not even through qemu.
== The Windows tests run as 64-bit programs instead: the 32-bit program users get is NOT
== tested here. Install qemu-user-static and make binfmt_misc available (see README).
==========================================================================================
WARN
    stage "Windows tests built as 64-bit programs"
    cmake --preset win64 >/dev/null
    cmake --build build-win64 -j "$jobs"
    stage_end "Windows build (64-bit)"
    # The check of what the 32-bit programs import needs no Wine.
    ctest --test-dir build-win32 --output-on-failure -R '^win32_programs_check$'
  fi
  stage "Windows tests under Wine ($windows)"
  ctest --test-dir "$windows" --output-on-failure -j "$jobs"
  stage_end "Windows tests under Wine"

  # What users get is the 32-bit build, whichever build the tests ran.
  stage "Windows zip"
  (cd build-win32 && cpack >/dev/null)
  zip=$(ls build-win32/tarnu-system-tool-*-win32.zip)
  listing=$(unzip -l "$zip")
  for file in tarnu-system-tool.exe tarnu-system-tool-cli.exe LIESMICH.txt; do
    if ! grep -q "/$file\$" <<<"$listing"; then
      echo "$zip lacks $file:" >&2
      echo "$listing" >&2
      exit 1
    fi
  done
  echo "$zip holds both executables and the read-me"
  stage_end "Windows zip"
fi

if [ "${TARNU_SKIP_SANITIZERS:-0}" != 1 ]; then
  stage "build with AddressSanitizer and UndefinedBehaviorSanitizer"
  scripts/build.sh asan
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
  stage_end "sanitizer build and tests"
fi
echo "== all tests passed"
