#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>

#include "kernel_test_bank.h"
#include "kernels/delay_line.h"
#include "kernels/unit_kernel.h"
#include "support/unit_refs.h"

namespace {

constexpr uint64_t kUnits = 9;

// Modulation settings from none to the extremes the control stage allows,
// including steps that land exactly on the wrap at 1.0.
const float kDepths[] = {0.0f, 0.5f, 12.0f, 150.0f, 300.0f};
const float kSteps[] = {0.0f, 1.0e-7f, 0.0004166f, 0.01f, 0.125f, 0.25f, 0.3f, 2.0f};

void seedBank(UnitBank& bank, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    bank.unitCount = kUnits;
    for (uint64_t k = 0; k < kUnits; ++k) {
        UnitRef u = unitRef(bank, k);
        setSteadyUnit(u, rng() % kUnitRingLength, 301 + rng() % 20000);
        u.feedback = 0.5f + 0.45f * unit(rng);
        u.decayMs = 200.0f + 2000.0f * unit(rng);
        u.modDepth = kDepths[k % 5];
        u.lfoIncrement = kSteps[k % 8];
        u.lfoPhase = 2.0f * unit(rng) - 1.0f;
        bank.unitInputGain[k] = 0.5f + unit(rng);
        bank.tapOffsetA[k] = rng() % 40000;
        bank.tapOffsetB[k] = rng() % 40000;
        for (auto& set : bank.ladderSets) {
            LadderRef r = ladderRef(set, k);
            r.resonance = 3.0f * unit(rng);
            r.pole1 = r.pole2 = r.pole3 = r.pole4 = 0.1f + 0.85f * unit(rng);
        }
    }
}

// Control-like changes between blocks: length requests (also during a
// glide, and equal to the length), new modulation, another filter type.
void disturb(UnitBank& bank, std::mt19937& rng, int block) {
    if (rng() % 40 == 0) {
        UnitRef u = unitRef(bank, rng() % kUnits);
        const int64_t step = (int64_t)(rng() % 3000) - 1500;
        int64_t target = (int64_t)u.length + step;
        if (rng() % 5 == 0) target = (int64_t)u.length;
        if (target < 301) target = 301;
        if (target > 31999) target = 31999;
        u.pendingLength = (uint64_t)target;
    }
    if (rng() % 150 == 0) {
        UnitRef u = unitRef(bank, rng() % kUnits);
        u.modDepth = kDepths[rng() % 5];
        u.lfoIncrement = kSteps[rng() % 8];
    }
    if (block % 300 == 0) bank.filterType = static_cast<FilterType>((int32_t)(rng() % 9) - 1);
}

}  // namespace

TEST(DelayLineFastPath, AgreesWithTheFullProcedureOverLongRuns) {
    EngineFloatModeScope mode;
    EnginePtr fast = makeEngine();
    std::mt19937 rng(2024);
    seedBank(fast->bank, rng);
    EnginePtr full = cloneEngine(*fast);

    uint64_t quiet = 0, eventful = 0, glidesEnded = 0;
    bool wasGliding[kUnits] = {};
    const auto shapeOf = [](int block, std::mt19937& r) {
        // The three arrangements the block loop uses, at every block length.
        const uint32_t n = 1 + r() % kMaxKernelBlock;
        return BlockShape{n, (block % 3 == 0) ? kUnits / 2 : (uint64_t)(block % 2), kUnits, 1 + (uint64_t)(block % 2)};
    };
    const auto inspect = [&](const UnitBank& bank, const BlockShape& shape) {
        for (uint64_t k = 0; k < kUnits; ++k) {
            if (wasGliding[k] && !bank.units.gliding[k]) ++glidesEnded;
            if (delayLineIsQuiet(bank.units, k, shape.n)) {
                ++quiet;
            } else {
                ++eventful;
            }
            wasGliding[k] = bank.units.gliding[k];
        }
    };
    runAgainstOracle(*fast, *full, KernelPath::Scalar, 5000, rng, disturb, shapeOf, inspect);

    // Both ways really ran, and glides came to their end.
    EXPECT_GT(quiet, 10000u);
    EXPECT_GT(eventful, 1000u);
    EXPECT_GT(glidesEnded, 20u);
}

TEST(DelayLineFastPath, QuietBlocksNeverReachAWrapOrTheRingEnd) {
    // Simulates the LFO phase and read positions of candidate blocks right
    // at the edges of the quiet test, with the float arithmetic of the loop.
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitRef u = unitRef(engine->bank, 0);
    setSteadyUnit(u, 1000, 5000);
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    uint64_t admitted = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        const uint32_t n = 1 + rng() % kMaxKernelBlock;
        // Steps from tiny to large, phases just below the wrap.
        u.lfoIncrement = ldexpf(unit(rng), -(int)(rng() % 30));
        const float room = (float)(n + 1) * u.lfoIncrement * (0.9f + 0.2f * unit(rng));
        u.lfoPhase = (rng() % 4 == 0) ? nextafterf(1.0f, 0.0f) - unit(rng) * 1e-6f : 1.0f - room;
        if (!(u.lfoPhase >= -1.0f)) u.lfoPhase = -1.0f;
        u.modDepth = (rng() % 3 == 0) ? 300.0f : unit(rng) * 300.0f;
        u.readSpeed = 1.0f;
        u.readPhase = 32000.0f - (float)n - 2.0f * u.modDepth - 4.0f * unit(rng);
        if (!delayLineIsQuiet(engine->bank.units, 0, n)) continue;
        ++admitted;
        float p = u.lfoPhase, rp = u.readPhase;
        for (uint32_t j = 0; j < n; ++j) {
            p = p + u.lfoIncrement;
            ASSERT_LT(p, 1.0f) << trial;
            const float r = rp + (1.0f + u.modDepth * (1.0f + fabsf(p)));
            ASSERT_LT(r, 32000.0f) << trial;
            ASSERT_GE(r, 1.0f) << trial;
            rp = rp + u.readSpeed;
            ASSERT_LT(rp, 32000.0f) << trial;
        }
    }
    EXPECT_GT(admitted, 10000u);
}

TEST(DelayLineFastPath, QuietTestAdmitsOrdinaryBlocksAndRefusesEvents) {
    EnginePtr engine = makeEngine();
    UnitRef u = unitRef(engine->bank, 0);
    setSteadyUnit(u, 1000, 5000);
    u.modDepth = 300.0f;
    u.lfoIncrement = 0.0004166f;
    EXPECT_TRUE(delayLineIsQuiet(engine->bank.units, 0, kBlockLength));
    EXPECT_TRUE(delayLineIsQuiet(engine->bank.units, 0, kMaxKernelBlock));

    const auto refused = [&](void (*change)(UnitRef), uint32_t n) {
        copyUnit(engine->bank, 0, engine->bank, 1);
        change(unitRef(engine->bank, 1));
        return !delayLineIsQuiet(engine->bank.units, 1, n);
    };
    EXPECT_TRUE(refused([](UnitRef c) { c.pendingLength = 700; }, 1));
    EXPECT_TRUE(refused([](UnitRef c) { c.gliding = true; }, 1));
    EXPECT_TRUE(refused([](UnitRef c) { c.writeIndex = 4; }, 1));  // guard copy
    EXPECT_FALSE(refused([](UnitRef c) { c.writeIndex = 5; }, 1));
    EXPECT_TRUE(refused([](UnitRef c) { c.writeIndex = 31999 - 15; }, 16));  // wraps after the block's last write
    EXPECT_FALSE(refused([](UnitRef c) { c.writeIndex = 31999 - 16; }, 16));
    EXPECT_TRUE(refused([](UnitRef c) { c.lfoPhase = 1.0f - 16.0f * c.lfoIncrement; }, 16));
    EXPECT_TRUE(refused([](UnitRef c) { c.readPhase = 31500.0f; }, 16));  // the deep read wraps
    EXPECT_TRUE(refused([](UnitRef c) { c.modDepth = -1.0f; }, 16));
    EXPECT_TRUE(refused([](UnitRef c) { c.modDepth = NAN; }, 16));
    EXPECT_TRUE(refused([](UnitRef c) { c.lfoIncrement = -1.0e-3f; }, 16));
    EXPECT_TRUE(refused([](UnitRef c) { c.lfoIncrement = NAN; }, 16));
}
