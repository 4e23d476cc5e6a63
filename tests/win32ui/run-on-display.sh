#!/bin/sh
# Runs a Windows program under Wine on a virtual X display of its own:
#   run-on-display.sh <wine prefix> <screen WxHxD> <program.exe> [arguments...]
# The prefix is private to these runs: the desktop process Wine starts belongs to one X
# display, so a prefix shared with runs on another display (or none) would hand this
# program a desktop it cannot show. Wine's server for the prefix is stopped at the end,
# so that the next run starts its desktop on its own display.
#
# There is no window manager on the virtual display: the prefix tells Wine to draw the
# window frames itself instead of waiting for a manager to map and withdraw them.
set -u
prefix=$1
screen=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$prefix
export WINEPREFIX
mkdir -p "$prefix"
exec xvfb-run -a -s "-screen 0 $screen" sh -c '
  wine=$1
  if [ ! -f "$WINEPREFIX/.frames-drawn-by-wine" ]; then
    "$wine" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.frames-drawn-by-wine"
  fi
  "$@"
  rc=$?
  server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server=wineserver
  "$server" -k 2>/dev/null
  exit $rc' run "$here/../../cmake/wine-run.sh" "$@"
