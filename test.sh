#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh               normal build in build/
#   ./test.sh --sanitize    AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   ./test.sh --tsan        ThreadSanitizer build in build-tsan/
# Arguments after the mode go to ctest, e.g. ./test.sh -- -R protocol_test
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh

mode=plain
if [ $# -gt 0 ]; then
    case "$1" in
        --sanitize) mode=asan; shift ;;
        --tsan) mode=tsan; shift ;;
        --) ;;
        -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
        *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
    esac
fi
[ "${1:-}" = "--" ] && shift

vantrel_ensure_packages "${VANTREL_TEST_PACKAGES[@]}"

case "$mode" in
    plain) dir=build; opts=(-DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=) ;;
    # Sanitizer trees skip the benchmarks (built and kept compiling by the plain tree); the
    # TSan tree covers the threaded libraries and the console core, not the Qt widgets.
    asan) dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=address -DVANTREL_BUILD_BENCH=OFF) ;;
    tsan) dir=build-tsan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=thread -DVANTREL_BUILD_BENCH=OFF -DVANTREL_BUILD_GUI=OFF) ;;
esac
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}

vantrel_build "$dir" "${opts[@]}"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "$@"
