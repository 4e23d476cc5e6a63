#!/bin/sh
# Checks a release package as a user gets it, unpacked into a clean folder of its own:
#   contents PACKAGE  one folder named like the package, holding exactly what ships
#   run PACKAGE       eshost info runs from the unpacked folder (Windows: under Wine)
#   scan PACKAGE      esproduce writes a storage, eshost registers it and imports it
#   imports PACKAGE   no Windows binary needs a MinGW runtime DLL
#   rpath PACKAGE     every Linux binary finds its companions beside it and nowhere else
set -eu
mode=$1
package=$2
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

case "$package" in
*.zip) name=$(basename "$package" .zip); windows=1; exe=.exe; lib=.dll ;;
*.tar.gz) name=$(basename "$package" .tar.gz); windows=0; exe=; lib=.so ;;
*) echo "FAIL: $package is neither a zip nor a tar.gz"; exit 1 ;;
esac
[ -f "$package" ] || { echo "FAIL: no package $package (run scripts/package.sh)"; exit 1; }

fail() {
  echo "FAIL: $*"
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/es-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Unpacks into $work/unpacked, which holds nothing else; sets $dir to the package folder.
unpack() {
  mkdir "$work/unpacked"
  case "$package" in
  *.zip) (cd "$work/unpacked" && unzip -q "$package") ;;
  *) tar -xzf "$package" -C "$work/unpacked" ;;
  esac
  top=$(ls -A "$work/unpacked")
  [ "$top" = "$name" ] || fail "expected one folder $name at the top, found: $(echo $top)"
  dir="$work/unpacked/$name"
}

# Runs a program of the package with its own folder as the current folder and nothing of
# the build tree on any search path.
run_shipped() {
  program=$1
  shift
  if [ "$windows" = 1 ]; then
    (cd "$dir" && env -u WINEPATH -u LD_LIBRARY_PATH "$source_dir/cmake/wine-run.sh" "$dir/$program.exe" "$@")
  else
    (cd "$dir" && env -u LD_LIBRARY_PATH "$dir/$program" "$@")
  fi
}

# A path as the shipped programs take it.
native_path() {
  if [ "$windows" = 1 ]; then
    printf 'Z:%s' "$1" | tr / '\\'
  else
    printf '%s' "$1"
  fi
}

expected_files() {
  for file in "Input.ExternalStorage$lib" "Tessard$lib" "Lunmere$lib" "Brivel$lib" "Quillet$lib" \
              "Pictorn$lib" "eshost$exe" "esproduce$exe" DualStreamPdf.tif LICENSE INSTALL.md README.md; do
    echo "$file"
  done | LC_ALL=C sort
}

case "$mode" in
contents)
  case "$package" in
  *.zip) entries=$(unzip -Z1 "$package") ;;
  *) entries=$(tar -tzf "$package") ;;
  esac
  outside=$(echo "$entries" | grep -v "^$name/" || true)
  [ -z "$outside" ] || fail "entries outside $name/: $(echo $outside)"
  # Directory entries aside, the folder is flat and holds exactly what ships.
  found=$(echo "$entries" | sed "s|^$name/||" | grep -v '^$' | grep -v '/$' | LC_ALL=C sort)
  echo "$name:"
  echo "$found" | sed 's/^/  /'
  if [ "$found" != "$(expected_files)" ]; then
    echo "expected:"
    expected_files | sed 's/^/  /'
    fail "the package does not hold exactly what ships"
  fi
  unpack
  cmp "$dir/DualStreamPdf.tif" "$source_dir/resources/DualStreamPdf.tif" || fail "DualStreamPdf.tif differs from resources/"
  cmp "$dir/LICENSE" "$source_dir/packaging/LICENSE" || fail "LICENSE differs from packaging/LICENSE"
  if [ "$windows" = 0 ]; then
    for file in eshost esproduce; do
      [ -x "$dir/$file" ] || fail "$file is not executable"
    done
  fi
  ;;
run)
  unpack
  status=0
  output=$(run_shipped eshost info 2>&1) || status=$?
  printf '%s\n' "$output"
  [ "$status" -eq 0 ] || fail "eshost info exited with $status"
  printf '%s\n' "$output" | grep -q "External Storage" || fail "eshost info did not name the External Storage module"
  ;;
scan)
  unpack
  mkdir "$work/out"
  storage=$(native_path "$work/storage")
  settings=$(native_path "$work/eshost-settings.json")
  out=$(native_path "$work/out")
  # One PDF document: on Windows its page is the replacement image beside the module.
  run_shipped esproduce "$storage" --groups 1 --documents 3 --pages 2 --pdf 1 --seed 1 --quiet ||
    fail "esproduce could not write a storage"
  run_shipped eshost --settings "$settings" register "$storage" || fail "eshost register failed"
  status=0
  output=$(run_shipped eshost --settings "$settings" scan --unattended --out "$out" 2>&1) || status=$?
  printf '%s\n' "$output"
  [ "$status" -eq 0 ] || fail "eshost scan exited with $status"
  [ -f "$work/out/manifest.jsonl" ] || fail "no manifest.jsonl in the output folder"
  pages=$(wc -l < "$work/out/manifest.jsonl")
  echo "manifest: $pages page(s)"
  # Two documents of two pages and the PDF document as one page.
  [ "$pages" -eq 5 ] || fail "expected 5 pages in the manifest, found $pages"
  left=$(find "$work/storage" -mindepth 2 -type d | wc -l)
  [ "$left" -eq 0 ] || fail "$left document folder(s) left in the storage after the import"
  ;;
imports)
  [ "$windows" = 1 ] || fail "imports is a check of the Windows package"
  unpack
  sh "$source_dir/tests/module/check-binary.sh" imports "$dir"/*.exe "$dir"/*.dll
  ;;
rpath)
  [ "$windows" = 0 ] || fail "rpath is a check of the Linux package"
  unpack
  for file in "$dir"/*.so "$dir/eshost" "$dir/esproduce"; do
    paths=$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    echo "$(basename "$file"): ${paths:-<none>}"
    [ "$paths" = '$ORIGIN' ] || fail "$(basename "$file") searches ${paths:-nothing} instead of \$ORIGIN"
  done
  missing=$(cd "$dir" && env -u LD_LIBRARY_PATH ldd ./eshost ./esproduce ./*.so | grep 'not found' || true)
  [ -z "$missing" ] || fail "unresolved libraries: $missing"
  ;;
*)
  echo "usage: $0 contents|run|scan|imports|rpath PACKAGE" >&2
  exit 2
  ;;
esac
echo "ok: $mode"
