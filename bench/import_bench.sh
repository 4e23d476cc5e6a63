#!/usr/bin/env bash
# Whole-run benchmark of the unattended import, as a ratio against the machine's own
# floor measured in the same run: reading the same files (cat to /dev/null) plus deleting
# a copy of the same tree (rm -r). Median of 5 each. Goal: ratio <= 2.
# Then the whole job: eshost writing every page to its output folder, flushed before each
# page is accepted (the default) and with --no-sync, against the floor of copying the same
# storage (cp -r) plus deleting it (rm -r) plus one sync. Median of 5 each. Goals:
# durable <= 2.0, --no-sync <= 1.5.
# Also peak memory of eshost for 2,000 and for 10,000 documents; goal: within 10%.
# Usage: bench/import_bench.sh [documents-per-group] (default 100, 20 groups: 2,000 documents)
set -euo pipefail
cd "$(dirname "$0")/.."
per_group=${1:-100}
cmake --preset linux >/dev/null
cmake --build --preset linux --target eshost esproduce Input.ExternalStorage >/dev/null
bin=$PWD/build/linux/bin
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

produce() {  # folder documents-per-group
  "$bin/esproduce" "$1" --groups 20 --documents "$2" --pages 3 --compression g4 --size a4 --dpi 300 --seed 7 >/dev/null
}
settings() {  # storage-folder settings-file
  printf '{"AllowRescanning": true, "SelectedPath": "", "DeleteFaxes": true, "DeleteGroupFolder": true, "Number of dirs": 1, "Dir0": "%s"}\n' "$1" >"$2"
}
now() { date +%s.%N; }
calc() { awk "BEGIN {printf \"%.3f\", $1}"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

produce "$work/pristine" "$per_group"
documents=$((20 * per_group))
echo "storage: $documents documents, 3 A4 G4 pages each at 300 dpi ($(du -sh "$work/pristine" | cut -f1))"

floor_times=()
import_times=()
for run in 1 2 3 4 5; do
  rm -rf "$work/copy" && cp -r "$work/pristine" "$work/copy" && sync
  t0=$(now)
  find "$work/copy" -type f -exec cat {} + >/dev/null
  rm -r "$work/copy"
  t1=$(now)
  floor_times+=("$(calc "$t1 - $t0")")

  rm -rf "$work/copy" && cp -r "$work/pristine" "$work/copy" && sync
  settings "$work/copy" "$work/settings.json"
  t0=$(now)
  "$bin/eshost" --settings "$work/settings.json" scan --unattended --discard --quiet --out "$work/out"
  t1=$(now)
  import_times+=("$(calc "$t1 - $t0")")
  left=$(find "$work/copy" -mindepth 1 | wc -l)
  [ "$left" -eq 0 ] || { echo "FAIL: $left entries left in the storage after the import"; exit 1; }
done
floor=$(printf '%s\n' "${floor_times[@]}" | median)
import=$(printf '%s\n' "${import_times[@]}" | median)
ratio=$(calc "$import / $floor")
echo "floor (cat + rm -r), median of 5: ${floor}s"
echo "import (eshost --discard), median of 5: ${import}s"
echo "import/floor ratio: $ratio (goal <= 2)"

pages=$((documents * 3))
job_floor_times=()
durable_times=()
nosync_times=()
fresh() { rm -rf "$work/copy" "$work/out" "$work/floor-out" && cp -r "$work/pristine" "$work/copy" && sync; }
delivered() {  # every page stored once, nothing left behind
  left=$(find "$work/copy" -mindepth 1 | wc -l)
  [ "$left" -eq 0 ] || { echo "FAIL: $left entries left in the storage after the import"; exit 1; }
  stored=$(find "$work/out/pages" -name '*.tif' | wc -l)
  [ "$stored" -eq "$pages" ] || { echo "FAIL: $stored page files for $pages pages"; exit 1; }
}
for run in 1 2 3 4 5; do
  fresh
  t0=$(now)
  cp -r "$work/copy" "$work/floor-out"
  rm -r "$work/copy"
  sync
  t1=$(now)
  job_floor_times+=("$(calc "$t1 - $t0")")

  fresh
  settings "$work/copy" "$work/settings.json"
  t0=$(now)
  "$bin/eshost" --settings "$work/settings.json" scan --unattended --quiet --out "$work/out"
  t1=$(now)
  durable_times+=("$(calc "$t1 - $t0")")
  delivered

  fresh
  t0=$(now)
  "$bin/eshost" --settings "$work/settings.json" scan --unattended --quiet --no-sync --out "$work/out"
  t1=$(now)
  nosync_times+=("$(calc "$t1 - $t0")")
  delivered
done
rm -rf "$work/floor-out" "$work/out"
job_floor=$(printf '%s\n' "${job_floor_times[@]}" | median)
durable=$(printf '%s\n' "${durable_times[@]}" | median)
nosync=$(printf '%s\n' "${nosync_times[@]}" | median)
echo "whole job floor (cp -r + rm -r + sync), median of 5: ${job_floor}s"
echo "eshost writing every page, durable, median of 5: ${durable}s; ratio $(calc "$durable / $job_floor") (goal <= 2.0)"
echo "eshost writing every page, --no-sync, median of 5: ${nosync}s; ratio $(calc "$nosync / $job_floor") (goal <= 1.5)"

peak() {  # documents-per-group
  rm -rf "$work/mem" && produce "$work/mem" "$1"
  settings "$work/mem" "$work/mem-settings.json"
  "$bin/eshost" --settings "$work/mem-settings.json" scan --unattended --discard --out "$work/out" 2>/dev/null |
    grep -o 'peak memory [0-9]*' | grep -o '[0-9]*$'
}
small=$(peak "$per_group")
large=$(peak $((per_group * 5)))
echo "peak memory: ${small} KiB for $documents documents, ${large} KiB for $((documents * 5)) documents"
echo "peak memory growth: $(calc "($large - $small) * 100 / $small")% (goal <= 10%)"
