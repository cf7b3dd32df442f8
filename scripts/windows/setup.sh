#!/usr/bin/env bash
# Installs what the Windows cross build needs from Debian: the mingw-w64 compilers (posix
# threads), wine (32-bit), NSIS, and the source-package tooling for Qt and OpenSSL.
# Usage: scripts/windows/setup.sh        (needs root when something is missing; quiet otherwise)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../setup.sh"

WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine64 wine32:i386 nsis zip unzip ninja-build cmake g++ make perl dpkg-dev xz-utils
    fonts-wqy-microhei qttranslations5-l10n)
DEB822=/etc/apt/sources.list.d/debian.sources
LEGACY=/etc/apt/sources.list
LEGACY_SRC=/etc/apt/sources.list.d/deb-src.list

need_root() {
    [ "$(id -u)" -eq 0 ] && return 0
    echo "$1: run scripts/windows/setup.sh once as root" >&2
    exit 1
}

changed=0
# wine32 is an i386 package, so dpkg must accept that architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "i386 packages are not enabled"
    dpkg --add-architecture i386
    changed=1
fi
# `apt-get source` needs deb-src entries beside the binary ones.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    need_root "no deb-src entries for apt-get source"
    if [ -f "$DEB822" ]; then
        sed -i 's/^Types: deb$/Types: deb deb-src/' "$DEB822"
    else
        sed -n 's/^deb /deb-src /p' "$LEGACY" >"$LEGACY_SRC"
    fi
    changed=1
fi
if [ "$changed" -eq 1 ]; then
    apt-get update -qq
fi
ensure_packages "${WINDOWS_PACKAGES[@]}"
