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
library=$(dirname "${BASH_SOURCE[0]}")/../../scripts/netns.sh
source "$library"
netns_require

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unshare -n bash -s "$library" "$work" "$@" <<'INSIDE'
set -u
source "$1"
work=$2
devsim=$3
check=$4
shift 4

netns_devices_up 2

# Both keep what they download for the check to compare.
in_devices_background "$work/a.log" "$devsim" --sn E2E-A --ver 1.0 --bind 198.18.0.2 "$@" \
    --save "$work/a"
in_devices_background "$work/b.log" "$devsim" --sn E2E-B --snd 7 --bind 198.18.0.3 \
    --save "$work/b"

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
status=$?
# The simulators must end with the check: left running, each would keep its namespace alive.
if pgrep -f -- "--save $work/" >/dev/null; then
    echo "simulators still running after the check:"
    pgrep -af -- "--save $work/"
    pkill -f -- "--save $work/"
    exit 1
fi
exit $status
