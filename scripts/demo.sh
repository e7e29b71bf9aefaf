#!/usr/bin/env bash
# Starts the console and a fleet of simulated sequencers against it (used by ./run.sh --demo).
#   scripts/demo.sh <bin-folder>
# Twelve devices join one after another: parallel groups Link1 and Link3, serial groups
# Link2 and Link4. Try "平行开" / "串行开" on them, or double-click a dot of the "Led显示"
# column. Closing the console ends the fleet. VANTREL_DEMO_PORT picks another port than 6000.
set -euo pipefail
bin=${1:?usage: scripts/demo.sh <bin-folder>}
port=${VANTREL_DEMO_PORT:-6000}

for tool in vantrel vantrel-demo-fleet; do
    if [ ! -x "$bin/$tool" ]; then
        echo "demo: $bin/$tool is missing; build first (./run.sh builds it)" >&2
        exit 1
    fi
done

"$bin/vantrel" --port="$port" &
console=$!
fleet=""
stop_fleet() {
    if [ -n "$fleet" ]; then
        kill "$fleet" 2>/dev/null || true
        wait "$fleet" 2>/dev/null || true
    fi
}
trap stop_fleet EXIT
# Interrupting the demo ends the console as well.
trap 'kill "$console" 2>/dev/null || true' INT TERM

# The devices retry until the console listens; start them once it does (or it has gone).
for _ in $(seq 1 100); do
    if ! kill -0 "$console" 2>/dev/null; then
        break
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if kill -0 "$console" 2>/dev/null; then
    "$bin/vantrel-demo-fleet" --port "$port" &
    fleet=$!
fi

status=0
wait "$console" || status=$?
exit "$status"
