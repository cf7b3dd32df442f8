#!/usr/bin/env bash
# Provides OpenSSL 3.0 and Qt 5.15.8 (qtbase) cross-built for 32-bit Windows with Debian's
# mingw-w64 (posix threads), from the upstream sources in Debian's source packages. The tree
# lives in a cache outside any build folder and is built only when no tree of this recipe
# and these source versions is there (about 15 minutes on 2 cores).
# Usage: scripts/windows/qt.sh                        prints the tree's path, building it if needed
#        scripts/windows/qt.sh --seed ARCHIVE SUMS    fills the cache from a prebuilt tree whose
#                                                     sha256 SUMS lists; refuses any other
# Env:   ONDASPA_QT_MINGW_PREFIX  the tree's folder (default: a recipe-named one in the user cache)
# Progress goes to stderr; stdout carries only the path.
set -euo pipefail

# --- recipe: every line up to the end marker shapes the tree; its hash names the cache ---
CROSS=i686-w64-mingw32-
QT_PACKAGE=qtbase-opensource-src QT_UPSTREAM=5.15.8+dfsg
OPENSSL_PACKAGE=openssl OPENSSL_UPSTREAM=3.0.20

build_openssl() { # SOURCE PREFIX
    (cd "$1" && CC=gcc-posix CXX=g++-posix ./Configure mingw shared no-tests \
        --cross-compile-prefix="$CROSS" --prefix="$2" --libdir=lib \
        && make -j"$(nproc)" build_sw && make install_sw)
}

build_qtbase() { # SOURCE BUILD PREFIX
    mkdir -p "$2"
    (cd "$2" && "$1/configure" -xplatform win32-g++ -device-option CROSS_COMPILE="$CROSS" \
        -prefix "$3" -opensource -confirm-license -release -shared -strip \
        -nomake examples -nomake tests -no-opengl -no-icu -no-dbus -no-direct2d \
        -no-feature-tabletevent -no-pkg-config \
        -openssl-linked OPENSSL_PREFIX="$3" OPENSSL_LIBS="-lssl -lcrypto" \
        -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz \
        -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql \
        && make -j"$(nproc)" && make install)
}
# --- end of recipe ---

SELF=$(readlink -f "${BASH_SOURCE[0]}")
RECIPE_HASH=$(sed -n '/^# --- recipe/,/^# --- end of recipe/p' "$SELF" | sha256sum | cut -c1-12)
PREFIX=${ONDASPA_QT_MINGW_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/ondaspa/qt-mingw-i686-$RECIPE_HASH}
STAMP_FILE=$PREFIX/.ondaspa-recipe
STAMP="recipe $RECIPE_HASH qtbase $QT_UPSTREAM openssl $OPENSSL_UPSTREAM"
# Rough compile counts of a full run, for the progress lines.
OPENSSL_UNITS=1900 QT_UNITS=1500

note() { echo "qt.sh: $*" >&2; }
fail() {
    note "$*"
    exit 1
}

# Counts the compiler runs in a build's output instead of showing them.
progress() { # LABEL TOTAL
    local count=0 line
    while IFS= read -r line; do
        case $line in *' -c '*)
            count=$((count + 1))
            if [ $((count % 100)) -eq 0 ]; then
                note "  $1: $count of about $2 files compiled ($((SECONDS / 60)) min)"
            fi ;;
        esac
    done
}

run_logged() { # LABEL TOTAL LOG COMMAND...
    local label=$1 total=$2 log=$3
    shift 3
    note "$label (log: $log)"
    if ! "$@" 2>&1 | tee -a "$log" | progress "$label" "$total"; then
        tail -n 30 "$log" >&2
        fail "$label failed; the whole log is $log"
    fi
}

# The upstream tarball of PACKAGE at UPSTREAM, as Debian ships it; unpacked into DIR.
fetch_source() { # PACKAGE UPSTREAM DIR
    local version
    version=$(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | grep -m1 -F "$2-") \
        || fail "Debian offers no $1 source of upstream $2 (is deb-src enabled? scripts/windows/setup.sh)"
    (cd "$3" && apt-get source -qq --download-only -o APT::Sandbox::User=root "$1=$version" \
        && tar xf "${1}_${2}".orig.tar.?z) || fail "could not fetch the $1 source $version"
}

# The parts the project relies on, and the versions and features the recipe asks for.
check_tree() { # DIR
    local file
    for file in bin/Qt5Core.dll bin/Qt5Gui.dll bin/Qt5Widgets.dll bin/Qt5Network.dll \
        bin/Qt5Test.dll bin/libssl-3.dll bin/libcrypto-3.dll bin/moc bin/uic bin/rcc \
        plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll \
        plugins/platforms/qminimal.dll plugins/imageformats/qico.dll lib/cmake/Qt5/Qt5Config.cmake; do
        [ -e "$1/$file" ] || fail "$1 lacks $file"
    done
    grep -q "PACKAGE_VERSION ${QT_UPSTREAM%%+*})" "$1/lib/cmake/Qt5Core/Qt5CoreConfigVersion.cmake" \
        || fail "$1 is not Qt ${QT_UPSTREAM%%+*}"
    grep -q "OPENSSL_VERSION_STR \"$OPENSSL_UPSTREAM\"" "$1/include/openssl/opensslv.h" \
        || fail "$1 is not OpenSSL $OPENSSL_UPSTREAM"
    grep -q 'QT_FEATURE_ssl 1' "$1/include/QtNetwork/qtnetwork-config.h" || fail "$1 has no TLS"
    grep -q 'QT_FEATURE_opengl -1' "$1/include/QtGui/qtgui-config.h" || fail "$1 was built with OpenGL"
}

# Removes an old or half-made tree, but nothing this script did not make.
clear_prefix() {
    if [ -n "$(ls -A "$PREFIX" 2>/dev/null)" ] && [ ! -f "$STAMP_FILE" ]; then
        fail "$PREFIX holds files that are not a tree of this script; not replacing them"
    fi
    rm -rf "$PREFIX"
}

build_tree() {
    local work=$PREFIX.work
    note "no Qt for this recipe in $PREFIX: building OpenSSL $OPENSSL_UPSTREAM and Qt $QT_UPSTREAM"
    note "from Debian's sources; this takes about 15 minutes on 2 cores, once per recipe"
    clear_prefix
    rm -rf "$work"
    mkdir -p "$work" "$PREFIX"
    echo incomplete >"$STAMP_FILE"
    fetch_source "$OPENSSL_PACKAGE" "$OPENSSL_UPSTREAM" "$work"
    fetch_source "$QT_PACKAGE" "$QT_UPSTREAM" "$work"
    run_logged "OpenSSL" "$OPENSSL_UNITS" "$work/openssl.log" \
        build_openssl "$work/openssl-$OPENSSL_UPSTREAM" "$PREFIX"
    run_logged "qtbase" "$QT_UNITS" "$work/qtbase.log" \
        build_qtbase "$work/qtbase-everywhere-src-${QT_UPSTREAM%%+*}" "$work/build" "$PREFIX"
    check_tree "$PREFIX"
    rm -rf "$work"
    note "built in $((SECONDS / 60)) min"
}

seed_tree() { # ARCHIVE SUMS
    local archive=$1 sums=$2 expected actual top
    expected=$(awk -v name="$(basename "$archive")" '$2 == name || $2 == "*" name { print $1 }' "$sums")
    actual=$(sha256sum "$archive" | cut -d' ' -f1)
    [ -n "$expected" ] || fail "$sums does not list $(basename "$archive")"
    [ "$expected" = "$actual" ] || fail "$archive does not match its checksum in $sums"
    clear_prefix
    # Global, not local: the exit trap that removes it runs after this function has returned.
    SEED_UNPACK=$(mktemp -d "$PREFIX.seed.XXXXXX")
    trap 'rm -rf "$SEED_UNPACK"' EXIT
    local unpack=$SEED_UNPACK
    tar xJf "$archive" -C "$unpack"
    top=$(find "$unpack" -mindepth 1 -maxdepth 1 -type d)
    [ "$(echo "$top" | wc -l)" -eq 1 ] || fail "$archive holds more than one tree"
    check_tree "$top"
    mv "$top" "$PREFIX"
    note "seeded from $archive in $SECONDS s"
}

mkdir -p "$(dirname "$PREFIX")"
# One build or seed at a time per cache folder.
exec 9>"$PREFIX.lock"
flock 9
if [ "$(cat "$STAMP_FILE" 2>/dev/null)" != "$STAMP" ]; then
    if [ "${1:-}" = --seed ]; then
        [ $# -eq 3 ] || fail "usage: qt.sh --seed ARCHIVE SHA256SUMS"
        seed_tree "$2" "$3"
    else
        build_tree
    fi
    echo "$STAMP" >"$STAMP_FILE"
fi
echo "$PREFIX"
