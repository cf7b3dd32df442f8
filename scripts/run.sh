#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ondaspa.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BASE_PACKAGES[@]}"
BUILD_TARGETS=(ondaspa)
configure_and_build "$ROOT_DIR/build"

PROGRAM="$ROOT_DIR/build/app/ondaspa"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Built $PROGRAM, but there is no display to show it on." >&2
    echo "Start it under a virtual display instead:  xvfb-run -a $PROGRAM" >&2
    echo "(xvfb-run comes with the Debian package xvfb.)" >&2
    exit 1
fi
exec "$PROGRAM"
