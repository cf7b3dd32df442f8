#!/usr/bin/env bash
# Runs a QtTest program under wine with its log written to a file, then prints the log: what
# such a program writes to a pipe under wine arrives empty. The program's exit status is this
# script's. --terminal starts it on a terminal (tests/common/on-terminal.sh).
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
"${start[@]}" "$@" -o "Z:$log,txt"
status=$?
cat "$log"
exit "$status"
