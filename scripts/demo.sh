#!/usr/bin/env bash
# The main job on a fresh machine: install, build, write a sample storage with
# esproduce, register it with eshost and import it unattended.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target eshost esproduce Input.ExternalStorage Pictorn
bin=$PWD/build/linux/bin
work=${1:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
echo "=== esproduce: a sample storage in $work/storage"
"$bin/esproduce" storage --groups 3 --documents 4 --pages 2 --description "Sample storage" --commands \
  --pdf 1 --damaged 1 --seed 42
echo "=== eshost register"
"$bin/eshost" --settings settings.json register "$work/storage"
"$bin/eshost" --settings settings.json storages
echo "=== eshost scan --unattended"
"$bin/eshost" --settings settings.json scan --unattended --out out --receipt receipt.json --trace trace.log \
  --messages messages.jsonl
echo
echo "Pages:    $work/out/pages/"
echo "Manifest: $work/out/manifest.jsonl (one JSON object per page)"
echo "Receipt:  $work/receipt.json; trace lines in $work/trace.log"
echo "Left in the storage (kept documents):"
find "$work/storage" -mindepth 2 -maxdepth 2 -type d | sed "s|$work/||" || true
