#!/usr/bin/env bash
# Makes the Windows packages (scripts/windows/package.sh) and checks them without a
# Windows machine: the ZIP's file list; every program and DLL imports only DLLs that are
# shipped or part of Windows; the programs' version resources and manifests; the
# installer's contents; and the installer run silently under wine, into a folder of its
# own, then uninstalled: the files, the Start-menu entry and the "Apps and features" entry
# come and go, and an image a user built stays.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build-win32
source "$HERE/../setup.sh"
source "$HERE/wine-env.sh"

ensure_packages p7zip-full binutils-mingw-w64-i686
"$HERE/package.sh"
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
NAME=ondaspa-$VERSION-win32
ZIP=$BUILD/packages/$NAME.zip
SETUP=$BUILD/packages/$NAME-setup.exe
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
source "$HERE/../check-lines.sh"

# --- The ZIP: one folder with everything the programs load.
PROGRAM_FILES=(ondaspa.exe ondaspa-cli.exe Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll Qt5Network.dll
    libssl-3.dll libcrypto-3.dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll
    platforms/qwindows.dll imageformats/qico.dll styles/qwindowsvistastyle.dll
    translations/qtbase_zh_CN.qm README.txt)
unzip -Z1 "$ZIP" >"$WORK/zip-list"
for file in "${PROGRAM_FILES[@]}" html/ sound/; do
    check "ZIP holds $NAME/$file" grep -qxF "$NAME/$file" "$WORK/zip-list"
done
check "ZIP holds one folder" test "$(cut -d/ -f1 "$WORK/zip-list" | sort -u)" = "$NAME"
check "ZIP holds no test pieces" bash -c "! grep -qiE 'Qt5Test|qoffscreen|tst_' '$WORK/zip-list'"

# --- Imports: each name is shipped or part of Windows.
unzip -q "$ZIP" -d "$WORK/zip"
TREE=$WORK/zip/$NAME
grep -v '^#' "$ROOT/resources/windows/system-dlls" >"$WORK/allowed"
find "$TREE" -maxdepth 1 -name '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z' >>"$WORK/allowed"
while read -r binary; do
    relative=${binary#"$TREE/"}
    missing=$(i686-w64-mingw32-objdump -p "$binary" | sed -n 's/^\tDLL Name: //p' |
        tr 'A-Z' 'a-z' | grep -vxFf "$WORK/allowed" || true)
    check "$relative imports only shipped or system DLLs${missing:+ (not: $missing)}" test -z "$missing"
done < <(find "$TREE" -name '*.exe' -o -name '*.dll' | sort)

# --- Version resources and manifests of the two programs.
for program in ondaspa ondaspa-cli; do
    strings -el "$TREE/$program.exe" >"$WORK/$program.utf16"
    check "$program.exe: product Ondaspa" grep -qxF Ondaspa "$WORK/$program.utf16"
    check "$program.exe: version $VERSION" grep -qxF "$VERSION" "$WORK/$program.utf16"
    check "$program.exe: its own file name" grep -qxF "$program.exe" "$WORK/$program.utf16"
    check "$program.exe: manifest asInvoker" grep -qF 'level="asInvoker"' <(strings "$TREE/$program.exe")
    check "$program.exe: manifest long-path aware" grep -qF '<longPathAware' <(strings "$TREE/$program.exe")
done
subsystem() { i686-w64-mingw32-objdump -p "$1" | awk '$1 == "Subsystem" { print $2 }'; }
check "ondaspa.exe has no console (GUI subsystem)" test "$(subsystem "$TREE/ondaspa.exe")" = 00000002
check "ondaspa-cli.exe is a console program" test "$(subsystem "$TREE/ondaspa-cli.exe")" = 00000003

# --- The installer's contents, read without running it.
7z l -ba "$SETUP" >"$WORK/setup-list" 2>&1 || true
for file in ondaspa.exe ondaspa-cli.exe Qt5Widgets.dll platforms/qwindows.dll translations/qtbase_zh_CN.qm; do
    check "installer holds $file" grep -qF "$file" "$WORK/setup-list"
done
check "installer: version $VERSION" grep -qxF "$VERSION" <(strings -el "$SETUP")

# --- Installed and uninstalled under wine, in a prefix of the check's own.
wine_env "$WORK/wine" >/dev/null
INSTALLED="C:\\OndaspaCheck"
UNIX_INSTALLED="$WINEPREFIX/drive_c/OndaspaCheck"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ondaspa'
registered() { wine reg query "$UNINSTALL_KEY" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "$VERSION"; }
unregistered() { ! registered; }
timeout 120 wine "$SETUP" /S "/D=$INSTALLED" >/dev/null 2>&1 && wineserver -w
for file in "${PROGRAM_FILES[@]}" uninstall.exe; do
    check "installed $file" test -f "$UNIX_INSTALLED/$file"
done
check "installed html and sound folders" test -d "$UNIX_INSTALLED/html" -a -d "$UNIX_INSTALLED/sound"
check "Start-menu entry" test -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ondaspa.lnk"
check "registered with version $VERSION in Apps and features" registered
check "installed program runs" bash -c "QT_QPA_PLATFORM=offscreen timeout 60 wine '$UNIX_INSTALLED/ondaspa-cli.exe' --version | grep -qF '$VERSION'"
# /D= takes no quotes, so the folder has no space in it.
echo user-image >"$UNIX_INSTALLED/html/minifs_rom.img" || true
timeout 120 wine "$UNIX_INSTALLED/uninstall.exe" /S >/dev/null 2>&1 && wineserver -w
# The uninstaller copies itself away and runs from there: wait until it is done.
for _ in $(seq 30); do [ -f "$UNIX_INSTALLED/ondaspa.exe" ] || break; sleep 1; done
wineserver -w
check "uninstall keeps the user's image" test "$(cat "$UNIX_INSTALLED/html/minifs_rom.img" 2>/dev/null)" = user-image
left=$(cd "$UNIX_INSTALLED" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')
check "uninstall removes everything else (left: $left)" test "$left" = "./html ./html/minifs_rom.img "
check "uninstall removes the Start-menu entry" test ! -e "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ondaspa.lnk"
check "uninstall removes the Apps and features entry" unregistered
wineserver -k 2>/dev/null || true

echo "ZIP $(stat -c %s "$ZIP") bytes, installer $(stat -c %s "$SETUP") bytes"
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "Windows packages: all checks passed"
