#!/usr/bin/env bash
# Benchmark of the copy service against `cp -r SRC/. DST && sync -f DST`, both measured in the
# same run on the same data: (a) four files of 250 MB, (b) a tree of 5,000 files of 4 KB in
# nested folders, each into a fresh target, and (c) an update of the same 5,000 files over a
# target that holds older versions of them, as the workstation update mostly runs. The two
# alternate which goes first, and the ratio of the medians is printed with the driver's peak
# resident memory. Targets: all three ratios at most 1.10, peak memory under 64 MB.
#
#   bench/copy_run.sh        (RUNS=9 FILE_MB=250 by default; needs build/bin/tarnu-copy-folder)
#
# Between runs the page cache is dropped where the system allows it (root outside a sandbox);
# elsewhere both copies read from a warm cache alike, and the script says so. Everything it
# writes lives in one temporary folder (under BENCH_DIR, default TMPDIR or /tmp) that is
# removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
driver=${TARNU_COPY:-$PWD/build/bin/tarnu-copy-folder}
runs=${RUNS:-9}
file_mb=${FILE_MB:-250}
if [ ! -x "$driver" ]; then
  echo "copy_run: $driver fehlt (scripts/build.sh)" >&2
  exit 2
fi

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/tarnu-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# (a) four large files of incompressible data.
mkdir -p "$work/large"
for i in 1 2 3 4; do
  head -c "$((file_mb * 1024 * 1024))" /dev/urandom >"$work/large/Programm$i.bin"
done
# (b) 10 folders with 10 subfolders of 50 files each; (c) older versions of the same files.
for tree in tree old; do
  for i in $(seq -w 0 9); do
    for j in $(seq -w 0 9); do
      dir=$work/$tree/Ordner$i/Unter$j
      mkdir -p "$dir"
      head -c $((50 * 4096)) /dev/urandom | split -b 4096 -d -a 2 - "$dir/Datei"
    done
  done
done
echo "data: 4 x $file_mb MB; $(find "$work/tree" -type f | wc -l) files of 4 KB"

drop_caches() {
  sync
  if [ -w /proc/sys/vm/drop_caches ] && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
    return 0
  fi
  return 1
}
if drop_caches; then
  echo "page cache: dropped before every measured copy"
else
  echo "page cache: cannot be dropped here; both copies read from a warm cache alike"
fi

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
# The target before a copy: none, or (with $over set) the older versions in place, on disk.
fresh_target() {
  rm -rf "$1"
  if [ -n "${over:-}" ]; then
    cp -r "$over/." "$1" && sync -f "$1"
  fi
  drop_caches || true
}
ours() {  # SRC DST; the driver's peak memory goes to $work/rss
  fresh_target "$2"
  local t0 out
  t0=$(now)
  out=$("$driver" "$1/" "$2/")
  local t=$(($(now) - t0))
  sed -n 's/.*peak_rss_kb \([0-9]*\).*/\1/p' <<<"$out" >>"$work/rss"
  seconds "$t"
}
theirs() {  # SRC DST
  fresh_target "$2"
  local t0
  t0=$(now)
  cp -r "$1/." "$2" && sync -f "$2"
  seconds $(($(now) - t0))
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

measure() {  # NAME SRC
  local name=$1 src=$2 dst=$work/copy
  local our_times=() their_times=()
  ours "$src" "$dst" >/dev/null  # one unmeasured round of each
  theirs "$src" "$dst" >/dev/null
  if ! diff -r "$src" "$dst" >/dev/null; then
    echo "copy_run: cp made a different copy" >&2
    exit 1
  fi
  for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
      our_times+=("$(ours "$src" "$dst")")
      their_times+=("$(theirs "$src" "$dst")")
    else
      their_times+=("$(theirs "$src" "$dst")")
      our_times+=("$(ours "$src" "$dst")")
    fi
  done
  ours "$src" "$dst" >/dev/null
  if ! diff -r "$src" "$dst" >/dev/null; then
    echo "copy_run: the copy service made a different copy" >&2
    exit 1
  fi
  rm -rf "$dst"
  local m_ours m_theirs
  m_ours=$(median "${our_times[@]}")
  m_theirs=$(median "${their_times[@]}")
  echo "$name copy service:  ${our_times[*]} s (median $m_ours s)"
  echo "$name cp -r + sync:  ${their_times[*]} s (median $m_theirs s)"
  echo "$name ratio: $(awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN { printf "%.3f", a / b }') (target <= 1.10)"
}

measure "(a) 4 x $file_mb MB" "$work/large"
measure "(b) 5,000 x 4 KB" "$work/tree"
over=$work/old measure "(c) update of 5,000 x 4 KB" "$work/tree"
peak_kb=$(sort -n "$work/rss" | tail -1)
echo "peak resident memory of the copy service: $((peak_kb / 1024)) MB ($peak_kb KB; target < 64 MB)"
