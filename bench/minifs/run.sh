#!/usr/bin/env bash
# Builds bench_minifs in build/ and runs it. The data sets (about 410 MiB) are
# created under ${1:-/tmp} one at a time and removed after each set.
set -euo pipefail
ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cmake -S "$ROOT_DIR" -B "$ROOT_DIR/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT_DIR/build" --target bench_minifs -j2 >/dev/null
"$ROOT_DIR/build/bench/minifs/bench_minifs" "${1:-/tmp}"
