# Shared steps of the checks that run inside private network namespaces;
# sourced, not run.
#
#   netns_require            outside any namespace: exits 77 (skipped), saying
#                            why, where namespaces cannot be made
#   netns_devices_up COUNT [PREFIX]
#                            inside the program's namespace (unshare -n): brings
#                            lo up, starts a namespace for the devices and joins
#                            the two by a veth pair, 198.18.0.1/PREFIX (default
#                            24; 22 holds 1021 devices) on this side and COUNT
#                            addresses from 198.18.0.2 on the other;
#                            exits 77 when the links cannot be made
#   netns_address N          the Nth address of 198.18.0.0 (N from 0), dotted
#   in_devices COMMAND...    runs COMMAND in the devices' namespace
#   in_devices_background LOG COMMAND...
#                            starts COMMAND there with its output in LOG, and
#                            stops it when the shell exits
#   netns_track PID          stops PID (and waits for it) when the shell exits
#
# Devices sit in a namespace of their own, since addresses local to the
# program's namespace would make the kernel answer from the device's own
# address. Both namespaces vanish with their processes.

netns_skip() {
    echo "SKIP: $* - the namespace end-to-end check did not run"
    exit 77
}

netns_require() {
    command -v unshare >/dev/null || netns_skip "unshare (util-linux) is not installed"
    command -v nsenter >/dev/null || netns_skip "nsenter (util-linux) is not installed"
    command -v ip >/dev/null || netns_skip "ip (iproute2) is not installed"
    unshare -n true 2>/dev/null \
        || netns_skip "cannot create a network namespace (unshare -n failed: needs root or CAP_SYS_ADMIN)"
}

NETNS_PIDS=()
# A stopped process's wait status is not zero: under set -e that must not end the loop early.
netns_stop_all() {
    local pid
    for pid in "${NETNS_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap netns_stop_all EXIT

netns_track() {
    NETNS_PIDS+=("$1")
}

in_devices() {
    nsenter -t "$NETNS_HOLDER" -n "$@"
}

# Started as a plain command, not through the function: a function in the background runs in a
# subshell of its own, and stopping that subshell would leave the command running.
in_devices_background() {
    local log=$1
    shift
    nsenter -t "$NETNS_HOLDER" -n "$@" >"$log" 2>&1 &
    netns_track $!
}

netns_address() {
    local n=$1
    echo "198.$((18 + n / 65536)).$((n / 256 % 256)).$((n % 256))"
}

netns_devices_up() {
    local count=$1 prefix=${2:-24} errors i broadcast
    broadcast=$(netns_address $(((1 << (32 - prefix)) - 1)))
    # Holds the devices' namespace open while the check runs.
    unshare -n sleep 3600 &
    NETNS_HOLDER=$!
    netns_track "$NETNS_HOLDER"
    for _ in $(seq 100); do
        [ "$(readlink /proc/$NETNS_HOLDER/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
        sleep 0.05
    done
    errors=$(mktemp)
    if ! { [ "$(readlink /proc/$NETNS_HOLDER/ns/net)" != "$(readlink /proc/self/ns/net)" ] \
            && ip link set lo up \
            && ip link add va type veth peer name vb \
            && ip link set vb netns "$NETNS_HOLDER" \
            && ip addr add "198.18.0.1/$prefix" brd "$broadcast" dev va \
            && ip link set va up \
            && in_devices ip link set lo up \
            && for ((i = 2; i < count + 2; i++)); do
                echo "addr add $(netns_address "$i")/$prefix brd $broadcast dev vb"
            done | in_devices ip -batch - \
            && in_devices ip link set vb up; } 2>"$errors"; then
        echo "SKIP: cannot set up veth links between namespaces: $(cat "$errors")"
        rm -f "$errors"
        exit 77
    fi
    rm -f "$errors"
    # Let the links come up before anything binds or broadcasts.
    sleep 1
}
