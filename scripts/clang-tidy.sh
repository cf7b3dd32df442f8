#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy on the project's own sources
# (app, base, minifs, sound, upgrade, fleet, httpserver, tools; not the tests, not generated
# code) and fails on any finding, so a new one stops CI.
#   scripts/clang-tidy.sh [BUILD_DIR]   default build/; configured and built
#                                       first (clang-tidy reads its
#                                       compile_commands.json and generated headers)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

BUILD_DIR=${1:-$ROOT_DIR/build}
ensure_packages "${BASE_PACKAGES[@]}" clang-tidy
BUILD_TARGETS=()
configure_and_build "$BUILD_DIR"

# The sources this platform compiles: those listed in the compile database.
mapfile -t sources < <(
    cd "$ROOT_DIR"
    find app base minifs sound upgrade fleet httpserver tools -name '*.cpp' | sort |
        while read -r file; do
            grep -qF "\"file\": \"$ROOT_DIR/$file\"" "$BUILD_DIR/compile_commands.json" &&
                echo "$ROOT_DIR/$file"
        done
)
REPORTS=$(mktemp -d)
trap 'rm -rf "$REPORTS"' EXIT

started=$SECONDS
# One process per file, two at a time; each writes its own report.
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} sh -c \
    'clang-tidy -p "$1" --quiet "$2" >"$3/$(echo "$2" | tr / _).txt" 2>/dev/null || true' \
    _ "$BUILD_DIR" {} "$REPORTS"

cat "$REPORTS"/*.txt >"$REPORTS/all"
findings=$(grep -cE '^.+:[0-9]+:[0-9]+: (warning|error):' "$REPORTS/all" || true)
echo "clang-tidy: ${#sources[@]} files in $((SECONDS - started)) s, $findings finding(s)"
if [ "$findings" -ne 0 ]; then
    cat "$REPORTS/all"
    exit 1
fi
