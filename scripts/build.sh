#!/usr/bin/env bash
# Configures and builds one preset: default (build/), program (build/ without the tests),
# asan (build-asan/) or fuzz (build-fuzz/). Further arguments go to the build, such as
# --target NAME.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
jobs=${TARNU_JOBS:-$(nproc)}
cmake --preset "$preset" >/dev/null
dir=build
case "$preset" in
  asan) dir=build-asan ;;
  fuzz) dir=build-fuzz ;;
esac
cmake --build "$dir" -j "$jobs" "$@"
