#!/usr/bin/env bash
# Builds the engine and the tests that need it under a sanitizer, and runs
# them. Only the targets each sanitizer needs are built, at -O1 -g1:
#  - address: AddressSanitizer with UndefinedBehaviorSanitizer (float-to-
#    integer overflow included, no recovery) and LeakSanitizer: the unit
#    tests, the fuzz driver at its fixed seed and count, and the host-level
#    tests, except those that hand the instrumented binary to an
#    uninstrumented program (lv2apply, zt-render) and the presets' sound
#    measures (long renders of paths the other tests already cover);
#  - thread: ThreadSanitizer on instances run from two threads at once, and
#    instantiates on several threads reading the log level.
# Usage: tests/run-sanitizers.sh address|thread [BUILD_PREFIX]
#   (default prefix: build-sanitize; the build goes to PREFIX-address or
#   PREFIX-thread and is reused by the next run)
# A longer fuzz run, in the address build this leaves behind:
#   ZT_FUZZ_ITERATIONS=20000 ZT_FUZZ_SEED=7 PREFIX-address/tests/zt_fuzz_tests
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitizer=${1:-}
prefix=${2:-$root/build-sanitize}
jobs=$(nproc 2>/dev/null || echo 2)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

case $sanitizer in
    address)
        targets=(zt_unit_tests zt_fuzz_tests zt_host_tests)
        select=(-E '^(Lv2apply|ZtRender|Presets)\.')
        ;;
    thread)
        targets=(zt_unit_tests)
        select=(-R '^(HardenThreads|DiagnosticLog)\.')
        ;;
    *)
        echo "Usage: tests/run-sanitizers.sh address|thread [BUILD_PREFIX]" >&2
        exit 2
        ;;
esac

dir=$prefix-$sanitizer
# Line tables (-g1) are all a sanitizer's report needs, and build faster.
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DZT_SANITIZE="$sanitizer" -DZT_BUILD_BENCHMARKS=OFF -DZT_BUILD_TOOLS=OFF
cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
cd "$dir"
ctest --output-on-failure -j"$jobs" "${select[@]}"
