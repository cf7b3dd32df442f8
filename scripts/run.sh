#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ondaspa.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BASE_PACKAGES[@]}" libcap2-bin
BUILD_TARGETS=(ondaspa)
configure_and_build "$ROOT_DIR/build"

PROGRAM="$ROOT_DIR/build/app/ondaspa"
# The devices fetch their images from port 81, below 1024: a normal user's
# process may bind it only with this capability. A rebuild replaces the file
# and drops it, so it is granted again after every build.
if ! PATH="$PATH:/usr/sbin:/sbin" getcap "$PROGRAM" | grep -q cap_net_bind_service; then
    if [ "$(id -u)" -eq 0 ]; then
        PATH="$PATH:/usr/sbin:/sbin" setcap cap_net_bind_service=+ep "$PROGRAM" \
            || echo "Could not grant $PROGRAM the right to bind port 81 (setcap failed)." >&2
    else
        echo "$PROGRAM may not bind port 81 for a normal user; grant it once as root:" >&2
        echo "  setcap cap_net_bind_service=+ep $PROGRAM" >&2
    fi
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Built $PROGRAM, but there is no display to show it on." >&2
    echo "Start it under a virtual display instead:  xvfb-run -a $PROGRAM" >&2
    echo "(xvfb-run comes with the Debian package xvfb.)" >&2
    exit 1
fi
exec "$PROGRAM"
