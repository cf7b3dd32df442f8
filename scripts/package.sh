#!/usr/bin/env bash
# Builds the Debian package and the portable archive into build/packages/.
# Reuses build/: only the installed programs and the manual pages are built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BASE_PACKAGES[@]}" dpkg-dev file help2man gzip
# Configure again even when build/ exists: a tree configured before help2man
# was installed then finds it.
cmake -S "$ROOT_DIR" -B "$ROOT_DIR/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
BUILD_TARGETS=(ondaspa ondaspa-cli ondaspa-devsim ondaspa_package_files)
configure_and_build "$ROOT_DIR/build"

PACKAGES="$ROOT_DIR/build/packages"
rm -f "$PACKAGES"/*.deb "$PACKAGES"/*.tar.gz
(cd "$ROOT_DIR/build" && cpack --config CPackConfig.cmake)
ls -l "$PACKAGES"/*.deb "$PACKAGES"/*.tar.gz
