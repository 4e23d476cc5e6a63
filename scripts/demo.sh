#!/usr/bin/env bash
# The main job on a fresh machine: install, build, and run the module in eshost.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target eshost Input.ExternalStorage
work=$(mktemp -d)
cd "$work"
echo "=== eshost info (settings in $work/eshost-settings.json)"
"$OLDPWD/build/linux/bin/eshost" info
