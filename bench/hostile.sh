#!/usr/bin/env bash
# The hostile-storage benchmark: one storage holding every trap a producer (or anyone who
# can write the drop folder) could leave, imported by eshost unattended. Prints eshost's
# peak memory, the sizes of its trace and output and the time taken, and checks that
# nothing outside the storage was read into the output, changed or deleted.
# Goals: peak memory <= 300 MiB, trace <= 10 MB, output <= 64 MB, done in < 60 s, the
# outside tree unchanged, a stop (SIGTERM) honoured within a few seconds.
# Usage: bench/hostile.sh          (ES_BENCH_KEEP=1 keeps the storage, trace and output)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux --target eshost esproduce Input.ExternalStorage >/dev/null
bin=$PWD/build/linux/bin
work=$(mktemp -d)
racer=""
cleanup() {
  [ -n "$racer" ] && kill "$racer" 2>/dev/null || true
  if [ -n "${ES_BENCH_KEEP:-}" ]; then
    echo "kept: $work"
    return
  fi
  chmod -R u+rwx "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
storage=$work/storage
outside=$work/outside
out=$work/out

# A sound storage to start from: 3 groups of 4 documents.
"$bin/esproduce" "$storage" --groups 3 --documents 4 --pages 2 --seed 11 >/dev/null
groups=()
for g in "$storage"/*/; do groups+=("${g%/}"); done
g1=${groups[0]}
g2=${groups[1]}
g3=${groups[2]}

# What lies outside the storage: documents, a secret only the service may read, files
# whose modes must not change.
mkdir -p "$outside/docs" "$outside/group/D"
first=("$g1"/*/1.pg)
cp "${first[0]}" "$outside/docs/1.pg"
echo "outside group" >"$outside/group/GR_LOCK.TXT"
cp "$outside/docs/1.pg" "$outside/group/D/1.pg"
echo "service secret" >"$outside/secret.txt"
chmod 600 "$outside/secret.txt"
printf 'victim order file\r\n' >"$outside/victim.txt"
printf 'lock\r\n' >"$outside/lock.txt"
chmod 400 "$outside/lock.txt"

# Links of every kind.
docs=("$g1"/*/)
d1=${docs[0]%/}
d2=${docs[1]%/}
d3=${docs[2]%/}
ln -s "$outside/docs" "$g1/Dlink"
ln -s "$outside/group" "$storage/glink"
rm -f "$d1/KVATTR" "$d1/COMMANDS"
ln -s "$outside/secret.txt" "$d1/KVATTR"
ln -s "$outside/secret.txt" "$d1/COMMANDS"
ln -s "$outside/docs/1.pg" "$d2/9.pg"
rm -f "$g2/Doc_Order.txt"
ln -s "$outside/victim.txt" "$g2/Doc_Order.txt"
mkdir -p "$g3/Doc_Order.txt.BAK"
mkdir -p "$storage/lockgroup/D"
ln -s "$outside/lock.txt" "$storage/lockgroup/GR_LOCK.TXT"

# Small files of large cost, in a group of their own.
hostile=$storage/hostile
mkdir -p "$hostile"
printf 'hostile\r\n' >"$hostile/GR_LOCK.TXT"
python3 - "$hostile" "$d3" <<'PY'
import os, struct, sys
group, sample = sys.argv[1], sys.argv[2]
def doc(name):
    path = os.path.join(group, name)
    os.makedirs(path, exist_ok=True)
    return path
def sparse(path, size, head=b""):
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(size)
page = open(os.path.join(sample, "1.pg"), "rb").read()
# An attribute file of 400 MiB, nearly all holes, announcing 2^31-1 pages.
d = doc("announces-2g-pages")
sparse(os.path.join(d, "SC_ATTR.BIN"), 400 << 20, struct.pack("<HHIiI", 0, 0x200, 0, 0x7FFFFFFF, 0))
open(os.path.join(d, "1.pg"), "wb").write(page)
# An attribute file of 3.5 GB.
d = doc("attr-3.5g")
sparse(os.path.join(d, "SC_ATTR.BIN"), 3500 * 10**6, struct.pack("<HHIiI", 0, 0x200, 0, 1, 0))
open(os.path.join(d, "1.pg"), "wb").write(page)
# A CCITT G4 page of 90,000 x 90,000 pixels in 11 kB.
side = 90000
data = b"\xff" * (side // 8) + b"\x00\x10\x01"
entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 1), (259, 3, 1, 4),
           (262, 3, 1, 0), (273, 4, 1, 8), (278, 4, 1, side), (279, 4, 1, len(data))]
ifd = struct.pack("<H", len(entries))
for tag, kind, count, value in entries:
    ifd += struct.pack("<HHI", tag, kind, count) + (struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value))
ifd += struct.pack("<I", 0)
open(os.path.join(doc("g4-90000"), "1.pg"), "wb").write(b"II*\0" + struct.pack("<I", 8 + len(data)) + data + ifd)
# A PDF whose page is 100 x 100 inches.
objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 7200 7200] /Contents 4 0 R /Resources << >> >>",
        b"<< /Length 32 >>\nstream\n0 0 0 rg 720 720 1440 1440 re f\nendstream"]
pdf = bytearray(b"%PDF-1.4\n")
offsets = []
for n, body in enumerate(objs, 1):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % n + body + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(os.path.join(doc("pdf-100-inch"), "1.pg"), "wb").write(pdf)
# A file of 1 GB, nearly all holes, that starts like a PDF.
sparse(os.path.join(doc("pdf-1g"), "1.pg"), 1 << 30, b"%PDF-1.4\n")
# KVATTR and COMMANDS of 63 MB each.
d = doc("side-files-63m")
open(os.path.join(d, "1.pg"), "wb").write(page)
sparse(os.path.join(d, "KVATTR"), 63 * 10**6, b"KEY=VALUE\r\n")
sparse(os.path.join(d, "COMMANDS"), 63 * 10**6, b"BARCODE 123\r\n")
# A page file of 50,001 images (the library reads at most 50,000).
count = 50001
size = 2 + 8 * 12 + 4
first = 10
body = bytearray(b"II*\0" + struct.pack("<I", first) + b"\x55\0")
for i in range(count):
    link = first + (i + 1) * size if i + 1 < count else 0
    e = [(256, 3, 1, 8), (257, 3, 1, 1), (258, 3, 1, 1), (259, 3, 1, 1), (262, 3, 1, 0),
         (273, 4, 1, 8), (278, 3, 1, 1), (279, 4, 1, 1)]
    ifd = struct.pack("<H", len(e))
    for tag, kind, cnt, value in e:
        ifd += struct.pack("<HHI", tag, kind, cnt) + (struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value))
    body += ifd + struct.pack("<I", link)
open(os.path.join(doc("images-50001"), "1.pg"), "wb").write(body)
PY

snapshot() { (cd "$outside" && find . -printf '%p %y %m %s %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }
before=$(snapshot)
# Doc_Order.txt of the first group keeps being swapped for a link to an outside file while
# the import runs, as an attacker racing the order-file rewrite would.
( while :; do ln -sfn "$outside/victim.txt" "$g1/.swap" && mv -Tf "$g1/.swap" "$g1/Doc_Order.txt"; done ) 2>/dev/null &
racer=$!

settings=$work/settings.json
printf '{"AllowRescanning": true, "SelectedPath": "", "DeleteFaxes": true, "DeleteGroupFolder": true, "Number of dirs": 1, "Dir0": "%s"}\n' \
  "$storage" >"$settings"
start=$(date +%s.%N)
set +e
"$bin/eshost" --settings "$settings" scan --unattended --quiet --out "$out" --trace "$work/trace.txt" \
  --messages "$work/messages.jsonl" --receipt "$work/receipt.json" 2>"$work/stderr.txt"
status=$?
set -e
end=$(date +%s.%N)
kill "$racer" 2>/dev/null || true
wait "$racer" 2>/dev/null || true
racer=""
after=$(snapshot)

seconds=$(awk "BEGIN {printf \"%.1f\", $end - $start}")
peak=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get("peak_memory_kib", 0))' "$work/receipt.json")
trace=$(stat -c %s "$work/trace.txt")
output=$(du -sb "$out" | cut -f1)
fail=0
check() {  # name value goal unit
  local verdict=ok
  if awk "BEGIN {exit !($2 > $3)}"; then verdict=FAILED; fail=1; fi
  printf '%-14s %12s %s (goal <= %s) %s\n' "$1" "$2" "$4" "$3" "$verdict"
}
echo "eshost exit status $status"
check "peak memory" "$((peak / 1024))" 300 MiB
check "trace" "$trace" 10000000 bytes
check "output" "$output" 64000000 bytes
check "time" "$seconds" 60 s
if [ "$before" = "$after" ]; then
  echo "outside tree   unchanged ok"
else
  echo "outside tree   CHANGED: FAILED"
  diff <(echo "$before") <(echo "$after") || true
  fail=1
fi
if grep -rq "service secret" "$out" 2>/dev/null; then
  echo "output         holds the outside secret: FAILED"
  fail=1
fi

# A stop is honoured within a few seconds, whatever the module is doing: here it walks
# thousands of groups that hand over no page at all, and is stopped after one second.
python3 - "$work/slow" <<'PY'
import os, sys
for g in range(20000):
    d = os.path.join(sys.argv[1], "g%05d" % g, "D")
    os.makedirs(d)
    open(os.path.join(d, "notes.txt"), "w").write("no page here")
    open(os.path.join(sys.argv[1], "g%05d" % g, "GR_LOCK.TXT"), "w").write("g")
PY
printf '{"AllowRescanning": true, "SelectedPath": "", "DeleteFaxes": false, "DeleteGroupFolder": false, "Number of dirs": 1, "Dir0": "%s"}\n' \
  "$work/slow" >"$work/slow.json"
"$bin/eshost" --settings "$work/slow.json" scan --unattended --quiet --discard 2>/dev/null &
host=$!
sleep 1
stopped=$(date +%s.%N)
kill -TERM "$host" 2>/dev/null || true
set +e
wait "$host"
set -e
ended=$(date +%s.%N)
check "stop" "$(awk "BEGIN {printf \"%.1f\", $ended - $stopped}")" 5 s
exit $fail
