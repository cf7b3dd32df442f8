#!/usr/bin/env bash
# Renders every window of the Windows build under wine, with Qt's real "windows" platform
# on a virtual X display, to PNG files in build-win32/screenshots/.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-win32
source "$HERE/../setup.sh"
source "$HERE/wine-env.sh"

ensure_packages xvfb xauth
"$HERE/build.sh" ondaspa-screenshot
wine_env "$BUILD"
OUT=$BUILD/screenshots
mkdir -p "$OUT"
# Run in the output folder so the settings file lands there, not in the tree.
cd "$OUT"
QT_QPA_PLATFORM=windows timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" \
    sh -c 'wine "$1" "$2"; status=$?; wineserver -w; exit $status' _ \
    "$BUILD/bin/ondaspa-screenshot.exe" "$OUT"
