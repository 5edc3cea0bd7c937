#!/usr/bin/env bash
# Compaction benchmark: builds a database of at least 200 MB with a third of its rows deleted,
# then times `tarnu-db compact` against SQLite's own `VACUUM INTO` on the same file in the same
# run (alternating, after one unmeasured round of each), and prints the ratio of the medians and
# the engine's peak memory. Targets: ratio <= 1.05, peak memory < 64 MB.
#
#   bench/engine_compact.sh            (RUNS=9 SIZE_MB=210 by default; needs build/bin/tarnu-db)
#
# Everything it writes lives in one temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${TARNU_DB:-$PWD/build/bin/tarnu-db}
runs=${RUNS:-9}
size_mb=${SIZE_MB:-210}
for program in "$tool" sqlite3 /usr/bin/time; do
  if ! command -v "$program" >/dev/null; then
    echo "engine_compact: $program fehlt (tarnu-db bauen; apt-get install sqlite3 time)" >&2
    exit 2
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnu-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
db=$work/gross.mdb

# Rows of about 340 bytes of incompressible text; the file keeps its size after the delete,
# the space of the deleted third lies scattered in free pages.
rows=$((size_mb * 1024 * 1024 / 340))
"$tool" create "$db"
"$tool" exec "$db" "CREATE TABLE Daten (ID LONG PRIMARY KEY, Kunde LONG, Inhalt MEMO, Wert DOUBLE)"
sqlite3 "$db" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
               INSERT INTO Daten SELECT i, i % 997, hex(randomblob(150)), i * 0.25 FROM n;
               DELETE FROM Daten WHERE ID % 3 = 0;"
bytes=$(stat -c %s "$db")
if [ "$bytes" -lt $((200 * 1024 * 1024)) ]; then
  echo "engine_compact: Datenbank nur $bytes Bytes groß" >&2
  exit 2
fi

# One measured run: prints "seconds peak_kb".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null
  cat "$work/time.txt"
}
# Each run starts with no dirty pages of the one before, whose write-back would otherwise land
# in the next measurement and make the comparison depend on the order.
engine_run() { sync; measure "$tool" compact "$db" "$work/kopie.mdb"; rm -f "$work/kopie.mdb"; }
sqlite_run() { sync; measure sqlite3 "$db" "VACUUM INTO '$work/kopie.mdb'"; rm -f "$work/kopie.mdb"; }

engine_run >/dev/null
sqlite_run >/dev/null
engine_times=()
sqlite_times=()
peak_kb=0
for ((i = 0; i < runs; i++)); do
  read -r seconds kb < <(engine_run)
  engine_times+=("$seconds")
  if [ "$kb" -gt "$peak_kb" ]; then peak_kb=$kb; fi
  read -r seconds _ < <(sqlite_run)
  sqlite_times+=("$seconds")
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
engine_median=$(median "${engine_times[@]}")
sqlite_median=$(median "${sqlite_times[@]}")
ratio=$(awk -v a="$engine_median" -v b="$sqlite_median" 'BEGIN {printf "%.3f", a / b}')
peak_mb=$(awk -v k="$peak_kb" 'BEGIN {printf "%.1f", k / 1024}')

echo "Datenbank:             $((bytes / 1024 / 1024)) MB, $rows Zeilen, ein Drittel gelöscht"
echo "tarnu-db compact:      ${engine_median} s (Median aus $runs: ${engine_times[*]})"
echo "sqlite3 VACUUM INTO:   ${sqlite_median} s (Median aus $runs: ${sqlite_times[*]})"
echo "Verhältnis:            $ratio (Ziel <= 1.05)"
echo "Spitzenspeicher:       $peak_mb MB (Ziel < 64 MB)"
if awk -v r="$ratio" -v m="$peak_kb" 'BEGIN {exit !(r <= 1.05 && m < 64 * 1024)}'; then
  echo "Ziele erreicht."
else
  echo "Ziele verfehlt."
  exit 1
fi
