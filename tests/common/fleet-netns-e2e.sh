#!/usr/bin/env bash
# End-to-end checks of fleet upgrades (`ondaspa-cli upgrade`, the window's
# fleet dialog) against fleets of simulated devices, inside private network
# namespaces so that no probe reaches a real network and port 81 is free.
#   fleet-netns-e2e.sh CHECK
# CHECK, the QtTest program, starts the simulators itself in the devices'
# namespace (198.18.0.2 to 198.18.0.61) through nsenter -t $ONDASPA_DEVICES_NS.
# Exits 77 (skipped) where the namespaces cannot be made.
set -u

if [ $# -ne 1 ]; then
    echo "usage: fleet-netns-e2e.sh CHECK" >&2
    exit 2
fi
library=$(dirname "${BASH_SOURCE[0]}")/../../scripts/netns.sh
source "$library"
netns_require

unshare -n bash -s "$library" "$1" <<'INSIDE'
set -u
source "$1"
netns_devices_up 60
ONDASPA_DEVICES_NS=$NETNS_HOLDER "$2"
INSIDE
