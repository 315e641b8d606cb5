#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs the
# whole suite in four stages, saying what each runs and how long it took:
#   1. build        the plug-in, the tools, the tests and the benchmarks
#   2. tests        every test of that build (ctest, as many at once as cores)
#   3. address      the engine and its tests under the address, undefined-
#                   behaviour and leak sanitizers
#   4. thread       two instances on two threads under the thread sanitizer
# A failing stage does not stop the later ones: the summary at the end lists
# every stage, and the script exits non-zero if any failed.
# Usage: tools/run-tests.sh [BUILD_DIR]   (default: build-tests; the
# sanitizer builds go to BUILD_DIR-address and BUILD_DIR-thread). Build
# directories are reused, so a second run rebuilds only what changed.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-tests}
case $build in /*) ;; *) build=$PWD/$build ;; esac
. "$root/tools/debian-packages.sh"

ensure_debian_packages cmake make g++ pkg-config binutils \
    libgtest-dev libbenchmark-dev lv2-dev lilv-utils liblilv-dev libsndfile1-dev sordi sox valgrind || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
logs=$build-logs
mkdir -p "$logs"
started=$(date +%s)
summary=()
failures=0
passed_tests=0
failed_tests=0

seconds_since() { echo $(( $(date +%s) - $1 )); }

# stage NAME DESCRIPTION COMMAND...: runs the command, its output shown and
# kept in $logs/NAME.log, and records the result.
stage() {
    local name=$1 description=$2 start status
    shift 2
    echo
    echo "=== $name: $description"
    start=$(date +%s)
    "$@" 2>&1 | tee "$logs/$name.log"
    status=${PIPESTATUS[0]}
    # ctest's closing line: "97% tests passed, 2 tests failed out of 161"
    local counts
    counts=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests* failed out of \([0-9]*\)$/\1 \2/p' "$logs/$name.log" | tail -1)
    if [ -n "$counts" ]; then
        set -- $counts
        failed_tests=$((failed_tests + $1))
        passed_tests=$((passed_tests + $2 - $1))
    fi
    if [ "$status" -eq 0 ]; then
        summary+=("$(printf '%-8s passed   %4d s' "$name" "$(seconds_since "$start")")")
    else
        failures=$((failures + 1))
        summary+=("$(printf '%-8s FAILED   %4d s   (log: %s)' "$name" "$(seconds_since "$start")" "$logs/$name.log")")
    fi
    return "$status"
}

build_all() {
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build "$build" -j"$jobs"
}
run_tests() { (cd "$build" && ctest --output-on-failure -j"$jobs"); }

if stage build "configure and build everything in $build" build_all; then
    stage tests "ctest in $build, $jobs at a time" run_tests
else
    summary+=("$(printf '%-8s not run: the build failed' tests)")
    failures=$((failures + 1))
fi
stage address "address + undefined-behaviour sanitizers in $build-address" \
    "$root/tests/run-sanitizers.sh" address "$build"
stage thread "thread sanitizer in $build-thread" \
    "$root/tests/run-sanitizers.sh" thread "$build"

echo
echo "=== Summary ($(seconds_since "$started") s in all)"
printf '   %s\n' "${summary[@]}"
echo "run-tests: $passed_tests passed, $failed_tests failed"
[ "$failures" -eq 0 ]
