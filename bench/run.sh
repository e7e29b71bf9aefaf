#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and prints one table: scenario, figure, goal,
# the described design's figure, and whether the goal is met. The rows starting "vantrel:" are
# the real program; the others are harnesses around the libraries.
#   bench/run.sh [--devices N] [--idle-seconds S] [--offline N]   (defaults 1000, 60, 50)
# The console side runs in e2e_bench, the simulated fleet in separate processes; the real
# program vantrel (Release, offscreen) is measured by gui_offline_bench through its probe.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vantrel_ensure_packages "${VANTREL_TEST_PACKAGES[@]}"

dir=build-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_SANITIZE= \
    -DVANTREL_BUILD_GUI=OFF -DVANTREL_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j "${VANTREL_JOBS:-$(nproc)}" \
    --target e2e_bench e2e_fleet vantrel-sim logbase_bench chronrun_scan_bench mqtt_bench \
    gui_offline_bench gui_load_bench gui_fleet_bench chronrun_task_view_bench web_bench \
    web_status_fleet
bin=$dir/bin
# The real program, with its window, in a build of its own (with the scale tools beside it).
gui_dir=build-bench-gui
cmake -S . -B "$gui_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_SANITIZE= \
    -DVANTREL_BUILD_GUI=ON -DVANTREL_BUILD_BENCH=ON >/dev/null
cmake --build "$gui_dir" -j "${VANTREL_JOBS:-$(nproc)}" --target vantrel vantrel-sim link_id_flood
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== end to end: console process + fleet process"
"$bin/e2e_bench" "$@" | tee "$out/e2e.txt"
echo "== the real program (Release, offscreen): devices offline at once"
"$bin/gui_offline_bench" "$gui_dir/bin/vantrel" "$bin/vantrel-sim" | tee "$out/gui.txt"
echo "== the real program (Release, offscreen): 1000 and 5000 devices, 2000 status frames/s; HTTP API off, then on with 20 event streams"
"$bin/gui_load_bench" "$gui_dir/bin/vantrel" --web-clients 20 | tee "$out/load.txt"
echo "== the real program (Release, offscreen): 20,000 devices from idle vantrel-sim processes"
"$bin/gui_fleet_bench" "$gui_dir/bin/vantrel" "$bin/vantrel-sim" | tee "$out/fleet.txt"
echo "== log store: InsertLogOb from 8 threads, one-day query over 1,000,000 rows"
"$bin/logbase_bench" 50000 1000000 | tee "$out/log.txt"
echo "== timed-task scan, 1000 tasks"
"$bin/chronrun_scan_bench" 10 1000 | tee "$out/scan.txt"
echo "== MQTT bridge and a local broker, 1000 devices"
"$bin/mqtt_bench" --devices 1000 --rate 2000 | tee "$out/mqtt.txt"
echo "== HTTP API: the device list with 5000 devices"
"$bin/web_bench" --devices 5000 | tee "$out/web.txt"
echo "== timed tasks' should-be/is view, 1000 tasks x 10 devices"
"$bin/chronrun_task_view_bench" 20 1000 | tee "$out/view.txt"

echo "== the web console in headless Chromium: 5000 devices, 2000 status frames/s, table scrolling"
/usr/bin/python3 bench/web/web_frame_bench.py "$gui_dir/bin/vantrel" "$bin/web_status_fleet" |
    tee "$out/webframe.txt"

echo "== scale on the real console: vantrel (Release, offscreen) and the fleet in separate processes"
BENCH_BIN=$gui_dir/bin bench/link_scale.sh | tee "$out/scale.txt"

# Rows from the log store and scan benchmarks, in the e2e table's format.
{
    cat "$out/scale.txt"
    sed -n '/^TABLE$/,$p' "$out/e2e.txt" | tail -n +2
    sed -n '/^TABLE$/,$p' "$out/gui.txt" | tail -n +2
    sed -n '/^TABLE$/,$p' "$out/load.txt" | tail -n +2
    sed -n '/^TABLE$/,$p' "$out/fleet.txt" | tail -n +2
    awk '
        /calls:/ { rate = $2 }
        /time per call:/ { for (i = 1; i <= NF; i++) if ($i == "p99") p99 = $(i + 1) }
        /date index used:/ { index_used = $4 }
        /one-day query/ { for (i = 1; i <= NF; i++) if ($i == "median") med = $(i + 1);
                          for (i = 1; i <= NF; i++) if ($i == "max") mx = $(i + 1) }
        END {
            printf "InsertLogOb from 8 threads|%d rows/s|>= 50,000 rows/s|-|%s\n", rate, (rate >= 50000 ? "met" : "MISSED")
            printf "InsertLogOb time per call|p99 %s us|p99 < 50 us|-|%s\n", p99, (p99 + 0 < 50 ? "met" : "MISSED")
            printf "one-day query over 1,000,000 rows|median %s ms, max %s ms, date index: %s|< 100 ms, date index|-|%s\n", med, mx, index_used, (mx + 0 < 100 && index_used == "yes" ? "met" : "MISSED")
        }' "$out/log.txt"
    awk '
        /share/ { for (i = 1; i <= NF; i++) if ($i == "share") { share = $(i + 1); if (share + 0 > worst + 0) worst = share } }
        END { printf "timed-task scan, 1000 tasks (worse of two runs)|%s %% of one core|< 5 %%|-|%s\n", worst, (worst + 0 < 5 ? "met" : "MISSED") }
    ' "$out/scan.txt"
    sed -n '/^TABLE$/,$p' "$out/mqtt.txt" | tail -n +2
    sed -n '/^TABLE$/,$p' "$out/web.txt" | tail -n +2
    sed -n '/^TABLE$/,$p' "$out/webframe.txt" | tail -n +2
    awk '
        /task view/ { for (i = 1; i <= NF; i++) { if ($i == "median") med = $(i + 1); if ($i == "max") mx = $(i + 1) } }
        END { printf "timed-task view, 1000 tasks x 10 devices|median %s ms, max %s ms|-|-|measured\n", med, mx }
    ' "$out/view.txt"
} > "$out/table.txt"

echo
echo "== results ($(nproc) processors, loopback)"
{
    echo "scenario|figure|goal|described design|verdict"
    cat "$out/table.txt"
} | column -t -s '|'
