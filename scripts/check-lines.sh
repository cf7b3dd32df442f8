# shellcheck shell=bash
# Sourced, not run: the ok/FAIL lines of the package and smoke checks, and their count.
#   check DESCRIPTION COMMAND...   runs COMMAND and prints "ok   DESCRIPTION" or a FAIL line
#   pass / fail DESCRIPTION        prints the line itself; fail counts it in $failures
failures=0
pass() { echo "ok   $*"; }
fail() {
    echo "FAIL $*" >&2
    failures=$((failures + 1))
}
check() {
    local description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}
