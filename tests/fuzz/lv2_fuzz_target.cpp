// libFuzzer entry: the same driver, steered by the fuzzer's bytes instead
// of a seeded generator. Built with clang only (see tests/hardening.cmake):
//   CC=clang CXX=clang++ cmake -B build-libfuzzer -DZT_LIBFUZZER=ON -DZT_SANITIZE=address -DZT_BUILD_BENCHMARKS=OFF
//   cmake --build build-libfuzzer --target zt_libfuzzer
//   build-libfuzzer/tests/zt_libfuzzer -max_total_time=600 corpus/
#include <stddef.h>
#include <stdint.h>

#include "fuzz/lv2_fuzz_driver.h"

namespace {

// Four bytes per draw while they last, zeros after.
struct ByteSource {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool exhausted() const { return at >= size; }
    uint32_t bits() {
        uint32_t value = 0;
        for (int k = 0; k < 4 && at < size; ++k) value |= static_cast<uint32_t>(data[at++]) << (8 * k);
        return value;
    }
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>((static_cast<uint64_t>(bits()) * bound) >> 32); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource source{data, size};
    fuzz::Driver driver;
    for (int steps = 0; steps < 200 && !source.exhausted(); ++steps) driver.step(source);
    if (!driver.everyInstanceRecovers(source)) __builtin_trap();  // an instance stayed broken
    return 0;
}
