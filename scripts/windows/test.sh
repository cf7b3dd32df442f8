#!/usr/bin/env bash
# Cross-builds the programs and the tests that need nothing of Linux for 32-bit Windows
# (scripts/windows/build.sh) and runs those tests through CTest under wine, offscreen,
# in the build folder's own wine prefix.
# Usage: scripts/windows/test.sh [CTEST_ARGUMENT...]
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-win32
source "$HERE/wine-env.sh"

BUILD_TESTING=ON "$HERE/build.sh" all
wine_env "$BUILD"
cd "$BUILD"
# One wine server for the whole run (unless one runs already), so that no test pays its start.
wineserver -p 2>/dev/null || true
status=0
ctest --output-on-failure -j 2 "$@" || status=$?
wineserver -k 2>/dev/null || true
exit "$status"
