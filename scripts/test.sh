#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

BUILD_DIR="$ROOT_DIR/build"
CMAKE_ARGS=()
if [ "${1:-}" = "--sanitize" ]; then
    BUILD_DIR="$ROOT_DIR/build-asan"
    CMAKE_ARGS=(-DENABLE_SANITIZERS=ON)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$ROOT_DIR/scripts/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [ -n "${1:-}" ]; then
    echo "usage: scripts/test.sh [--sanitize]" >&2
    exit 2
fi

# sox and ffmpeg write the WAV files that the compressor must read as editors write them.
ensure_packages "${BASE_PACKAGES[@]}" openssl iproute2 sox ffmpeg
BUILD_TARGETS=()
configure_and_build "$BUILD_DIR" "${CMAKE_ARGS[@]}"

export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j "$JOBS"
