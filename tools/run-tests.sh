#!/usr/bin/env bash
# Installs what the build and the tests need, configures a fresh build
# directory, builds everything and runs the whole test suite.
# Usage: tools/run-tests.sh [BUILD_DIR]   (default: build-tests)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-tests}
. "$root/tools/debian-packages.sh"

ensure_debian_packages cmake make g++ pkg-config binutils \
    libgtest-dev libbenchmark-dev lv2-dev lilv-utils liblilv-dev sordi sox valgrind

jobs=$(nproc 2>/dev/null || echo 2)
rm -rf "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
cd "$build"
ctest --output-on-failure -j"$jobs"

# The engine and its tests again under the address, undefined-behaviour and
# thread sanitizers, in build directories of their own.
"$root/tests/run-sanitizers.sh" "$build-sanitize"
