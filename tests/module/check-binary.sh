#!/bin/sh
# Checks a built binary from the outside:
#   exports FILE       the module exports ScanningCreateImplements and nothing else
#   imports FILE...    Windows binaries need no MinGW runtime DLL beside them
set -eu
mode=$1
shift
case "$mode" in
exports)
  file=$1
  case "$file" in
  *.dll)
    names=$(x86_64-w64-mingw32-objdump -p "$file" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^\t\[/{print $NF} t&&/^$/{t=0}')
    ;;
  *)
    names=$(nm -D --defined-only "$file" | awk '{print $NF}')
    ;;
  esac
  echo "exported: $names"
  [ "$names" = "ScanningCreateImplements" ] || { echo "FAIL: expected exactly ScanningCreateImplements"; exit 1; }
  ;;
imports)
  for file in "$@"; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$file" | awk '/DLL Name:/{print $3}')
    echo "$file imports: $(echo $dlls)"
    if echo "$dlls" | grep -i -E 'libstdc|libgcc|winpthread|libssp'; then
      echo "FAIL: $file needs a MinGW runtime DLL"
      exit 1
    fi
  done
  ;;
*)
  echo "usage: $0 exports FILE | imports FILE..." >&2
  exit 2
  ;;
esac
echo "1 passed, 0 failed"
