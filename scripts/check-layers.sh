#!/usr/bin/env bash
# Lists the include edges between the module's layers (and from the companions and tools
# into them) and fails on an edge that runs the wrong way. The layers, bottom up:
#   platform <- base <- attrs <- storage <- ui <- frame
# A layer may include itself and the layers below it; the companions include nothing of
# the module; eshost's host half includes only the public interface (include/es) and the
# companions. Usage: scripts/check-layers.sh [--list]
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(platform base attrs storage ui frame)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
edges=$(
  find src companions host -name '*.h' -o -name '*.cpp' | sort | while read -r file; do
    case "$file" in
      src/*) from=$(echo "$file" | cut -d/ -f2) ;;
      companions/*) from=companions ;;
      host/tools/*) from=tools ;;
      host/*) from=host ;;
    esac
    grep -ho '^#include "[^"]*"' "$file" | sed 's/#include "//; s/"$//' | while read -r inc; do
      to=${inc%%/*}
      [ "$to" = "$inc" ] && continue  # a file of its own folder or a companion's header
      echo "$from $to $file"
    done
  done
)
bad=0
while read -r from to file; do
  [ -z "$from" ] && continue
  case "$from" in
    companions)
      # Companions name only their own headers.
      if [ "$(rank "$to")" -ge 0 ] || [ "$to" = src ]; then echo "upward: $file includes $to/"; bad=1; fi ;;
    host)
      if [ "$(rank "$to")" -ge 0 ] || [ "$to" = src ] || [ "$to" = tools ]; then
        echo "the host half reaches into the module: $file includes $to/"
        bad=1
      fi ;;
    tools) ;;
    *)
      if [ "$to" = src ]; then echo "past the layers: $file includes src/"; bad=1; continue; fi
      r_from=$(rank "$from")
      r_to=$(rank "$to")
      if [ "$r_to" -gt "$r_from" ]; then echo "upward: $file ($from) includes $to/"; bad=1; fi ;;
  esac
done <<<"$edges"
if [ "${1:-}" = "--list" ]; then
  echo "include edges between folders (from to count):"
  awk '$1 != $2 {print $1, $2}' <<<"$edges" | sort | uniq -c | awk '{print "  " $2 " -> " $3 ": " $1}'
fi
if [ $bad -ne 0 ]; then
  echo "FAIL: includes that run against the layers"
  exit 1
fi
echo "layers hold: no include runs upwards"
