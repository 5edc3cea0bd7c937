#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs one for a given number of seconds:
#   fuzz/run.sh TARGET SECONDS      e.g. fuzz/run.sh statement_fuzz 600
#   fuzz/run.sh all SECONDS         every target, one after the other
# Each target keeps its corpus in fuzz/corpus-TARGET/ and its crash files in fuzz/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?target name or all}
seconds=${2:-60}
scripts/setup.sh
scripts/build.sh fuzz >/dev/null

run_one() {
  local name=$1
  local corpus=fuzz/corpus-$name
  mkdir -p "$corpus" fuzz/out
  if [ -d "fuzz/seeds/$name" ]; then
    cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
  fi
  echo "== $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/bin/$name" -max_total_time="$seconds" -artifact_prefix=fuzz/out/"$name"- \
    -print_final_stats=1 "$corpus"
}

if [ "$target" = all ]; then
  for bin in build-fuzz/bin/*_fuzz; do
    run_one "$(basename "$bin")"
  done
else
  run_one "$target"
fi
