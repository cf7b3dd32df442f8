#!/usr/bin/env bash
# Renders every window under Xvfb to PNG files in build/screenshots/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BASE_PACKAGES[@]}" xvfb xauth
BUILD_TARGETS=(ondaspa-screenshot)
configure_and_build "$ROOT_DIR/build"

OUT="$ROOT_DIR/build/screenshots"
mkdir -p "$OUT"
# Run in the output folder so the settings file lands there, not in the tree.
cd "$OUT"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$ROOT_DIR/build/tools/screenshot/ondaspa-screenshot" "$OUT"
