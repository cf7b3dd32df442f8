#!/usr/bin/env bash
# End-to-end checks of discovery and upgrades: the program's window (and,
# where CHECK starts it, the HTTP server) against two simulated devices,
# inside a private network namespace so that no probe reaches a real network
# and port 81 is free.
#   netns-e2e.sh DEVSIM CHECK [OPTION...]
# DEVSIM is ondaspa-devsim, CHECK the QtTest program that drives the window,
# OPTIONs are extra options of the first simulator (E2E-A), such as --head;
# it finds the simulators' logs and downloads through ONDASPA_E2E_WORK (a.log,
# b.log, a/, b/) or ONDASPA_E2E_LOG_A / ONDASPA_E2E_LOG_B. Exits 77 (skipped)
# where the namespaces cannot be made.
set -u

if [ $# -lt 2 ]; then
    echo "usage: netns-e2e.sh DEVSIM CHECK [OPTION...]" >&2
    exit 2
fi
devsim=$1
check=$2
shift 2

skip() {
    echo "SKIP: $* - the namespace end-to-end check did not run"
    exit 77
}

command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
command -v nsenter >/dev/null || skip "nsenter (util-linux) is not installed"
command -v ip >/dev/null || skip "ip (iproute2) is not installed"
unshare -n true 2>/dev/null || skip "cannot create a network namespace (unshare -n failed: needs root or CAP_SYS_ADMIN)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The program's namespace holds lo and one end of a veth pair; the devices
# sit in a namespace of their own behind the other end, since addresses local
# to the program's namespace would make the kernel answer from the device's
# own address. Both namespaces vanish with their processes.
unshare -n bash -s "$devsim" "$check" "$work" "$@" <<'INSIDE'
set -u
devsim=$1
check=$2
work=$3
shift 3

pids=()
stop_all() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}
trap stop_all EXIT

# Holds the devices' namespace open while the check runs.
unshare -n sleep 600 &
holder=$!
pids+=($holder)
for _ in $(seq 100); do
    [ "$(readlink /proc/$holder/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.05
done

in_devices() { nsenter -t "$holder" -n "$@"; }
if ! { [ "$(readlink /proc/$holder/ns/net)" != "$(readlink /proc/self/ns/net)" ] \
        && ip link set lo up \
        && ip link add va type veth peer name vb \
        && ip link set vb netns "$holder" \
        && ip addr add 198.18.0.1/24 brd 198.18.0.255 dev va \
        && ip link set va up \
        && in_devices ip link set lo up \
        && in_devices ip addr add 198.18.0.2/24 brd 198.18.0.255 dev vb \
        && in_devices ip addr add 198.18.0.3/24 brd 198.18.0.255 dev vb \
        && in_devices ip link set vb up; } 2>"$work/ip.err"; then
    echo "SKIP: cannot set up veth links between namespaces: $(cat "$work/ip.err")"
    exit 77
fi
# Let the links come up before anything binds or broadcasts.
sleep 1

# Both keep what they download for the check to compare.
nsenter -t "$holder" -n "$devsim" --sn E2E-A --ver 1.0 --bind 198.18.0.2 "$@" \
    --save "$work/a" >"$work/a.log" 2>&1 &
pids+=($!)
nsenter -t "$holder" -n "$devsim" --sn E2E-B --snd 7 --bind 198.18.0.3 \
    --save "$work/b" >"$work/b.log" 2>&1 &
pids+=($!)

for log in a b; do
    for _ in $(seq 100); do
        grep -q '^listening' "$work/$log.log" && break
        sleep 0.1
    done
    if ! grep -q '^listening' "$work/$log.log"; then
        echo "simulator $log did not start:"
        cat "$work/$log.log"
        exit 1
    fi
done

QT_QPA_PLATFORM=offscreen ONDASPA_E2E_WORK="$work" ONDASPA_E2E_LOG_A="$work/a.log" \
    ONDASPA_E2E_LOG_B="$work/b.log" "$check"
status=$?
for log in a b; do
    echo "--- simulator $log"
    cat "$work/$log.log"
done
exit $status
INSIDE
