// The seeded fuzz run. CI runs the fixed seed and iteration count below;
// a longer search is
//   ZT_FUZZ_ITERATIONS=20000 ZT_FUZZ_SEED=7 build-asan/tests/zt_fuzz_tests
// in a build configured with -DZT_SANITIZE=address.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "fuzz/lv2_fuzz_driver.h"
#include "shell/stereo_descriptor.h"

namespace {

// SplitMix64: small, fast, and the same sequence on every machine.
struct SeededSource {
    uint64_t state;
    uint32_t bits() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>((static_cast<uint64_t>(bits()) * bound) >> 32); }
};

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
    const char* text = getenv(name);
    return text != nullptr && *text != '\0' ? strtoull(text, nullptr, 10) : fallback;
}

constexpr uint64_t kDefaultIterations = 300;
constexpr uint32_t kStepsPerIteration = 40;

struct FuzzedPlugin {
    const char* name;
    fuzz::PluginShape (*shape)();
};
const FuzzedPlugin kPlugins[] = {
    {"mono", fuzz::monoShape},
    {"stereo", [] { return fuzz::PluginShape{stereoDescriptor(), 28, 2}; }},
};

void PrintTo(const FuzzedPlugin& plugin, std::ostream* out) { *out << plugin.name; }

class LV2Fuzz : public ::testing::TestWithParam<FuzzedPlugin> {};

TEST_P(LV2Fuzz, AnySequenceOfCallsIsSafeAndLeavesInstancesThatRecover) {
    const uint64_t iterations = fromEnvironment("ZT_FUZZ_ITERATIONS", kDefaultIterations);
    const uint64_t seed = fromEnvironment("ZT_FUZZ_SEED", 1);
    fuzz::Statistics total;
    for (uint64_t iteration = 0; iteration < iterations; ++iteration) {
        SeededSource source{seed * 0x100000001B3ull + iteration};
        fuzz::Driver driver(GetParam().shape());
        ASSERT_TRUE(driver.ready());
        for (uint32_t s = 0; s < kStepsPerIteration; ++s) driver.step(source);
        ASSERT_TRUE(driver.everyInstanceRecovers(source))
            << "seed " << seed << " iteration " << iteration << " left an instance that stays non-finite";
        total.steps += driver.statistics().steps;
        total.runs += driver.statistics().runs;
        total.samples += driver.statistics().samples;
        total.instances += driver.statistics().instances;
    }
    printf("fuzz: seed %llu, %llu iterations, %llu calls, %llu runs, %llu samples, %llu instances\n",
           static_cast<unsigned long long>(seed), static_cast<unsigned long long>(iterations),
           static_cast<unsigned long long>(total.steps), static_cast<unsigned long long>(total.runs),
           static_cast<unsigned long long>(total.samples), static_cast<unsigned long long>(total.instances));
    EXPECT_GT(total.runs, iterations * 5) << "the driver must mostly run, not only set ports";
}

INSTANTIATE_TEST_SUITE_P(Plugins, LV2Fuzz, ::testing::ValuesIn(kPlugins),
                         [](const ::testing::TestParamInfo<FuzzedPlugin>& info) { return info.param.name; });

}  // namespace
