#!/usr/bin/env bash
# Scale rows measured on the real console: vantrel (Release, offscreen) in its own process,
# the simulated fleet in another. Prints rows in run.sh's table format
# (scenario|figure|goal|described design|verdict).
#   bench/link_scale.sh [--devices N] [--ids N] [--alive-seconds S]   (defaults 1100, 8000, 60)
# Needs vantrel, vantrel-sim and link_id_flood in $BENCH_BIN (default build-bench-gui/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
devices=1100
ids=8000
alive=60
while [ $# -gt 0 ]; do
    case "$1" in
        --devices) devices=$2; shift 2 ;;
        --ids) ids=$2; shift 2 ;;
        --alive-seconds) alive=$2; shift 2 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
bin=${BENCH_BIN:-build-bench-gui/bin}
db="$bin/Vantrel_DB.db3"
work=$(mktemp -d)
console=""
cleanup() {
    if [ -n "$console" ]; then kill "$console" 2>/dev/null || true; wait "$console" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    local p
    for p in $(seq 47100 47199); do
        if ! ss -ltn "( sport = :$p )" | grep -q ":$p"; then echo "$p"; return; fi
    done
    return 1
}

# Starts the console with the given soft and hard descriptor limits; sets $console, $port.
start_console() {
    port=$(free_port)
    rm -f "$db" "$bin/testNote.ini" "$bin/sendNote.ini"
    mkdir -p "$work/lock"
    (
        # The soft limit first: a hard limit below the current soft one is refused.
        ulimit -Sn "$1" || exit 1
        ulimit -Hn "$2" || exit 1
        QT_QPA_PLATFORM=offscreen exec "$bin/vantrel" --port="$port" --lock-dir="$work/lock" --web-port=0
    ) >"$work/console.txt" 2>&1 &
    console=$!
    for _ in $(seq 1 100); do
        ss -ltn "( sport = :$port )" | grep -q ":$port" && return 0
        sleep 0.1
    done
    echo "console did not start listening" >&2
    return 1
}

stop_console() {
    kill "$console" 2>/dev/null || true
    wait "$console" 2>/dev/null || true
    console=""
}

sql() { sqlite3 "$db" "$1" 2>/dev/null || echo 0; }

# Devices the console supervised (they received heartbeats), refusals it logged, and whether
# it was still running after the fleet's run.
fleet_row() {
    local label=$1 soft=$2 hard=$3
    start_console "$soft" "$hard"
    "$bin/vantrel-sim" --port "$port" --count "$devices" --threads 2 --groups 0 \
        --seconds "$alive" >"$work/fleet.txt" 2>&1 || true
    local running=no
    kill -0 "$console" 2>/dev/null && running=yes
    local supervised refused
    supervised=$(grep -c 'HEARTBEAT=' "$work/fleet.txt" || true)
    refused=$(sql "SELECT COALESCE(SUM(CAST(substr(LogContent, instr(LogContent, ':') + 1) AS INTEGER)), 0) FROM Log WHERE LogContent LIKE '描述符余量不足%';")
    stop_console
    local verdict=MISSED
    [ "$running" = yes ] && verdict=met
    echo "$devices devices, $label|$supervised registered and supervised, $refused refused, running after ${alive} s: $running|no crash; reserve kept|-|$verdict"
}

fleet_row "soft limit 1024 (hard $(ulimit -Hn))" 1024 "$(ulimit -Hn)"
fleet_row "soft and hard limit 1024" 1024 1024

# Many silent ids behind one connection: every one is reported offline and removed.
start_console 1024 "$(ulimit -Hn)"
begin=$(date +%s.%N)
"$bin/link_id_flood" --port "$port" --count "$ids" --timeout 600 >"$work/flood.txt" 2>&1 || true
removed=0
last=""
for _ in $(seq 1 600); do
    removed=$(sql "SELECT COUNT(*) FROM Log WHERE LogContent LIKE '删除map中掉线设备:%';")
    [ "$removed" -ge "$ids" ] && { last=$(date +%s.%N); break; }
    sleep 1
done
stop_console
if [ -n "$last" ]; then
    took=$(awk -v a="$begin" -v b="$last" 'BEGIN { printf "%.0f", b - a }')
    echo "$ids silent ids on one connection|all $removed removed, last within ${took} s of the first registration (polled each second)|all removed|-|met"
else
    echo "$ids silent ids on one connection|$removed of $ids removed within 600 s|all removed|-|MISSED"
fi
