#!/usr/bin/env bash
# Builds the release packages and checks them unpacked in a clean folder (the Windows one
# under Wine). Usage: scripts/package.sh [PRESET[=BUILD_DIR]...]  (default: linux windows)
# Each package lands in BUILD_DIR/packages/ (default build/PRESET). On a tree that is
# already built this only runs cpack and the checks.
set -euo pipefail
cd "$(dirname "$0")/.."
plans=("$@")
[ ${#plans[@]} -gt 0 ] || plans=(linux windows)
export WINEDEBUG=-all
export ES_WINEPREFIX="${ES_WINEPREFIX:-$PWD/build/wineprefix}"
status=0
made=()
for plan in "${plans[@]}"; do
  preset=${plan%%=*}
  dir=build/$preset
  [ "$plan" = "$preset" ] || dir=${plan#*=}
  echo "=== $preset: package ($dir)"
  [ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset" -B "$dir" >/dev/null
  # What ships, and nothing else: a no-op when the tree is built.
  cmake --build "$dir" --target es_shipped
  rm -rf "$dir/packages"
  (cd "$dir" && cpack)
  rm -rf "$dir/packages/_CPack_Packages"
  if [ "$preset" = windows ]; then
    # Create the Wine prefix once, before the checks start Windows programs.
    WINEPREFIX="$ES_WINEPREFIX" cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
  fi
  echo "=== $preset: check the unpacked package"
  if ctest --test-dir "$dir/package-check" --output-on-failure; then
    for package in "$(cd "$dir" && pwd)"/packages/ExternalStorage-*; do
      case "$package" in *.zip | *.tar.gz) made+=("$package") ;; esac
    done
  else
    status=1
  fi
done
echo "=== packages"
for package in ${made[@]+"${made[@]}"}; do
  echo "$package ($(du -k "$package" | cut -f1) KiB)"
done
[ $status -eq 0 ] || echo "package checks failed" >&2
exit $status
