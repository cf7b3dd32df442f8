#!/usr/bin/env bash
# The Windows programs end to end under wine, inside a private network namespace with a
# wine server of its own (so every socket stays inside): the unpacked ZIP's ondaspa.exe
# listens on TCP 81 and UDP 15724 and serves html/minifs_rom.img byte for byte to curl;
# ondaspa-cli.exe builds the same image and compresses the same audio as the Linux build;
# ondaspa-cli.exe upgrades the Linux ondaspa-devsim on loopback with a byte-exact result.
# Needs build-win32/packages (scripts/windows/package.sh) and the Linux build/ (ondaspa-cli,
# ondaspa-devsim). Exits 77 where no namespace can be made.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
source "$ROOT/scripts/netns.sh"

if [ "${1:-}" != --inside ]; then
    netns_require
    ensure() { command -v "$1" >/dev/null || { echo "smoke.sh: $1 is missing" >&2; exit 1; }; }
    ensure curl
    ensure sox
    exec timeout 600 unshare -n "${BASH_SOURCE[0]}" --inside
fi

source "$HERE/wine-env.sh"
BUILD=$ROOT/build-win32
LINUX_CLI=$ROOT/build/tools/cli/ondaspa-cli
DEVSIM=$ROOT/build/tools/devsim/ondaspa-devsim
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
NAME=ondaspa-$VERSION-win32
WORK=$(mktemp -d)
cleanup() {
    netns_stop_all
    wineserver -k 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
source "$ROOT/scripts/check-lines.sh"
# Images compared without their creation time (bytes 17 to 20).
same_image() { { cmp -l "$1" "$2" 2>&1 || true; } | awk '$1 < 17 || $1 > 20 { differ = 1 } END { exit differ }'; }
listening() { ss -Hln"$1" "sport = :$2" | grep -q .; }
wait_for() { # SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.5
    done
}

ip link set lo up
# The prefix and its wine server are made here, so wine's sockets live in this namespace.
wine_env "$WORK/build" >/dev/null
unzip -q "$BUILD/packages/$NAME.zip" -d "$WORK"
APP=$WORK/$NAME
CLI=(wine "$APP/ondaspa-cli.exe")
export QT_QPA_PLATFORM=offscreen

# --- The same inputs through both builds.
mkdir -p "$WORK/files" "$WORK/wav" "$WORK/out-linux" "$WORK/out-windows"
# One file: the builder packs files in the order the file system lists them, which differs
# between ext4 and the name order that wine gives.
head -c 300000 /dev/urandom >"$WORK/files/data.bin"
sox -n -r 8000 -c 1 -b 16 "$WORK/wav/tone.wav" synth 0.5 sine 440
"$LINUX_CLI" minifs build "$WORK/files" -o "$WORK/out-linux/minifs_rom.img" >/dev/null
"${CLI[@]}" minifs build "$WORK/files" -o "$APP/html/minifs_rom.img" >"$WORK/build.log" 2>&1
check "minifs build: ondaspa-cli.exe's image is the Linux build's" \
    same_image "$WORK/out-linux/minifs_rom.img" "$APP/html/minifs_rom.img"
check "minifs build: the last line names the image" grep -qF "minifs_rom.img" "$WORK/build.log"
"$LINUX_CLI" adpcm compress "$WORK/wav" -o "$WORK/out-linux" >/dev/null
"${CLI[@]}" adpcm compress "$WORK/wav" -o "$WORK/out-windows" >/dev/null 2>&1
check "adpcm compress: ondaspa-cli.exe's file is the Linux build's" \
    cmp -s "$WORK/out-linux/tone.wav" "$WORK/out-windows/tone.wav"

# --- The window: its server serves the built image byte for byte.
(cd "$APP" && exec wine ondaspa.exe) >"$WORK/window.log" 2>&1 &
netns_track $!
check "ondaspa.exe listens on TCP 81" wait_for 60 listening t 81
check "ondaspa.exe listens on UDP 15724" wait_for 10 listening u 15724
curl -sS --max-time 30 -o "$WORK/served.img" http://127.0.0.1:81/minifs_rom.img || true
check "ondaspa.exe serves html/minifs_rom.img byte for byte" \
    cmp -s "$APP/html/minifs_rom.img" "$WORK/served.img"
check "config.ini written in the working directory" test -f "$APP/config.ini"
netns_stop_all
wineserver -k 2>/dev/null || true

# --- ondaspa-cli.exe upgrades the Linux simulator on loopback.
UDP_PORT=15800
"$DEVSIM" --sn WINE-1 --bind 127.0.0.2 --udp-port "$UDP_PORT" --save "$WORK/device" --once \
    >"$WORK/devsim.log" 2>&1 &
netns_track $!
wait_for 10 listening u "$UDP_PORT" || true
timeout 120 "${CLI[@]}" upgrade fs --ip 127.0.0.2 --device-port "$UDP_PORT" --port 8081 \
    --folder "$APP/html" >"$WORK/upgrade.log" 2>&1 && upgraded=0 || upgraded=$?
check "ondaspa-cli.exe upgrade exits 0" test "$upgraded" -eq 0
check "the device got the image byte for byte" cmp -s "$APP/html/minifs_rom.img" "$WORK/device/minifs_rom.img"

if [ "$failures" -ne 0 ]; then
    for log in "$WORK"/*.log; do
        echo "--- $(basename "$log")" >&2
        tail -20 "$log" >&2
    done
    echo "$failures smoke check(s) failed" >&2
    exit 1
fi
echo "Windows smoke run: all checks passed"
