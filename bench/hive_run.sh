#!/usr/bin/env bash
# Benchmark of the registry with a hive at its size limit (64 MiB), in three shapes: one value
# that fills it, millions of small values in one key, millions of empty subkeys of one key. For
# each it prints the time and the peak resident memory of reading the hive (opening a key) and
# of writing it (storing one more value, which reads the hive and replaces it on disk), beside
# `cp` of the same file with `sync` as the baseline. Target: peak memory at most four times the
# hive's size.
#
#   bench/hive_run.sh        (needs build/bin/tarnu-hive-size and /usr/bin/time)
#
# Everything it writes lives in one temporary folder (under BENCH_DIR, default TMPDIR or /tmp)
# that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
driver=${TARNU_HIVE:-$PWD/build/bin/tarnu-hive-size}
if [ ! -x "$driver" ] || [ ! -x /usr/bin/time ]; then
  echo "hive_run: $driver or /usr/bin/time fehlt (scripts/build.sh, apt-get install time)" >&2
  exit 2
fi

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/tarnu-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

measure() {  # LABEL COMMAND...: prints "LABEL  SECONDS s  PEAK MB"
  local label=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" "$@"
  read -r seconds kb <"$work/time"
  printf '  %-26s %7.2f s %8.1f MB\n' "$label" "$seconds" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')"
  echo "$kb" >"$work/kb"
}

for shape in value values keys; do
  rm -rf "$work/hive" "$work/copy"
  mkdir -p "$work/hive"
  "$driver" make "$shape" "$work/hive"
  hive=$work/hive/HKEY_CURRENT_USER.hive
  size_kb=$(($(stat -c %s "$hive") / 1024))
  echo "$shape: $(stat -c %s "$hive") bytes"
  measure "cp + sync (baseline)" sh -c 'cp "$1" "$2" && sync -f "$2"' sh "$hive" "$work/copy"
  measure "read (open a key)" "$driver" read "$work/hive"
  read_kb=$(cat "$work/kb")
  measure "write (store a value)" "$driver" write "$work/hive"
  write_kb=$(cat "$work/kb")
  peak=$((read_kb > write_kb ? read_kb : write_kb))
  echo "  peak memory / hive size: $(awk -v p="$peak" -v s="$size_kb" 'BEGIN { printf "%.2f", p / s }') (target <= 4)"
done
