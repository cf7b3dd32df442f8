#!/usr/bin/env bash
# Makes the Windows packages into build-win32/packages/: the portable ZIP (one folder that
# runs where it is unpacked) and the installer (NSIS, resources/windows/ondaspa.nsi).
# Reuses build-win32/: only the two programs are built (scripts/windows/build.sh).
# Usage: scripts/windows/package.sh
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-win32
RUNTIME=$BUILD/bin
PACKAGES=$BUILD/packages
source "$HERE/../setup.sh"

ensure_packages qttranslations5-l10n
"$HERE/build.sh" ondaspa ondaspa-cli
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
NAME=ondaspa-$VERSION-win32
STAGE=$BUILD/stage/$NAME

# What a user's machine needs, and nothing of the tests (Qt5Test, the offscreen platforms).
rm -rf "$BUILD/stage"
mkdir -p "$STAGE/platforms" "$STAGE/imageformats" "$STAGE/styles" "$STAGE/translations" "$STAGE/html" \
    "$STAGE/sound" "$PACKAGES"
cp "$RUNTIME"/{ondaspa,ondaspa-cli}.exe "$RUNTIME"/{Qt5Core,Qt5Gui,Qt5Widgets,Qt5Network}.dll \
    "$RUNTIME"/{libssl-3,libcrypto-3,libgcc_s_dw2-1,libstdc++-6,libwinpthread-1}.dll "$STAGE/"
cp "$RUNTIME/platforms/qwindows.dll" "$STAGE/platforms/"
cp "$RUNTIME/imageformats/qico.dll" "$STAGE/imageformats/"
cp "$RUNTIME/styles/qwindowsvistastyle.dll" "$STAGE/styles/"
cp /usr/share/qt5/translations/qtbase_zh_CN.qm "$STAGE/translations/"
sed 's/$/\r/' "$ROOT/resources/windows/README.txt" >"$STAGE/README.txt"

# The installer's file lists: the uninstaller removes exactly these, so whatever users
# added to html\ and sound\ stays (a folder goes only once it is empty).
LISTS=$BUILD/stage/lists
mkdir -p "$LISTS"
backslashed() { echo "${1//\//\\}"; }
(
    cd "$STAGE"
    find . -mindepth 1 -type d | sort | while read -r folder; do
        echo "CreateDirectory \"\$INSTDIR\\$(backslashed "${folder#./}")\""
    done
    find . -type f | sort | while read -r file; do
        file=${file#./}
        folder=$(dirname "$file")
        [ "$folder" = . ] && echo 'SetOutPath "$INSTDIR"' ||
            echo "SetOutPath \"\$INSTDIR\\$(backslashed "$folder")\""
        echo "File \"$STAGE/$file\""
    done
    echo 'SetOutPath "$INSTDIR"'
) >"$LISTS/install.nsh"
(
    cd "$STAGE"
    find . -type f | sort | while read -r file; do
        echo "Delete \"\$INSTDIR\\$(backslashed "${file#./}")\""
    done
    find . -mindepth 1 -type d | sort -r | while read -r folder; do
        echo "RMDir \"\$INSTDIR\\$(backslashed "${folder#./}")\""
    done
) >"$LISTS/uninstall.nsh"

rm -f "$PACKAGES/$NAME.zip" "$PACKAGES/$NAME-setup.exe"
(cd "$BUILD/stage" && zip -qr -X "$PACKAGES/$NAME.zip" "$NAME")
makensis -V2 -DVERSION="$VERSION" -DFILES="$LISTS" -DOUTFILE="$PACKAGES/$NAME-setup.exe" \
    -DICON="$ROOT/resources/icons/ondaspa.ico" "$ROOT/resources/windows/ondaspa.nsi"
ls -l "$PACKAGES/$NAME.zip" "$PACKAGES/$NAME-setup.exe"
