#!/usr/bin/env bash
# Runs a command with a terminal as its input, its output and errors passed through as they
# are: wine gives a console, and with it the console's Ctrl-C, only to a program started on a
# terminal. The command's exit status is this script's.
# Usage: tests/common/on-terminal.sh COMMAND [ARGUMENT...]
set -euo pipefail
command=$(printf '%q ' "$@")
# script(1) makes the terminal; what the console itself draws there is dropped.
exec script -qec "$command >&3 2>&4" /dev/null 3>&1 4>&2 </dev/null >/dev/null 2>&1
