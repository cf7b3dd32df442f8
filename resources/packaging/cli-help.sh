#!/bin/sh
# ondaspa-cli has one help text per command; help2man reads one. This joins them
# (ondaspa-devsim, whose help has the same layout but no commands, passes too):
#   cli-help.sh PROGRAM --help      every usage line as "Usage:"/"or:" lines,
#                                   then the overview (what help2man reads)
#   cli-help.sh PROGRAM --commands  a help2man include file with each
#                                   command's help, verbatim, in COMMANDS
# Other arguments go to PROGRAM itself.
set -e
program=$1
shift
case "${1-}" in
--help | --commands) ;;
*) exec "$program" "$@" ;;
esac

helps=$(mktemp -d)
trap 'rm -rf "$helps"' EXIT
"$program" --help >"$helps/0"
count=0
# The overview lists the commands as "  FAMILY ACTION|ACTION ..." or, for a
# command without actions, "  FAMILY  ...". An action without help of its own
# is described by its family's help, once.
for family_actions in $(sed -n 's/^  \([a-z][a-z-]*\) \([a-z|]*\) .*/\1:\2/p' "$helps/0"); do
    family=${family_actions%%:*}
    actions=$(echo "${family_actions#*:}" | tr '|' ' ')
    for action in ${actions:--}; do
        next=$((count + 1))
        if [ "$action" != - ] && "$program" "$family" "$action" --help >"$helps/$next" 2>/dev/null; then
            echo "$family $action" >"$helps/$next.title"
        elif "$program" "$family" --help >"$helps/$next" 2>/dev/null; then
            echo "$family" >"$helps/$next.title"
        else
            continue
        fi
        if [ "$count" -gt 0 ] && cmp -s "$helps/$count" "$helps/$next"; then
            continue
        fi
        count=$next
    done
done

# A help text starts with its usage lines: "usage: ..." and the indented
# lines after it, up to the first empty line.
usage() { awk 'NR == 1 { sub(/^usage: */, ""); print; next } /^$/ { exit } { sub(/^ */, ""); print }' "$1"; }
body() { awk 'started { print } /^$/ { started = 1 }' "$1"; }

if [ "$1" = --help ]; then
    usage "$helps/0" | sed '1s/^/Usage: /; 1!s/^/  or:  /'
    i=1
    while [ "$i" -le "$count" ]; do
        usage "$helps/$i" | sed 's/^/  or:  /'
        i=$((i + 1))
    done
    echo "  or:  $(basename "$program") --version"
    echo
    body "$helps/0"
    exit 0
fi

echo "[COMMANDS]"
i=1
while [ "$i" -le "$count" ]; do
    echo ".SS \"$(cat "$helps/$i.title")\""
    echo ".nf"
    # Roff escapes: backslashes, minus signs (so options copy as typed) and
    # lines that would read as requests.
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/" "$helps/$i"
    echo ".fi"
    i=$((i + 1))
done
