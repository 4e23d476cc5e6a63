#!/usr/bin/env bash
# Runs eshost unattended over a fixed set of storages written by esproduce and writes what
# the module produced, with what changes from run to run taken out: the trace (severity,
# source and text; times and source line numbers left out), the message boxes, and per
# page the call, the page and document attributes (scan stamps left out) and the image
# size. Two builds that behave alike give identical files.
# Usage: scripts/golden-run.sh BIN-DIR OUT-DIR
set -euo pipefail
bin=$1
out=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$out"
"$bin/esproduce" "$work/s1" --groups 2 --documents 6 --pages 3 --commands --kvattr --pdf 1 --damaged 1 --missing 1 \
  --extra 1 --seed 5 --quiet >/dev/null
"$bin/esproduce" "$work/s2" --attr-version 1 --documents 3 --pages 2 --seed 6 --quiet >/dev/null
"$bin/esproduce" "$work/s3" --multipage --documents 3 --pages 4 --compression lzw --seed 7 --quiet >/dev/null
"$bin/esproduce" "$work/s4" --attr-version none --documents 2 --pages 2 --seed 8 --quiet >/dev/null
printf '{"AllowRescanning": true, "SelectedPath": "", "DeleteFaxes": true, "DeleteGroupFolder": true, "Number of dirs": 4, "Dir0": "%s", "Dir1": "%s", "Dir2": "%s", "Dir3": "%s"}\n' \
  "$work/s1" "$work/s2" "$work/s3" "$work/s4" >"$work/settings.json"
"$bin/eshost" --settings "$work/settings.json" scan --unattended --quiet --out "$work/out" --trace "$work/trace.txt" \
  --messages "$work/messages.jsonl" 2>/dev/null || true
# Time and line number go; paths are made relative to the work folder.
cut -f2- "$work/trace.txt" | sed -E 's/^(sev=[0-9]+\t[A-Za-z]+):[0-9]+/\1/' | sed "s|$work|WORK|g" >"$out/trace.txt"
sed "s|$work|WORK|g" "$work/messages.jsonl" >"$out/messages.jsonl"
python3 - "$work/out/manifest.jsonl" "$work" >"$out/pages.jsonl" <<'PY'
import json, sys
stamp = "0x01080011"
for line in open(sys.argv[1]):
    page = json.loads(line)
    for part in ("page", "document"):
        attrs = page.get(part) or {}
        attrs.pop(stamp, None)
    print(json.dumps({k: page.get(k) for k in ("call", "accepted", "page", "document", "image_size")}, sort_keys=True)
          .replace(sys.argv[2], "WORK"))
PY
wc -l "$out"/* | tail -1
