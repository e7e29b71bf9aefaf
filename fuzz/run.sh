#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/, replays each
# committed seed corpus, then fuzzes each target for SECONDS (default 30).
#   fuzz/run.sh [SECONDS]        SECONDS=0: replay the corpora only
# New inputs go to fuzz/corpus-run/<target>/ (not committed); crashes to fuzz/corpus-run/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
case "$seconds" in (*[!0-9]*|'') echo "SECONDS must be a whole number" >&2; exit 2 ;; esac

source scripts/deps.sh
# libFuzzer comes with clang's runtime libraries.
vantrel_ensure_packages "${VANTREL_TEST_PACKAGES[@]}" clang libclang-rt-14-dev

dir=build-fuzz
if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVANTREL_SANITIZE= -DVANTREL_BUILD_GUI=OFF -DVANTREL_BUILD_BENCH=OFF >/dev/null
fi

# Each fuzz/<name>/ with a corpus has one executable: <name>_fuzz or fuzz_<name>.
targets=()
for corpus in fuzz/*/corpus; do
    name=$(basename "$(dirname "$corpus")")
    for candidate in "${name}_fuzz" "fuzz_${name}"; do
        if grep -q "add_executable(${candidate}\b" "fuzz/${name}/CMakeLists.txt"; then
            targets+=("$name:$candidate")
        fi
    done
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets found" >&2; exit 1; }
cmake --build "$dir" -j "${VANTREL_JOBS:-$(nproc)}" --target "${targets[@]#*:}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p fuzz/corpus-run/crashes
status=0
summary=()
for entry in "${targets[@]}"; do
    name=${entry%%:*}
    exe="$dir/bin/${entry#*:}"
    seeds="fuzz/$name/corpus"
    work="fuzz/corpus-run/$name"
    mkdir -p "$work"
    log="fuzz/corpus-run/$name.log"
    echo "== $name: replaying $(ls "$seeds" | wc -l) seeds"
    if ! "$exe" -runs=0 "$seeds" >"$log" 2>&1; then
        echo "!! $name: a seed fails (see $log)"; tail -20 "$log"; status=1; continue
    fi
    if [ "$seconds" -gt 0 ]; then
        echo "== $name: fuzzing for ${seconds}s"
        if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=2048 \
                -artifact_prefix="fuzz/corpus-run/crashes/${name}-" "$work" "$seeds" >"$log" 2>&1; then
            echo "!! $name: failure (see $log)"; tail -30 "$log"; status=1
        fi
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
        summary+=("$(printf '%-12s %12s executions in %ss' "$name" "$runs" "$seconds")")
    fi
done
if [ ${#summary[@]} -gt 0 ]; then
    echo "== executions per target"
    printf '%s\n' "${summary[@]}"
fi
exit $status
