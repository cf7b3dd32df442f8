#!/usr/bin/env bash
# Builds bench_sound in build/, installs ffmpeg (its yardstick) when missing,
# and runs it. The files (about 600 MiB) go under ${1:-/tmp} and are removed
# at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/setup.sh"
ensure_packages "${BASE_PACKAGES[@]}" ffmpeg util-linux
BUILD_TARGETS=(bench_sound)
configure_and_build "$ROOT_DIR/build" >/dev/null
"$ROOT_DIR/build/bench/sound/bench_sound" "${1:-/tmp}"
