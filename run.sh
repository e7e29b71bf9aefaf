#!/usr/bin/env bash
# Installs what is missing, builds and starts the console.
#   ./run.sh            the console, listening for sequencers on TCP port 6000
#   ./run.sh --demo     the console plus a fleet of simulated sequencers connected to it
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh

demo=0
case "${1:-}" in
    --demo) demo=1 ;;
    "") ;;
    -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
esac

vantrel_ensure_packages "${VANTREL_RUN_PACKAGES[@]}"
# Only what this script runs: the console, the demo fleet and the two simulators (the tests,
# benchmarks and fuzz helpers are ./test.sh's business).
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=
cmake --build build-release -j "$(nproc)" \
    --target vantrel vantrel-demo-fleet vantrel-sim vantrel-serial-sim

bin=build-release/bin
if [ ! -x "$bin/vantrel" ]; then
    echo "The build finished without $bin/vantrel; see the build output above" >&2
    exit 1
fi
if [ "$demo" -eq 1 ]; then
    exec scripts/demo.sh "$bin"
fi
exec "$bin/vantrel"
