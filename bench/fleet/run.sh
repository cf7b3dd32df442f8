#!/usr/bin/env bash
# Fleet upgrade benchmark: `ondaspa-cli upgrade fs --all --parallel 100` against
# 100 simulated devices reading at full speed, a 1 MiB image.
#
#   bench/fleet/run.sh       (root: everything runs inside private network namespaces)
#
# Printed: the wall time of the command and of its run (first command to last
# end), the command's CPU seconds (user + system) and peak resident memory,
# failed devices, 503 answers and downloads that did not verify. Targets: peak
# memory under 64 MiB, no failed device, no 503.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEVICES=100
IMAGE_SIZE=$((1024 * 1024))
MEMORY_TARGET_MIB=64

if [ "${1:-}" != "--inside" ]; then
    source "$HERE/../../scripts/setup.sh"
    if [ $# -ne 0 ]; then
        echo "usage: bench/fleet/run.sh" >&2
        exit 2
    fi
    ensure_packages "${BASE_PACKAGES[@]}" iproute2 time
    BUILD_TARGETS=(ondaspa-cli ondaspa-devsim)
    configure_and_build "$ROOT_DIR/build"
    if ! unshare -n true 2>/dev/null; then
        echo "run.sh: cannot create a private network namespace (run as root); the" \
             "search broadcasts and the devices need port 53, so the benchmark runs only inside one." >&2
        exit 1
    fi
    exec unshare -n "$0" --inside "$ROOT_DIR"
fi

ROOT=$2
BUILD=$ROOT/build
source "$ROOT/scripts/netns.sh"
WORK=$(mktemp -d /tmp/ondaspa-fleet.XXXXXX)
trap 'netns_stop_all; rm -rf "$WORK"' EXIT

netns_devices_up "$DEVICES"
mkdir -p "$WORK/html"
# The benchmark's runs stay out of the user's run history.
export XDG_DATA_HOME="$WORK/data"
head -c "$IMAGE_SIZE" /dev/urandom >"$WORK/html/minifs_rom.img"
SHA=$(sha256sum "$WORK/html/minifs_rom.img" | cut -d' ' -f1)

in_devices_background "$WORK/devices.log" "$BUILD/tools/devsim/ondaspa-devsim" \
    --count "$DEVICES" --bind 198.18.0.2 --verify "$SHA"
for _ in $(seq 200); do
    grep -q '^listening' "$WORK/devices.log" && break
    sleep 0.05
done
grep -q '^listening' "$WORK/devices.log" || { echo "the simulator did not start:"; cat "$WORK/devices.log"; exit 1; }

set +e
/usr/bin/time -o "$WORK/time" -f '%e %U %S %M' \
    "$BUILD/tools/cli/ondaspa-cli" upgrade fs --all --parallel "$DEVICES" --folder "$WORK/html" \
    --json >"$WORK/events" 2>"$WORK/errors"
status=$?
set -e
# The last bytes reach the devices after the server has handed them over.
for _ in $(seq 100); do
    [ "$(grep -c 'verify ' "$WORK/devices.log")" -ge "$DEVICES" ] && break
    sleep 0.1
done

read -r wall user system peak_kib <"$WORK/time"
summary=$(grep '"event":"summary"' "$WORK/events" || true)
field() { sed -nE "s/.*\"$1\":([0-9.]+).*/\1/p" <<<"$summary"; }
succeeded=$(field succeeded)
failed=$(field failed)
run_seconds=$(field seconds)
status503=$(grep -c 'status 503' "$WORK/devices.log" || true)
verified=$(grep -c 'verify ok' "$WORK/devices.log" || true)
peak_mib=$((peak_kib / 1024))

echo "$DEVICES devices, 1 MiB image, --parallel $DEVICES (exit status $status):"
echo "  wall time: ${wall} s for the command (2 s of it the search), ${run_seconds:-?} s" \
     "from the first command to the last end"
echo "  server CPU: $(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }') s" \
     "(user $user s, system $system s)"
echo "  peak resident memory: $peak_mib MiB"
echo "  devices: ${succeeded:-0} file sent, ${failed:-?} failed; $verified verified;" \
     "$status503 answers 503"
if [ "$peak_mib" -lt "$MEMORY_TARGET_MIB" ] && [ "${failed:-1}" = 0 ] \
        && [ "${succeeded:-0}" = "$DEVICES" ] && [ "$status503" = 0 ] && [ "$verified" = "$DEVICES" ]; then
    echo "  targets (under $MEMORY_TARGET_MIB MiB, no failed device, no 503): met"
else
    echo "  targets (under $MEMORY_TARGET_MIB MiB, no failed device, no 503): NOT met"
    tail -n 20 "$WORK/errors"
fi
