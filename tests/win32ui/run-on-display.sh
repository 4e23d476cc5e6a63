#!/bin/sh
# Runs a Windows program under Wine on a virtual X display of its own:
#   run-on-display.sh <wine prefix> <screen WxHxD> <program.exe> [arguments...]
# The prefix is private to these runs: the desktop process Wine starts belongs to one X
# display, so a prefix shared with runs on another display (or none) would hand this
# program a desktop it cannot show. Wine's server for the prefix is stopped at the end,
# so that the next run starts its desktop on its own display.
# prepare-prefix.sh readies the prefix for a display without a window manager.
set -u
prefix=$1
screen=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$prefix
export WINEPREFIX
mkdir -p "$prefix"
exec xvfb-run -a -s "-screen 0 $screen" sh -c '
  here=$1
  shift
  "$here/prepare-prefix.sh"
  "$here/../../cmake/wine-run.sh" "$@"
  rc=$?
  server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server=wineserver
  "$server" -k 2>/dev/null
  exit $rc' run "$here" "$@"
