#!/bin/sh
# Runs a Windows program under Wine with a prefix private to the build tree.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${ES_WINEPREFIX:-$HOME/.wine-es}"
  export WINEPREFIX
fi
# No network here: skip the offers to install Mono and Gecko.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEDLLOVERRIDES
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine64
exec "$WINE" "$@"
