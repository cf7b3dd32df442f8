#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time and fails on any finding.
#   tests/fuzz/run.sh NAME SECONDS      NAME: a target of tests/fuzz/targets
# Builds the clang fuzz tree in build-fuzz/ when needed. New inputs go to
# build-fuzz/fuzz-work/NAME/corpus; a crashing input is saved in build-fuzz/fuzz-work/NAME/
# artifacts; copy it into tests/fuzz/crashers/NAME/ so that the replay test keeps it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/setup.sh"

if [ $# -ne 2 ] || ! [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: tests/fuzz/run.sh NAME SECONDS" >&2
    exit 2
fi
NAME=$1
SECONDS_TO_RUN=$2
MAX_LEN=$(awk -v name="$NAME" '$1 == name { print $3 }' "$ROOT_DIR/tests/fuzz/targets")
if [ -z "$MAX_LEN" ]; then
    echo "unknown fuzz target: $NAME" >&2
    exit 2
fi
# Memory ceiling of one fuzzing process, in MB.
RSS_LIMIT_MB=2048
# Longest time for one input, in seconds.
INPUT_TIMEOUT=10

ensure_packages "${BASE_PACKAGES[@]}" clang libclang-rt-14-dev

BUILD_DIR="$ROOT_DIR/build-fuzz"
export CC=clang CXX=clang++
BUILD_TARGETS=("fuzz_$NAME")
configure_and_build "$BUILD_DIR" -DENABLE_FUZZERS=ON

WORK_DIR="$BUILD_DIR/fuzz-work/$NAME"
mkdir -p "$WORK_DIR/corpus" "$WORK_DIR/artifacts" "$WORK_DIR/tmp"
# Uploaded parts become temporary files; keep them apart from the machine's /tmp.
export TMPDIR="$WORK_DIR/tmp"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT_DIR/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

if ! "$BUILD_DIR/tests/fuzz/fuzz_$NAME" \
        -max_total_time="$SECONDS_TO_RUN" -max_len="$MAX_LEN" -rss_limit_mb="$RSS_LIMIT_MB" \
        -timeout="$INPUT_TIMEOUT" -artifact_prefix="$WORK_DIR/artifacts/" -print_final_stats=1 \
        "$WORK_DIR/corpus" "$ROOT_DIR/tests/fuzz/corpus/$NAME"; then
    echo "fuzz_$NAME found a problem; inputs in $WORK_DIR/artifacts/" >&2
    exit 1
fi
