#!/usr/bin/env bash
# Runs a QtTest program under wine with its log written to a file, then prints the log: what
# such a program writes to a pipe under wine arrives empty. The status is the program's; a
# program that has written its totals but is still there 10 s later (seen under wine 8.0
# with threads that waited on sockets) is stopped, and its totals decide the status.
# --terminal starts it on a terminal (tests/common/on-terminal.sh).
# Usage: tests/common/wine-qtest.sh [--terminal] EMULATOR... PROGRAM.exe
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
start=()
if [ "${1:-}" = --terminal ]; then
    start=("$HERE/on-terminal.sh")
    shift
fi
log=$(mktemp --suffix=.txt)
trap 'rm -f "$log"' EXIT
# Its own output goes into the log; a lingering process must not hold CTest's pipe.
"${start[@]}" "$@" -o "Z:$log,txt" >/dev/null 2>&1 &
program=$!
lingered=0
while kill -0 "$program" 2>/dev/null; do
    if grep -q '^\*\*\*\*\*\*\*\*\* Finished testing' "$log" 2>/dev/null; then
        lingered=$((lingered + 1))
        if [ "$lingered" -gt 20 ]; then
            echo "wine-qtest.sh: the program stayed 10 s after its last case; stopped" >&2
            kill "$program" 2>/dev/null
            wait "$program" 2>/dev/null
            cat "$log"
            grep -qE '^Totals: [0-9]+ passed, 0 failed' "$log"
            exit $?
        fi
    fi
    sleep 0.5
done
wait "$program"
status=$?
cat "$log"
exit "$status"
