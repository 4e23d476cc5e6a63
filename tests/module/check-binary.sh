#!/bin/sh
# Checks a built binary from the outside:
#   exports FILE       the module exports ScanningCreateImplements and nothing else
#   imports FILE...    Windows binaries need no MinGW runtime DLL beside them
#   ordinals FILE DLL  every import of FILE from DLL is by ordinal, none by name
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
ordinals)
  file=$1
  dll=$2
  entries=$(x86_64-w64-mingw32-objdump -p "$file" | awk -v dll="$dll" '
    /DLL Name:/ { t = (tolower($3) == tolower(dll)); next }
    t && /Member-Name/ { next }
    t && NF == 0 { t = 0 }
    t { print }')
  echo "$file imports from $dll:"
  echo "$entries"
  [ -n "$entries" ] || { echo "FAIL: nothing imported from $dll"; exit 1; }
  if echo "$entries" | grep -v '<none>'; then
    echo "FAIL: imported by name"
    exit 1
  fi
  ;;
*)
  echo "usage: $0 exports FILE | imports FILE... | ordinals FILE DLL" >&2
  exit 2
  ;;
esac
echo "1 passed, 0 failed"
