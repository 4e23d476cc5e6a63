#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs each for a
# fixed time on seeds written by esproduce. Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target esproduce >/dev/null
cmake --preset fuzz >/dev/null
targets=(quillet_fuzz attrfile_v2_fuzz attrfile_v1_fuzz commands_fuzz lockorder_fuzz)
cmake --build --preset fuzz --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/linux/bin/esproduce "$work/v2" --groups 2 --documents 3 --pages 3 --attr-version 2 --commands --kvattr --seed 1 >/dev/null
build/linux/bin/esproduce "$work/v1" --groups 1 --documents 3 --pages 2 --attr-version 1 --seed 2 >/dev/null
mkdir -p "$work/corpus"/{quillet,attrfile_v2,attrfile_v1,commands,lockorder}
i=0; for f in $(find "$work/v2" -name SC_ATTR.BIN); do cp "$f" "$work/corpus/attrfile_v2/$i"; i=$((i+1)); done
i=0; for f in $(find "$work/v1" -name SC_ATTR.BIN); do cp "$f" "$work/corpus/attrfile_v1/$i"; i=$((i+1)); done
i=0; for f in $(find "$work/v2" -name COMMANDS); do cp "$f" "$work/corpus/commands/$i"; i=$((i+1)); done
i=0; for f in $(find "$work" -name GR_LOCK.TXT -o -name Doc_Order.txt); do cp "$f" "$work/corpus/lockorder/$i"; i=$((i+1)); done
# Container blocks: the document block of each version-2 attribute file (offset 16, size at 12).
i=0; for f in $(find "$work/v2" -name SC_ATTR.BIN); do
  size=$(od -An -tu4 -j12 -N4 "$f" | tr -d ' ')
  dd if="$f" of="$work/corpus/quillet/$i" bs=1 skip=16 count="$size" status=none
  i=$((i+1))
done

status=0
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  echo "=== fuzzing $name for ${seconds}s"
  if ! build/fuzz/bin/$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      "$work/corpus/$name" >"$work/$name.log" 2>&1; then
    tail -40 "$work/$name.log"
    echo "FAIL: $name"
    status=1
  else
    grep -E "^#[0-9]+.*DONE|Done [0-9]+ runs" "$work/$name.log" | tail -1 || true
  fi
done
[ $status -eq 0 ] && echo "5 passed, 0 failed" || echo "fuzzing found a problem"
exit $status
