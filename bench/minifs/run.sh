#!/usr/bin/env bash
# Builds bench_minifs in build/, installs genromfs (one of its yardsticks)
# when missing, and runs it. The data sets (about 410 MiB) are created under
# ${1:-/tmp} one at a time and removed after each set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/setup.sh"
ensure_packages "${BASE_PACKAGES[@]}" genromfs
BUILD_TARGETS=(bench_minifs)
configure_and_build "$ROOT_DIR/build" >/dev/null
"$ROOT_DIR/build/bench/minifs/bench_minifs" "${1:-/tmp}"
