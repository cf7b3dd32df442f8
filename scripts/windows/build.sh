#!/usr/bin/env bash
# Cross-builds Ondaspa for 32-bit Windows into build-win32/: installs what is missing, gets
# the cross-built Qt (scripts/windows/qt.sh), configures once and builds incrementally. The
# programs land in build-win32/bin beside the DLLs they need, ready to run under wine.
# Usage: scripts/windows/build.sh [TARGET...]      (default: ondaspa ondaspa-cli)
# Env:   BUILD_TESTING=ON|OFF  whether the tests are configured too (CTest runs them through
#        wine); unset keeps what build-win32/ has (OFF in a new one), so packaging after
#        scripts/windows/test.sh configures nothing again
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-win32
RUNTIME=$BUILD/bin
TARGETS=("$@")
[ $# -gt 0 ] || TARGETS=(ondaspa ondaspa-cli)
source "$HERE/wine-env.sh"

"$HERE/setup.sh"
QT=$("$HERE/qt.sh")
wine_env "$BUILD"

# A Qt tree of another recipe invalidates everything CMake found in the old one.
if ! grep -qxF "QT_MINGW_PREFIX:PATH=$QT" "$BUILD/CMakeCache.txt" 2>/dev/null; then
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
TESTING=()
if [ -n "${BUILD_TESTING:-}" ]; then
    TESTING=(-DBUILD_TESTING="$BUILD_TESTING")
elif ! grep -q '^BUILD_TESTING:' "$BUILD/CMakeCache.txt" 2>/dev/null; then
    TESTING=(-DBUILD_TESTING=OFF)
fi
# A unity build: the cross compiler reads Qt's headers once per batch of a library's files
# instead of once per file, which halves the build on two cores.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DQT_MINGW_PREFIX="$QT" \
    "${TESTING[@]}" -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$RUNTIME" \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=env;$(IFS=';' && echo "${WINE_ENV[*]}");wine" >/dev/null
cmake --build "$BUILD" -j2 "${TARGETS[@]/#/--target=}"

# What the programs load at run time, laid out as on the user's machine.
MINGW_DLLS=(/usr/lib/gcc/i686-w64-mingw32/12-posix/{libgcc_s_dw2-1,libstdc++-6}.dll
    /usr/i686-w64-mingw32/lib/libwinpthread-1.dll)
mkdir -p "$RUNTIME/platforms" "$RUNTIME/imageformats" "$RUNTIME/styles"
cp -u "${MINGW_DLLS[@]}" "$QT"/bin/{Qt5Core,Qt5Gui,Qt5Widgets,Qt5Network,Qt5Test}.dll \
    "$QT"/bin/{libssl-3,libcrypto-3}.dll "$RUNTIME/"
cp -u "$QT"/plugins/platforms/{qwindows,qoffscreen,qminimal}.dll "$RUNTIME/platforms/"
cp -u "$QT/plugins/imageformats/qico.dll" "$RUNTIME/imageformats/"
# Without it Qt draws its plain "windows" style instead of the system's look.
cp -u "$QT/plugins/styles/qwindowsvistastyle.dll" "$RUNTIME/styles/"
# Qt's own texts in Chinese; the program looks in translations/ beside itself first.
mkdir -p "$RUNTIME/translations"
cp -u /usr/share/qt5/translations/qtbase_zh_CN.qm "$RUNTIME/translations/"
echo "Built into $RUNTIME"
