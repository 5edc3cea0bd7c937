#!/usr/bin/env bash
# Benchmark of the whole compaction run (clean-up passes, four compactions, durable replace)
# against SQLite's own VACUUM INTO of the same four files, measured in the same run. Prints the
# ratio of the medians. Target: at most 1.10.
#
#   bench/compaction_run.sh       (RUNS=3 TOTAL_MB=420 by default; needs a build in build/)
#
# Everything it writes lives in one temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${TARNU_BIN:-$PWD/build/bin}
runs=${RUNS:-3}
total_mb=${TOTAL_MB:-420}
for program in "$bin/tarnu-db" "$bin/tarnu-compact-folder" sqlite3; do
  if ! command -v "$program" >/dev/null; then
    echo "compaction_run: $program fehlt (scripts/build.sh; apt-get install sqlite3)" >&2
    exit 2
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnu-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
orig=$work/original
mkdir -p "$orig"
"$bin/tarnu-db" demo "$orig" >/dev/null

# Each of the four databases gets a large table of incompressible rows, a third of them
# deleted, so that the space to reclaim lies scattered in free pages.
rows=$((total_mb * 1024 * 1024 / 4 / 340))
for f in system.srv KDL.mdb kdlcode.mde Tarnu-Admin.mde; do
  pw=()
  [ "$f" = system.srv ] && pw=(--password brisk)
  "$bin/tarnu-db" exec "$orig/$f" "${pw[@]}" \
    "CREATE TABLE Bench (ID LONG PRIMARY KEY, Kunde LONG, Inhalt MEMO, Wert DOUBLE)"
  sqlite3 "$orig/$f" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
                      INSERT INTO Bench SELECT i, i % 997, hex(randomblob(150)), i * 0.25 FROM n;
                      DELETE FROM Bench WHERE ID % 3 = 0;"
done
bytes=$(du -cb "$orig"/* | tail -1 | cut -f1)
echo "program folder: $((bytes / 1024 / 1024)) MB in four databases"
if [ "$bytes" -lt $((400 * 1024 * 1024)) ]; then
  echo "compaction_run: only $bytes bytes" >&2
  exit 2
fi

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ours() {
  rm -rf "$work/run" && cp -a "$orig" "$work/run" && sync
  local t0; t0=$(now)
  "$bin/tarnu-compact-folder" "$work/run" >/dev/null
  seconds $(($(now) - t0))
}
theirs() {
  rm -rf "$work/copies" && mkdir "$work/copies" && sync
  local t0; t0=$(now)
  for f in system.srv KDL.mdb kdlcode.mde Tarnu-Admin.mde; do
    sqlite3 "$orig/$f" "VACUUM INTO '$work/copies/$f'"
  done
  seconds $(($(now) - t0))
}

ours >/dev/null
theirs >/dev/null
our_times=()
their_times=()
for ((i = 0; i < runs; i++)); do
  our_times+=("$(ours)")
  their_times+=("$(theirs)")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
m_ours=$(median "${our_times[@]}")
m_theirs=$(median "${their_times[@]}")
echo "compaction run:        ${our_times[*]} s (median $m_ours s)"
echo "sqlite3 VACUUM INTO:   ${their_times[*]} s (median $m_theirs s)"
echo "ratio: $(awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN { printf "%.3f", a / b }') (target <= 1.10)"
