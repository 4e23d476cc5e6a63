#!/bin/sh
# Makes the Wine prefix in WINEPREFIX fit for showing dialogs on a virtual X display
# (DISPLAY set to it). Once per prefix:
# - there is no window manager on the display: Wine draws captions and frames itself
#   instead of waiting for a manager to map and withdraw each window;
# - Wine's own Tahoma and Marlett go into the prefix's font folder. Started as
#   /usr/lib/wine/wine64 it does not look in its data folder for them, and "MS Shell Dlg"
#   would fall back to another face with other dialog units than on Windows.
set -u
marker=$WINEPREFIX/.dialog-display-ready
[ -f "$marker" ] && exit 0
wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || exit 1
fonts=/usr/share/wine/fonts
target=$WINEPREFIX/drive_c/windows/Fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
  [ -f "$fonts/$font" ] && cp "$fonts/$font" "$target/"
done
touch "$marker"
