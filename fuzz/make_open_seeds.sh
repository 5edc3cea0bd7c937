#!/usr/bin/env bash
# Rebuilds the seed databases of open_fuzz with build/bin/tarnu-db and sqlite3. Small pages keep
# the seeds small, which keeps the fuzzer's inputs short.
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/seeds/open_fuzz
tool=build/bin/tarnu-db
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

$tool create "$tmp/links.mdb"
$tool exec "$tmp/links.mdb" "CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(20))"
for i in 1 2 3; do
  $tool exec "$tmp/links.mdb" "INSERT INTO T VALUES ($i, 'Zeile $i')"
done
$tool exec "$tmp/links.mdb" "CREATE TABLE [Temp_a]]b] (Nr COUNTER, Notiz MEMO)"
$tool exec "$tmp/links.mdb" "INSERT INTO [Temp_a]]b] (Notiz) VALUES ('x')"
$tool link "$tmp/links.mdb" J --source "$tmp/links.mdb" --table T
$tool link "$tmp/links.mdb" K --source "$tmp/links.mdb" --table T --attributes 0x40020000
$tool link "$tmp/links.mdb" O --odbc "DSN=Lager;"

$tool create "$tmp/protected.mdb" --password brisk
$tool exec "$tmp/protected.mdb" --password brisk "CREATE TABLE B (K TEXT(5) NOT NULL UNIQUE, W DOUBLE)"
$tool exec "$tmp/protected.mdb" --password brisk "INSERT INTO B VALUES ('a', 1.5)"

$tool create "$tmp/empty.mdb"

mkdir -p "$out"
for f in links protected empty; do
  sqlite3 "$tmp/$f.mdb" "PRAGMA page_size = 512; VACUUM;"
  cp "$tmp/$f.mdb" "$out/$f.mdb"
done
ls -l "$out"
