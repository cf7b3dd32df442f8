#!/usr/bin/env bash
# Serving benchmark of the upgrade file service, side by side with nginx.
#
#   bench/fileservice/serving.sh [REPEATS]     (root; default 3 repeats)
#
# Everything runs inside a private network namespace (the program always
# binds port 81): the program itself (offscreen, started in a temporary
# folder, serving the folder "html" beside a copy of it) on port 81, and one
# nginx with two servers on loopback ports: 8081 with sendfile on, 8082 with
# sendfile off and 4 KiB output buffers (the same work per byte as the file
# service). Cases, one request per connection:
#   (a) one 256 MiB file to one client;
#   (b) a 1 MiB image to 100 concurrent clients, like a fleet upgrade.
# Each case runs REPEATS times per server, interleaved (the fleet case ten
# times as often: one load lasts about 0.1 s, so a few of them say little);
# the medians are compared. Printed: throughput, the ratios program/nginx, failed downloads,
# 503 answers, connections dropped by the listen queue (TcpExtListenOverflows
# of the namespace), the peak resident memory of the program and of nginx
# per case, the load average, and how late the program's GUI thread ran a
# 10 ms timer while it served (99th percentile; the program runs as
# ondaspa_latencyprobe: the same start-up, with the upgrade window shown and
# the probe added). Only ratios from one run mean anything: absolute figures
# vary from machine to machine.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" != "--inside" ]; then
    source "$HERE/../../scripts/setup.sh"
    REPEATS=${1:-3}
    if ! [[ "$REPEATS" =~ ^[1-9][0-9]?$ ]]; then
        echo "usage: bench/fileservice/serving.sh [REPEATS 1-99]" >&2
        exit 2
    fi
    ensure_packages "${BASE_PACKAGES[@]}" nginx-light iproute2
    BUILD_TARGETS=(ondaspa_latencyprobe httpload)
    configure_and_build "$ROOT_DIR/build"
    if ! unshare -n true 2>/dev/null; then
        echo "serving.sh: cannot create a private network namespace (run as root);" \
             "the program binds port 81, so the benchmark does not run outside one." >&2
        exit 1
    fi
    exec unshare -n "$0" --inside "$ROOT_DIR/build" "$REPEATS"
fi

BUILD=$2
REPEATS=$3
BIG_SIZE=$((256 * 1024 * 1024))
IMAGE_SIZE=$((1024 * 1024))
FLEET=100
# Ceiling of one load, in seconds; the loader gives up on what is left.
LOAD_TIMEOUT=120

ip link set lo up
WORK=$(mktemp -d /tmp/ondaspa-serving.XXXXXX)
PROGRAM_PID=
NGINX_PID=
# A killed process's wait status is non-zero; under set -e that must not end the clean-up early
# and leave nginx running.
cleanup() {
    [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null && wait "$PROGRAM_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill -TERM "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/program/html" "$WORK/nginx/logs" "$WORK/nginx/tmp"
# nginx's workers run as www-data and must read the files.
chmod 755 "$WORK" "$WORK/program" "$WORK/program/html"
cp "$BUILD/bench/fileservice/ondaspa_latencyprobe" "$WORK/program/ondaspa"
head -c "$BIG_SIZE" /dev/urandom >"$WORK/program/html/big.img"
head -c "$IMAGE_SIZE" /dev/urandom >"$WORK/program/html/minifs_rom.img"
chmod 644 "$WORK/program/html/"*.img

cat >"$WORK/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    default_type application/octet-stream;
    client_body_temp_path $WORK/nginx/tmp/body;
    proxy_temp_path $WORK/nginx/tmp/proxy;
    fastcgi_temp_path $WORK/nginx/tmp/fastcgi;
    uwsgi_temp_path $WORK/nginx/tmp/uwsgi;
    scgi_temp_path $WORK/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:8081;
        root $WORK/program/html;
        sendfile on;
    }
    server {
        listen 127.0.0.1:8082;
        root $WORK/program/html;
        sendfile off;
        output_buffers 1 4k;
    }
}
CONF
nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -g 'daemon off;' &
NGINX_PID=$!

# The program reads and writes "./config.ini" in its working directory.
(cd "$WORK" && QT_QPA_PLATFORM=offscreen exec "$WORK/program/ondaspa" >"$WORK/ondaspa.log" 2>&1) &
PROGRAM_PID=$!

wait_for_port() {
    for _ in $(seq 100); do
        ss -Hltn "sport = :$1" | grep -q . && return 0
        sleep 0.1
    done
    echo "serving.sh: nothing listens on port $1" >&2
    exit 1
}
wait_for_port 81
wait_for_port 8081
wait_for_port 8082

overflows() { nstat -asz TcpExtListenOverflows | awk '/TcpExtListenOverflows/ { print $2 }'; }
peak_kib() { awk '/VmHWM/ { print $2 }' "/proc/$1/status"; }
reset_peak() { echo 5 >"/proc/$1/clear_refs"; }
nginx_pids() { echo "$NGINX_PID" $(pgrep -P "$NGINX_PID"); }

# The program's latency probe reports (and starts afresh) on SIGUSR1; prints
# the 99th percentile in ms of its report.
latency_p99() {
    local reports
    reports=$(grep -c '^latency:' "$WORK/ondaspa.log" || true)
    kill -USR1 "$PROGRAM_PID"
    for _ in $(seq 100); do
        [ "$(grep -c '^latency:' "$WORK/ondaspa.log" || true)" -gt "$reports" ] && break
        sleep 0.05
    done
    grep '^latency:' "$WORK/ondaspa.log" | tail -1 | sed -E 's/.* p99 ([0-9.]+) ms.*/\1/'
}

# Result lines: case server repeat seconds failed 503s overflows latency-p99
RESULTS="$WORK/results"
: >"$RESULTS"
run_load() { # case server port path clients size repeat
    local before after line p99=-
    [ "$2" = program ] && latency_p99 >/dev/null
    before=$(overflows)
    line=$("$BUILD/bench/fileservice/httpload" "$3" "$4" "$5" "$6" "$LOAD_TIMEOUT" || true)
    after=$(overflows)
    [ "$2" = program ] && p99=$(latency_p99)
    echo "$1 $2 $7 $(sed -E 's/.*seconds=([0-9.]+).*/\1/' <<<"$line")" \
         "$(sed -E 's/.*failed=([0-9]+).*/\1/' <<<"$line")" \
         "$(sed -E 's/.*status503=([0-9]+).*/\1/' <<<"$line")" \
         "$((after - before))" "$p99" >>"$RESULTS"
    echo "  $1 $2 #$7: $line overflows=$((after - before))" \
         "$([ "$2" = program ] && echo "gui-latency-p99=${p99}ms")"
}

declare -A PEAK
SERVERS="program:81 nginx-sendfile:8081 nginx-4k:8082"
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
for case in a b; do
    reset_peak "$PROGRAM_PID"
    for pid in $(nginx_pids); do reset_peak "$pid"; done
    echo "case ($case):"
    repeats=$REPEATS
    [ "$case" = b ] && repeats=$((REPEATS * 10))
    for repeat in $(seq "$repeats"); do
        for server in $SERVERS; do
            if [ "$case" = a ]; then
                run_load a "${server%%:*}" "${server##*:}" /big.img 1 "$BIG_SIZE" "$repeat"
            else
                run_load b "${server%%:*}" "${server##*:}" /minifs_rom.img "$FLEET" "$IMAGE_SIZE" "$repeat"
            fi
        done
    done
    PEAK[program-$case]=$(peak_kib "$PROGRAM_PID")
    total=0
    for pid in $(nginx_pids); do total=$((total + $(peak_kib "$pid"))); done
    PEAK[nginx-$case]=$total
done

# The GUI thread's latency over a longer window: REPEATS fleet loads against the program back to
# back and one report, so that its 99th percentile rests on more than a handful of timer calls.
latency_p99 >/dev/null
for repeat in $(seq "$REPEATS"); do
    "$BUILD/bench/fileservice/httpload" 81 /minifs_rom.img "$FLEET" "$IMAGE_SIZE" \
        "$LOAD_TIMEOUT" >/dev/null || true
done
FLEET_P99=$(latency_p99)
FLEET_LATENCY=$(grep '^latency:' "$WORK/ondaspa.log" | tail -1 | sed 's/^latency: //')

echo
echo "Medians over $REPEATS repeats, $((REPEATS * 10)) in (b) (one run; compare ratios, not absolute figures):"
summary() { # case bytes
    awk -v c="$1" -v bytes="$2" '
        $1 == c { t[$2] = t[$2] " " $4; f[$2] += $5; u[$2] += $6; o[$2] += $7
                  if ($8 != "-" && $8 + 0 > l) l = $8 + 0 }
        function median(list,   n, v, i, j, x) {
            n = split(list, v, " ")
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j] < v[j-1]; j--) { x = v[j]; v[j] = v[j-1]; v[j-1] = x }
            return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        END {
            split("program nginx-sendfile nginx-4k", order, " ")
            for (k = 1; k <= 3; k++) {
                s = order[k]; m[s] = median(t[s])
                printf "  %-15s %9.1f ms  %8.1f MB/s  failed %d  503s %d  listen-queue drops %d\n", \
                       s, m[s] * 1000, bytes / m[s] / 1e6, f[s], u[s], o[s]
            }
            printf "  throughput program / nginx-sendfile: %.2f\n", m["nginx-sendfile"] / m["program"]
            printf "  throughput program / nginx-4k:       %.2f\n", m["nginx-4k"] / m["program"]
            met = m["nginx-4k"] >= m["program"] && f["program"] == 0 && u["program"] == 0
            printf "  target (at least nginx-4k, no failed download, no 503): %s\n", \
                   met ? "met" : "NOT met"
            printf "  program GUI thread: 10 ms timer late by %.1f ms at the 99th percentile" \
                   " (worst repeat, a few dozen timer calls each)\n", l
        }' "$RESULTS"
}
echo "(a) one 256 MiB download:"
summary a "$BIG_SIZE"
echo "(b) $FLEET concurrent 1 MiB downloads:"
summary b $((FLEET * IMAGE_SIZE))
echo "GUI thread over $REPEATS fleet loads back to back: 10 ms timer late by $FLEET_LATENCY"
if awk -v p="$FLEET_P99" 'BEGIN { exit !(p < 50) }'; then
    echo "  target (99th percentile below 50 ms): met"
else
    echo "  target (99th percentile below 50 ms): NOT met"
fi
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Peak resident memory: program $((PEAK[program-a] / 1024)) MiB in (a)," \
     "$((PEAK[program-b] / 1024)) MiB in (b); nginx (all processes)" \
     "$((PEAK[nginx-a] / 1024)) MiB in (a), $((PEAK[nginx-b] / 1024)) MiB in (b)"
# Memory target of the fleet case.
if [ "$((PEAK[program-b] / 1024))" -lt 64 ]; then
    echo "  target (program under 64 MiB resident in (b)): met"
else
    echo "  target (program under 64 MiB resident in (b)): NOT met"
fi
echo "Program log: $(grep -c . "$WORK/ondaspa.log") lines," \
     "$(grep -c 'Too many incoming connections' "$WORK/ondaspa.log" || true) refused for lack of handlers"
