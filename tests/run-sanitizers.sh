#!/usr/bin/env bash
# Builds the engine and its tests under the sanitizers and runs them:
#  - AddressSanitizer with UndefinedBehaviorSanitizer (float-to-integer
#    overflow included, no recovery) and LeakSanitizer: the unit tests, the
#    fuzz driver at its fixed seed and count, and the host-level tests, except
#    those that hand the instrumented binary to an uninstrumented host program;
#  - ThreadSanitizer: instances run from two threads at once, and
#    instantiates on several threads reading the log level.
# Usage: tests/run-sanitizers.sh [BUILD_PREFIX]   (default: build-sanitize)
# A longer fuzz run, in the address build this leaves behind:
#   ZT_FUZZ_ITERATIONS=20000 ZT_FUZZ_SEED=7 BUILD_PREFIX-address/tests/zt_fuzz_tests
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$root/build-sanitize}
jobs=$(nproc 2>/dev/null || echo 2)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

address=$prefix-address
rm -rf "$address"
cmake -S "$root" -B "$address" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_SANITIZE=address -DZT_BUILD_BENCHMARKS=OFF
cmake --build "$address" -j"$jobs"
(cd "$address" && ctest --output-on-failure -j"$jobs" -E '^Lv2apply\.')

thread=$prefix-thread
rm -rf "$thread"
cmake -S "$root" -B "$thread" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_SANITIZE=thread -DZT_BUILD_BENCHMARKS=OFF
cmake --build "$thread" -j"$jobs" --target zt_unit_tests
(cd "$thread" && ctest --output-on-failure -R '^(HardenThreads|DiagnosticLog)\.')
