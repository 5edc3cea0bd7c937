#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: once in the regular build (build/) and
# once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
jobs=${TARNU_JOBS:-$(nproc)}

echo "== regular build"
scripts/build.sh default
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${TARNU_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== build with AddressSanitizer and UndefinedBehaviorSanitizer"
  scripts/build.sh asan
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
echo "== all tests passed"
