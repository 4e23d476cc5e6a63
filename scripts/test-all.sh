#!/usr/bin/env bash
# Builds the Linux, Linux-with-sanitizers and Windows targets and runs every test on
# each (the Windows tests under Wine). Usage: scripts/test-all.sh [preset...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan windows)
export WINEDEBUG=-all
export ES_WINEPREFIX="${ES_WINEPREFIX:-$PWD/build/wineprefix}"
status=0
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = windows ]; then
    # Create the Wine prefix once, before tests run in parallel.
    WINEPREFIX="$ES_WINEPREFIX" cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
  fi
  echo "=== $preset: test"
  ctest --preset "$preset" || status=1
done
exit $status
