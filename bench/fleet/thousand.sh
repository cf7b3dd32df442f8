#!/usr/bin/env bash
# A thousand devices in one run: `ondaspa-cli upgrade fs --all --parallel 64`
# against 1000 simulated devices on one /22, each reading a 1 MiB image at a
# simulated rate.
#
#   bench/fleet/thousand.sh [RATE]   (root: everything runs inside private network
#                                     namespaces; RATE in bytes a second, default 1048576)
#
# Yardstick, measured in the same run: one device alone (`--ip`), from its
# command to its end. Printed: devices found of those started and the replies
# the system dropped, the run's time (first command to last end) against
# ceil(1000/64) x the yardstick, the command's CPU seconds and peak resident
# memory, downloads verified and 503 answers. Targets: every device found, all
# verified, no 503, peak memory under 64 MiB, time within 1.3 x the ideal.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEVICES=1000
PARALLEL=64
# ondaspa-devsim simulates at most 254 devices per process.
PER_PROCESS=250
PREFIXES=(SNA SNB SNC SND)
IMAGE_SIZE=$((1024 * 1024))
MEMORY_TARGET_MIB=64
TIME_FACTOR=1.3
# Bounds of each step, in seconds.
COMMAND_LIMIT=300

if [ "${1:-}" != "--inside" ]; then
    source "$HERE/../../scripts/setup.sh"
    if [ $# -gt 1 ] || { [ $# -eq 1 ] && ! [[ $1 =~ ^[0-9]+$ ]]; }; then
        echo "usage: bench/fleet/thousand.sh [RATE]" >&2
        exit 2
    fi
    ensure_packages "${BASE_PACKAGES[@]}" iproute2 time
    BUILD_TARGETS=(ondaspa-cli ondaspa-devsim)
    configure_and_build "$ROOT_DIR/build"
    if ! unshare -n true 2>/dev/null; then
        echo "thousand.sh: cannot create a private network namespace (run as root); the" \
             "search broadcasts and the devices need port 53, so the benchmark runs only inside one." >&2
        exit 1
    fi
    exec unshare -n "$0" --inside "$ROOT_DIR" "${1:-1048576}"
fi

ROOT=$2
RATE=$3
BUILD=$ROOT/build
source "$ROOT/scripts/netns.sh"
WORK=$(mktemp -d /tmp/ondaspa-fleet1000.XXXXXX)
trap 'netns_stop_all; rm -rf "$WORK"' EXIT

netns_devices_up "$DEVICES" 22
mkdir -p "$WORK/html"
head -c "$IMAGE_SIZE" /dev/urandom >"$WORK/html/minifs_rom.img"
SHA=$(sha256sum "$WORK/html/minifs_rom.img" | cut -d' ' -f1)

for ((p = 0; p < DEVICES / PER_PROCESS; p++)); do
    in_devices_background "$WORK/devices$p.log" "$BUILD/tools/devsim/ondaspa-devsim" \
        --count "$PER_PROCESS" --sn "${PREFIXES[$p]}" --bind "$(netns_address $((2 + p * PER_PROCESS)))" \
        --rate "$RATE" --verify "$SHA"
done
for _ in $(seq 200); do
    [ "$(cat "$WORK"/devices*.log | grep -c '^listening')" -eq $((DEVICES / PER_PROCESS)) ] && break
    sleep 0.05
done
[ "$(cat "$WORK"/devices*.log | grep -c '^listening')" -eq $((DEVICES / PER_PROCESS)) ] \
    || { echo "the simulators did not start:"; cat "$WORK"/devices*.log; exit 1; }

device_lines() { cat "$WORK"/devices*.log | grep -c "$1" || true; }
# The last bytes reach the devices after the server has handed them over.
wait_verified() {
    for _ in $(seq 300); do
        [ "$(device_lines 'verify ')" -ge "$1" ] && break
        sleep 0.1
    done
}
summary_field() { grep '"event":"summary"' "$1" | sed -nE "s/.*\"$2\":([0-9.]+).*/\1/p"; }

# The yardstick: one device alone, at the same rate.
timeout "$COMMAND_LIMIT" "$BUILD/tools/cli/ondaspa-cli" upgrade fs --ip 198.18.0.2 \
    --folder "$WORK/html" --json >"$WORK/alone" 2>/dev/null || true
wait_verified 1
alone=$(summary_field "$WORK/alone" seconds)
[ -n "$alone" ] || { echo "the single device's run did not finish:"; cat "$WORK/alone"; exit 1; }

set +e
/usr/bin/time -o "$WORK/time" -f '%e %U %S %M' timeout "$COMMAND_LIMIT" \
    "$BUILD/tools/cli/ondaspa-cli" upgrade fs --all --parallel "$PARALLEL" --folder "$WORK/html" \
    --json >"$WORK/events" 2>"$WORK/errors"
status=$?
set -e
wait_verified $((DEVICES + 1))

read -r wall user system peak_kib <"$WORK/time"
found=$(grep -c '"event":"found"' "$WORK/events" || true)
dropped=$(sed -nE 's/.*"event":"discovered".*"dropped":([0-9]+|null).*/\1/p;
                   s/.*"dropped":([0-9]+|null).*"event":"discovered".*/\1/p' "$WORK/events" | head -n 1)
succeeded=$(summary_field "$WORK/events" succeeded)
failed=$(summary_field "$WORK/events" failed)
run_seconds=$(summary_field "$WORK/events" seconds)
status503=$(device_lines 'status 503')
# The single device's download is verified too.
verified=$(($(device_lines 'verify ok') - 1))
peak_mib=$((peak_kib / 1024))
rounds=$(((DEVICES + PARALLEL - 1) / PARALLEL))
ideal=$(awk -v r="$rounds" -v a="$alone" 'BEGIN { printf "%.2f", r * a }')
ratio=$(awk -v t="${run_seconds:-0}" -v i="$ideal" 'BEGIN { printf "%.2f", t / i }')

echo "$DEVICES devices on a /22, 1 MiB image read at $RATE B/s each, --parallel $PARALLEL" \
     "(exit status $status, load average $(cut -d' ' -f1-3 /proc/loadavg)):"
echo "  found: $found of $DEVICES started; replies dropped by the system: ${dropped:-?}"
echo "  one device alone: $alone s; ideal $rounds x $alone = $ideal s"
echo "  run: ${run_seconds:-?} s from the first command to the last end, ${ratio}x the ideal" \
     "(target at most ${TIME_FACTOR}x); ${wall} s for the whole command with the search"
echo "  CPU: $(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }') s" \
     "(user $user s, system $system s); peak resident memory: $peak_mib MiB"
echo "  devices: ${succeeded:-0} file sent, ${failed:-?} failed; $verified verified byte-exact;" \
     "$status503 answers 503"
if [ "$found" = "$DEVICES" ] && [ "${succeeded:-0}" = "$DEVICES" ] && [ "$verified" = "$DEVICES" ] \
        && [ "$status503" = 0 ] && [ "$peak_mib" -lt "$MEMORY_TARGET_MIB" ] \
        && awk -v r="$ratio" -v f="$TIME_FACTOR" 'BEGIN { exit !(r > 0 && r <= f) }'; then
    echo "  targets (all found and verified, no 503, under $MEMORY_TARGET_MIB MiB," \
         "within ${TIME_FACTOR}x): met"
else
    echo "  targets (all found and verified, no 503, under $MEMORY_TARGET_MIB MiB," \
         "within ${TIME_FACTOR}x): NOT met"
    tail -n 20 "$WORK/errors"
fi
