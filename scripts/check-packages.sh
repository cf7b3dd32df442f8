#!/usr/bin/env bash
# Builds the DEB and the TGZ (scripts/package.sh) and checks them without
# installing anything into the machine: the DEB's layout and dependencies,
# lintian, the desktop entry and metainfo, the manual pages, the completion,
# the programs run from the unpacked DEB and TGZ, and the DEB installed,
# removed and purged in a mount namespace of the check's own, whose overlays
# take every change.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages lintian desktop-file-utils appstream man-db bash-completion acl
"$ROOT_DIR/scripts/package.sh"

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT_DIR/build/CMakeCache.txt")
TREE=/opt/ondaspa
WORK=$(mktemp -d)
NAMESPACE=
cleanup() {
    if [ -n "$NAMESPACE" ]; then
        kill "$NAMESPACE" 2>/dev/null || true
        wait "$NAMESPACE" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
source "$ROOT_DIR/scripts/check-lines.sh"
quietly() { "$@" >/dev/null; }

shopt -s nullglob
debs=("$ROOT_DIR"/build/packages/ondaspa_"$VERSION"_*.deb)
tgzs=("$ROOT_DIR"/build/packages/ondaspa-"$VERSION"-*.tar.gz)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ] || [ ${#tgzs[@]} -ne 1 ]; then
    echo "FAIL expected one DEB and one TGZ of version $VERSION in build/packages/" >&2
    exit 1
fi
DEB=${debs[0]}
TGZ=${tgzs[0]}

# --- The DEB's control fields and dependencies.
field() { dpkg-deb -f "$DEB" "$1"; }
check "package name ondaspa" test "$(field Package)" = ondaspa
check "package version $VERSION" test "$(field Version)" = "$VERSION"
check "maintainer filled in" grep -q '<.*@.*>' <<<"$(field Maintainer)"
echo "Depends: $(field Depends)"
field Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//' >"$WORK/dependencies"
for dependency in libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 \
    acl adduser libcap2-bin qttranslations5-l10n; do
    check "depends on $dependency" grep -qxF "$dependency" "$WORK/dependencies"
done

# --- The DEB's files: the tree under /opt/ondaspa, links and desktop files under /usr.
dpkg-deb -c "$DEB" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' \
    | sed 's|^\./|/|' >"$WORK/deb-files"
expected=(
    "$TREE/ondaspa" "$TREE/ondaspa-cli" "$TREE/ondaspa-devsim" "$TREE/ondaspa-launcher"
    "$TREE/html/" "$TREE/sound/"
    "/usr/bin/ondaspa -> $TREE/ondaspa-launcher"
    "/usr/bin/ondaspa-cli -> $TREE/ondaspa-cli"
    "/usr/bin/ondaspa-devsim -> $TREE/ondaspa-devsim"
    /usr/share/applications/ondaspa.desktop
    /usr/share/metainfo/org.ondaspa.Ondaspa.metainfo.xml
    /usr/share/man/man1/ondaspa.1.gz /usr/share/man/man1/ondaspa-cli.1.gz
    /usr/share/man/man1/ondaspa-devsim.1.gz
    /usr/share/bash-completion/completions/ondaspa-cli
    /usr/share/doc/ondaspa/copyright /usr/share/doc/ondaspa/changelog.gz
    /usr/share/lintian/overrides/ondaspa
)
for size in $(grep -v '^#' "$ROOT_DIR/resources/icons/sizes"); do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/ondaspa.png")
done
for entry in "${expected[@]}"; do
    check "DEB holds $entry" grep -qxF "$entry" "$WORK/deb-files"
done
check "DEB installs nothing outside $TREE and /usr/{bin,share}" \
    test -z "$(grep -Ev "^/(|opt/|usr/|usr/bin/.*|usr/share/.*|${TREE#/}/.*)\$" "$WORK/deb-files")"
check "the programs are executable" test "$(dpkg-deb -c "$DEB" \
    | grep -cE "^-rwxr-xr-x .* \./${TREE#/}/ondaspa(-cli|-devsim|-launcher)?\$")" = 4

# --- lintian, run on the package file alone.
if lintian --fail-on error --tag-display-limit 0 "$DEB" >"$WORK/lintian" 2>&1; then
    pass "lintian reports no errors"
else
    fail "lintian reports errors"
fi
cat "$WORK/lintian"

# --- The unpacked DEB: desktop files, manual pages, maintainer scripts.
ROOT="$WORK/deb-root"
dpkg-deb -x "$DEB" "$ROOT"
dpkg-deb -e "$DEB" "$WORK/control"
check "desktop entry valid" desktop-file-validate "$ROOT/usr/share/applications/ondaspa.desktop"
check "desktop entry starts the launcher" \
    grep -qxF "Exec=$TREE/ondaspa-launcher" "$ROOT/usr/share/applications/ondaspa.desktop"
check "metainfo valid" appstreamcli validate --no-net \
    "$ROOT/usr/share/metainfo/org.ondaspa.Ondaspa.metainfo.xml"
for page in ondaspa ondaspa-cli ondaspa-devsim; do
    if MANWIDTH=80 man --warnings -l "$ROOT/usr/share/man/man1/$page.1.gz" \
        >"$WORK/$page.txt" 2>"$WORK/$page.err" \
        && [ ! -s "$WORK/$page.err" ] && grep -q "^NAME" "$WORK/$page.txt" \
        && grep -q "$page" "$WORK/$page.txt"; then
        pass "manual page $page renders"
    else
        fail "manual page $page renders"
        cat "$WORK/$page.err" >&2
    fi
done
check "manual page of ondaspa-cli holds the help of minifs build" \
    grep -q -- "--image-version" "$WORK/ondaspa-cli.txt"
check "manual page of ondaspa-cli names upgrade in its NAME line" \
    grep -qE '^ondaspa-cli \\- .*upgrade' <<<"$(zcat "$ROOT/usr/share/man/man1/ondaspa-cli.1.gz" \
        | sed -n '/^\.SH NAME/{n;p}')"
check "manual page of ondaspa-devsim has a SYNOPSIS" grep -q "^SYNOPSIS" "$WORK/ondaspa-devsim.txt"
check "manual page of ondaspa-devsim names no file of the source tree" \
    test -z "$(grep -F 'tests/' "$WORK/ondaspa-devsim.txt")"
check "manual pages carry version $VERSION" grep -q "$VERSION" "$WORK/ondaspa-devsim.txt"
for script in postinst postrm; do
    check "$script is valid sh" sh -n "$WORK/control/$script"
done

# The maintainer scripts, run against stand-ins of the system commands that
# record their calls. STUB_FOUND tells whether the group and overrides exist.
STUBS="$WORK/stubs"
mkdir "$STUBS"
for command in getent addgroup delgroup dpkg-statoverride setcap setfacl chown chmod chgrp find; do
    cat >"$STUBS/$command" <<'STUB'
#!/bin/sh
echo "${0##*/} $*" >>"$STUB_CALLS"
case "${0##*/} $1" in
"getent "*)
    [ "$STUB_FOUND" = 1 ] && echo "ondaspa:x:999:"
    exit $((1 - STUB_FOUND))
    ;;
"dpkg-statoverride --list") exit $((1 - STUB_FOUND)) ;;
esac
STUB
    chmod +x "$STUBS/$command"
done
run_maintainer_script() { # SCRIPT ARGUMENT FOUND
    : >"$WORK/calls"
    STUB_CALLS="$WORK/calls" STUB_FOUND=$3 PATH="$STUBS:$PATH" \
        sh "$WORK/control/$1" "$2" >/dev/null 2>&1
}
called() { grep -qxF "$1" "$WORK/calls"; }
check "postinst configure succeeds" run_maintainer_script postinst configure 0
check "postinst creates the group" called "addgroup --system --quiet ondaspa"
for folder in html sound; do
    check "postinst makes $folder/ group-writable and setgid" \
        called "dpkg-statoverride --update --add root ondaspa 2775 $TREE/$folder"
    check "postinst makes files in $folder/ group-writable" \
        called "setfacl -d -m u::rwx,g::rwx,o::rx $TREE/$folder"
done
for program in ondaspa ondaspa-cli; do
    check "postinst grants $program port 81" \
        called "setcap cap_net_bind_service=+ep $TREE/$program"
done
check "postrm purge succeeds" run_maintainer_script postrm purge 1
for folder in html sound; do
    check "postrm purge drops the override of $folder/" \
        called "dpkg-statoverride --remove $TREE/$folder"
done
check "postrm purge deletes the group" called "delgroup --system --quiet ondaspa"
check "postrm remove succeeds" run_maintainer_script postrm remove 1
check "postrm remove keeps the group and the folders' settings" \
    test -z "$(grep -E '^(delgroup|dpkg-statoverride --remove|setfacl|chown|chmod|chgrp)' "$WORK/calls")"

# --- The DEB installed, removed and purged. dpkg runs in a mount namespace
# of its own, where overlays over /etc, /usr, /var and /opt take every
# change: the machine's files, groups and package database stay as they were.
in_namespace() { nsenter -t "$NAMESPACE" -m -- "$@"; }
start_namespace() {
    unshare -m --propagation private sleep infinity &
    NAMESPACE=$!
    local _
    for _ in $(seq 100); do
        [ "$(readlink "/proc/$NAMESPACE/ns/mnt")" != "$(readlink /proc/self/ns/mnt)" ] && break
        sleep 0.05
    done
    local folder
    for folder in etc usr var opt; do
        mkdir -p "$WORK/overlay/$folder/upper" "$WORK/overlay/$folder/work"
        in_namespace mount -t overlay overlay -o "lowerdir=/$folder,upperdir=$WORK/overlay/$folder/upper,workdir=$WORK/overlay/$folder/work" "/$folder" || return 1
    done
}
folder_state() { in_namespace stat -c '%U:%G %a' "$1"; }
has_default_acl() { in_namespace getfacl -pc "$1" 2>/dev/null | grep -q '^default:'; }
check_group_settings() { # STATE FOLDER: the group's shared folder, as postinst makes it
    check "$1: $2/ is root:ondaspa, setgid, group-writable" \
        test "$(folder_state "$TREE/$2")" = "root:ondaspa 2775"
    check "$1: $2/ has a default ACL" has_default_acl "$TREE/$2"
}
dpkg_in_namespace() { # LOG DPKG-ARGUMENTS...
    local log=$1
    shift
    in_namespace env DEBIAN_FRONTEND=noninteractive dpkg "$@" >"$WORK/$log" 2>&1
}
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null && start_namespace 2>"$WORK/namespace.err"; then
    check "installed: dpkg -i succeeds" dpkg_in_namespace install.log -i "$DEB"
    check "installed: the group exists" quietly in_namespace getent group ondaspa
    for folder in html sound; do
        check_group_settings installed "$folder"
        # What a member of the group leaves there: a new file, under umask 022.
        check "installed: a file can be left in $folder/" \
            in_namespace sh -c "umask 022 && echo content >$TREE/$folder/users-file"
        check "installed: a new file in $folder/ is the group's and group-writable" \
            test "$(in_namespace stat -c '%G %A' "$TREE/$folder/users-file")" = "ondaspa -rw-rw-r--"
    done
    check "installed: ondaspa-cli may bind port 81" \
        grep -q cap_net_bind_service <<<"$(in_namespace getcap "$TREE/ondaspa-cli")"

    check "removed: dpkg -r succeeds" dpkg_in_namespace remove.log -r ondaspa
    check "removed: the programs are gone" in_namespace test ! -e "$TREE/ondaspa-cli"
    check "removed: the group stays" quietly in_namespace getent group ondaspa
    for folder in html sound; do
        check_group_settings removed "$folder"
        check "removed: the users' file in $folder/ stays, the group's" \
            test "$(in_namespace stat -c %G "$TREE/$folder/users-file")" = ondaspa
    done

    check "purged: dpkg -P succeeds" dpkg_in_namespace purge.log -P ondaspa
    check "purged: the group is gone" test -z "$(in_namespace getent group ondaspa || true)"
    for folder in html sound; do
        check "purged: $folder/ is root:root 0755" test "$(folder_state "$TREE/$folder")" = "root:root 755"
        check "purged: $folder/ has no default ACL" test -z "$(has_default_acl "$TREE/$folder" && echo yes)"
        check "purged: the users' file in $folder/ stays, under root's group" \
            test "$(in_namespace stat -c '%G %A' "$TREE/$folder/users-file")" = "root -rw-rw-r--"
        check "purged: no override of $folder/ is left" \
            test -z "$(in_namespace dpkg-statoverride --list "$TREE/$folder" || true)"
    done
    for log in install remove purge; do
        grep -i -e error -e warning "$WORK/$log.log" || true
    done
    check "the machine's own group file is untouched" test -z "$(getent group ondaspa || true)"
else
    echo "skip install, remove and purge: needs root and a mount namespace with overlays here"
    cat "$WORK/namespace.err" 2>/dev/null || true
fi

# --- The TGZ: the same tree as /opt/ondaspa in the DEB.
mkdir "$WORK/tgz-root"
tar -xzf "$TGZ" -C "$WORK/tgz-root"
PORTABLE=$(find "$WORK/tgz-root" -mindepth 1 -maxdepth 1 -type d)
(cd "$PORTABLE" && find . -mindepth 1 | sed 's|^\.||' | sort) >"$WORK/tgz-files"
(cd "$ROOT$TREE" && find . -mindepth 1 | sed 's|^\.||' | sort) >"$WORK/deb-tree"
check "TGZ holds the DEB's tree" diff "$WORK/deb-tree" "$WORK/tgz-files"

# --- The programs, run from both unpacked trees.
SOURCE="$WORK/source"
mkdir "$SOURCE"
printf 'a' >"$SOURCE/a.txt"
printf '<html></html>' >"$SOURCE/index.html"
for tree in "$ROOT$TREE" "$PORTABLE"; do
    name=${tree#"$WORK"/}
    check "$name: ondaspa-cli --version" test "$("$tree/ondaspa-cli" --version)" = "ondaspa-cli $VERSION"
    check "$name: minifs build into the tree's html/" \
        quietly "$tree/ondaspa-cli" minifs build "$SOURCE" --image-version "$VERSION"
    check "$name: image lists both files" test "$("$tree/ondaspa-cli" minifs list \
        "$tree/html/minifs_rom.img" | grep -cE '^(a\.txt|index\.html)'$'\t')" = 2
    check "$name: ondaspa-devsim --help" quietly "$tree/ondaspa-devsim" --help
done

# --- The launcher keeps config.ini in the user's folder. The window binds
# port 81 and UDP 15724, so it runs in a private network namespace.
if unshare -n true 2>/dev/null; then
    HOME_DIR="$WORK/home"
    mkdir "$HOME_DIR"
    env -u XDG_CONFIG_HOME HOME="$HOME_DIR" QT_QPA_PLATFORM=offscreen \
        unshare -n "$ROOT$TREE/ondaspa-launcher" >"$WORK/window.log" 2>&1 &
    window=$!
    config="$HOME_DIR/.config/ondaspa/config.ini"
    for _ in $(seq 100); do
        grep -q '^QZPATH=' "$config" 2>/dev/null && break
        sleep 0.1
    done
    kill "$window" 2>/dev/null || true
    wait "$window" 2>/dev/null || true
    check "launcher: config.ini in ~/.config/ondaspa names the program's folder" \
        grep -qxF "QZPATH=$ROOT$TREE" "$config"
else
    echo "skip launcher check: cannot create a network namespace here"
fi

# --- Completion of ondaspa-cli.
COMPLETION_DIR="$WORK/completion"
mkdir -p "$COMPLETION_DIR/folder"
touch "$COMPLETION_DIR/file"
completions() {
    (cd "$COMPLETION_DIR" && bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"$COMP_LINE"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ondaspa_cli
        printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' \
        _ "$ROOT/usr/share/bash-completion/completions/ondaspa-cli" "$1")
}
while IFS='|' read -r line wanted; do
    check "completion of '$line' is '$wanted'" test "$(completions "$line")" = "$wanted"
done <<'TABLE'
ondaspa-cli |--help --version adpcm history minifs upgrade
ondaspa-cli history --l|--last
ondaspa-cli history --sn x --j|--json
ondaspa-cli minifs |--help --version build extract list
ondaspa-cli adpcm |--help --version compress decode
ondaspa-cli minifs list --|--help --version
ondaspa-cli upgrade u|update
ondaspa-cli upgrade fs --p|--parallel --port
ondaspa-cli upgrade fs --d|--device-port
ondaspa-cli upgrade update --device-port |
ondaspa-cli upgrade fs --max-failures |
ondaspa-cli upgrade update --folder |folder
ondaspa-cli upgrade fs --file |file folder
ondaspa-cli minifs build |folder
ondaspa-cli minifs build --image-version |
ondaspa-cli minifs extract image |folder
ondaspa-cli adpcm compress in -o |folder
TABLE

# Every option that a command's help lists is offered when "-" is completed.
for words in "minifs build" "minifs list" "minifs extract" "adpcm compress" "adpcm decode" \
    "upgrade fs" "history"; do
    # shellcheck disable=SC2086 # the command's words
    listed=$("$ROOT$TREE/ondaspa-cli" $words --help \
        | sed -n 's/^  -h, \(--help\).*/\1/p; t; s/^  \(-[-a-z]*\).*/\1/p' | sort -u | paste -sd " ")
    offered=$(completions "ondaspa-cli $words -" | tr ' ' '\n' | sort -u | paste -sd " ")
    check "completion of 'ondaspa-cli $words -' offers every option of its help ($listed)" \
        test "$offered" = "$listed"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures packaging check(s) failed" >&2
    exit 1
fi
echo "All packaging checks passed."
