#!/usr/bin/env bash
# Pictures of the module's dialogs, taken from the Windows build running under Wine on a
# virtual X display: docs/screenshots/configure.png, edit.png and scan.png.
#
#   scripts/screenshots.sh            # builds the windows preset (build/windows) if needed
#   ES_BUILD_DIR=build/other scripts/screenshots.sh
#
# Needs: MinGW-w64, wine64, Xvfb and ImageMagick (import, convert).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ES_BUILD_DIR:-build/windows}
case $build in /*) ;; *) build=$root/$build ;; esac
out=$root/docs/screenshots
program=$build/bin/dialog_screenshots.exe

if [ ! -f "$build/build.ninja" ]; then
  if [ "$build" = "$root/build/windows" ]; then
    cmake --preset windows >/dev/null
  else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  fi
fi
ninja -C "$build" dialog_screenshots >/dev/null

# A free display number, as xvfb-run -a finds one.
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
handshake=$(mktemp -d)
export DISPLAY=":$display"
# A prefix of its own whose desktop lives on this display (see tests/win32ui/run-on-display.sh).
export WINEPREFIX=$build/wine-display
export WINEDEBUG=-all
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=wineserver
cleanup() {
  "$server" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$handshake"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

mkdir -p "$WINEPREFIX" "$out"
tests/win32ui/prepare-prefix.sh

cmake/wine-run.sh "$program" "Z:${handshake//\//\\}" &
shower=$!

for name in configure edit scan; do
  ready=$handshake/$name.ready
  for _ in $(seq 600); do [ -f "$ready" ] && break; sleep 0.1; done
  if [ ! -f "$ready" ]; then
    echo "screenshots: the $name dialog did not appear" >&2
    exit 1
  fi
  read -r x y w h <"$ready"
  import -window root "$handshake/screen.png"
  convert "$handshake/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
  echo "$out/$name.png (${w}x${h})"
  touch "$handshake/$name.done"
done
wait "$shower"
