#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "kernel_test_bank.h"
#include "kernels/block_bounds.h"
#include "kernels/kernel_path.h"
#include "kernels/unit_kernel.h"
#include "kernels/vector_kernel_avx2.h"
#include "kernels/vector_kernel_avx512.h"
#include "kernels/vector_kernel_sse2.h"
#include "kernels/vector_unit_job.h"
#include "support/unit_refs.h"

namespace {

const KernelPath kVectorPaths[] = {KernelPath::Sse2, KernelPath::Avx2, KernelPath::Avx512};

// Modulation from none to the extremes the control stage allows; the small
// steps keep most blocks inside the vector kernels' lookup windows, the
// large ones force the per-sample form.
const float kDepths[] = {0.0f, 0.5f, 12.0f, 150.0f, 300.0f};
const float kSteps[] = {0.0f, 1.0e-7f, 0.0000166f, 0.0004166f, 0.01f, 0.3f};

void seedBank(UnitBank& bank, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    bank.unitCount = kMaxUnits;
    for (uint64_t k = 0; k < kMaxUnits; ++k) {
        UnitRef u = unitRef(bank, k);
        setSteadyUnit(u, rng() % kUnitRingLength, 301 + rng() % 31000);
        for (uint64_t i = 0; i < kUnitRingLength; ++i) u.ring[i] = 2.0f * unit(rng) - 1.0f;
        for (uint64_t i = 0; i < kUnitGuardEntries; ++i) u.ring[kUnitRingLength + i] = u.ring[i];
        // A fractional read pointer, as glides leave it.
        u.readPhase = u.readPhase + (float)(rng() % 1024) / 1024.0f;
        if (u.readPhase >= 32000.0f) u.readPhase -= 32000.0f;
        u.feedback = 0.5f + 0.45f * unit(rng);
        u.decayMs = 200.0f + 2000.0f * unit(rng);
        // The first units unmodulated, so that whole vectors of them read
        // straight runs of their rings.
        u.modDepth = k < 24 ? 0.0f : kDepths[k % 5];
        u.lfoIncrement = kSteps[k % 6];
        u.lfoPhase = 2.0f * unit(rng) - 1.0f;
        u.dcState = 0.1f * unit(rng);
        bank.unitInputGain[k] = 0.5f + unit(rng);
        // Mostly inside the loop, some within a block of a whole turn or of
        // two (across a write wrap, those wrap the 64-bit index) or beyond.
        bank.tapOffsetA[k] = rng() % 4 == 0 ? 31980 + rng() % 40 : rng() % 8 == 0 ? 63980 + rng() % 20 : rng() % 30000;
        bank.tapOffsetB[k] = rng() % 8 == 0 ? rng() % 20 : rng() % 40000;
        for (auto& set : bank.ladderSets) {
            LadderRef r = ladderRef(set, k);
            // Every field its own value, so that no two can be mixed up
            // unnoticed (the control stage sets the four poles alike).
            r.resonance = 3.0f * unit(rng);
            r.inputCompensation = 0.2f * unit(rng);
            r.feedbackScale = 0.5f + unit(rng);
            r.pole1 = 0.1f + 0.85f * unit(rng);
            r.pole2 = 0.1f + 0.85f * unit(rng);
            r.pole3 = 0.1f + 0.85f * unit(rng);
            r.pole4 = 0.1f + 0.85f * unit(rng);
            r.state1 = 0.1f * unit(rng);
            r.state2 = 0.1f * unit(rng);
            r.state3 = 0.1f * unit(rng);
            r.lastOutput = 0.1f * unit(rng);  // differs from state4 until the first block
        }
    }
}

// Control-like changes between blocks: length requests (also during a
// glide, and equal to the length), new modulation, another filter type.
void disturb(UnitBank& bank, std::mt19937& rng, int block) {
    if (rng() % 6 == 0) {
        UnitRef u = unitRef(bank, rng() % kMaxUnits);
        int64_t target = (int64_t)u.length + (int64_t)(rng() % 3000) - 1500;
        if (rng() % 5 == 0) target = (int64_t)u.length;
        // Glides so short that they end in the block that starts them.
        if (rng() % 4 == 0) target = (int64_t)u.length + (int64_t)(rng() % 5) - 2;
        if (target < 301) target = 301;
        if (target > 31999) target = 31999;
        u.pendingLength = (uint64_t)target;
    }
    if (rng() % 100 == 0) {
        UnitRef u = unitRef(bank, rng() % kMaxUnits);
        u.modDepth = kDepths[rng() % 5];
        u.lfoIncrement = kSteps[rng() % 6];
    }
    if (block % 250 == 0) bank.filterType = static_cast<FilterType>((int32_t)(rng() % 9) - 1);
}

class VectorPath : public ::testing::TestWithParam<KernelPath> {
protected:
    void SetUp() override {
        if (!kernelPathSupported(GetParam())) GTEST_SKIP() << kernelPathName(GetParam()) << " not on this CPU";
    }
};

std::string pathName(const ::testing::TestParamInfo<KernelPath>& info) { return kernelPathName(info.param); }

}  // namespace

// Whether the lanes may take unit k's next n samples (the glide's own end is
// measured inside the block, not here): a statistic of how the runs split.
bool lanesMayTake(const UnitBank& bank, uint64_t k, uint32_t n) {
    const ChainUnits& u = bank.units;
    const BlockStart<float> start = {(float)u.writeIndex[k], u.lfoPhase[k], u.lfoIncrement[k],
                                     u.readPhase[k], u.readSpeed[k], u.modDepth[k]};
    return n <= kBlockLength && fitsLanes(start, (float)n);
}

// Long runs over a full bank in the three arrangements the block loop uses,
// with glides, length requests, modulation up to the limits, every filter
// type, taps that read the block's own writes, pieces of every length up to
// a block and now and then a longer one: outputs, unit records and filter
// states bit for bit.
TEST_P(VectorPath, UnitBankMatchesTheOracleBitForBit) {
    EngineFloatModeScope mode;
    EnginePtr fast = makeEngine();
    std::mt19937 rng(77);
    seedBank(fast->bank, rng);
    EnginePtr oracle = cloneEngine(*fast);

    uint64_t vectorBlocks = 0, otherBlocks = 0, glidingVectorBlocks = 0, glidesEnded = 0;
    bool wasGliding[kMaxUnits] = {};
    const auto shapeOf = [](int block, std::mt19937& r) {
        // The three arrangements the block loop uses; pieces of every length
        // the block loop passes, and now and then a longer one, which the
        // vector kernels leave to the units one by one.
        const uint32_t n = block % 37 == 0 ? 1 + r() % kMaxKernelBlock : block % 5 == 0 ? 1 + r() % 16 : kBlockLength;
        return BlockShape{n, (block % 3 == 0) ? kMaxUnits / 2 : (uint64_t)(block % 2), kMaxUnits,
                          1 + (uint64_t)(block % 2)};
    };
    const auto inspect = [&](const UnitBank& bank, const BlockShape& shape) {
        for (uint64_t k = 0; k < kMaxUnits; ++k) {
            const UnitRef u = unitRef(bank, k);
            if (wasGliding[k] && !u.gliding) ++glidesEnded;
            wasGliding[k] = u.gliding;
            if (k < shape.first || (k - shape.first) % shape.stride != 0) continue;
            if (lanesMayTake(bank, k, shape.n)) {
                ++vectorBlocks;
                if (u.gliding) ++glidingVectorBlocks;
            } else {
                ++otherBlocks;
            }
        }
    };
    runAgainstOracle(*fast, *oracle, GetParam(), 12000, rng, disturb, shapeOf, inspect);

    // Both forms really ran, glides included, and glides came to their end.
    EXPECT_GT(vectorBlocks, 100000u);
    EXPECT_GT(otherBlocks, 10000u);
    EXPECT_GT(glidingVectorBlocks, 1000u);
    EXPECT_GT(glidesEnded, 200u);
}

INSTANTIATE_TEST_SUITE_P(KernelSimd, VectorPath, ::testing::ValuesIn(kVectorPaths), pathName);

// Unmodulated units read straight runs of their rings, until the read
// pointer crosses a power of two: there its finest fraction bit rounds
// away and the positions are no longer r_0 + j.
TEST_P(VectorPath, ReadPointerCrossingAPowerOfTwoKeepsItsRounding) {
    EngineFloatModeScope mode;
    EnginePtr fast = makeEngine();
    std::mt19937 rng(3);
    seedBank(fast->bank, rng);
    for (uint64_t k = 0; k < kMaxUnits; ++k) {
        UnitRef u = unitRef(fast->bank, k);
        u.modDepth = 0.0f;
        // Fractions down to 2^-10, the finest below 16384 and half of one above.
        const float below = 16384.0f - (float)(k % 24) - (float)(1 + 2 * (k % 7)) / 1024.0f;
        u.readPhase = below;
        u.writeIndex = 16384 + 5000 + k;
    }
    EnginePtr oracle = cloneEngine(*fast);
    const auto shapeOf = [](int, std::mt19937&) { return BlockShape{kBlockLength, 0, kMaxUnits, 1}; };
    runAgainstOracle(*fast, *oracle, GetParam(), 4, rng, [](UnitBank&, std::mt19937&, int) {}, shapeOf,
                     [](const UnitBank&, const BlockShape&) {});
}

// Without resonance a single ladder pass runs in its open form. Silence and
// signed zeros (every third stretch of the input), gains too small for x * a
// to stay a normal float, feedback scales of 0 under a resonance (the input
// factor then is not 1) and gains so large that the ladder overflows (the
// block then runs again closed) must all keep the oracle's bits.
TEST_P(VectorPath, LadderWithoutFeedbackMatchesTheOracleBitForBit) {
    struct Case {
        const char* name;
        float resonance, feedbackScale, gain;
    };
    const Case cases[] = {
        {"no resonance", 0.0f, 1.0f, 1.0f},
        {"negative zero resonance", -0.0f, 1.0f, -1.0f},
        {"feedback scale 0", 2.0f, 0.0f, 1.0f},
        {"gains near 2^-40", 0.0f, 1.0f, 0x1p-40f},
        {"gains that overflow", 0.0f, 1.0f, 3.0e38f},
    };
    const FilterType singlePasses[] = {FilterBandPass2, FilterBandPass4, FilterLowPass4, FilterHighPass3,
                                       FilterPeakingBoost};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFloatModeScope mode;
        EnginePtr fast = makeEngine();
        std::mt19937 rng(11);
        seedBank(fast->bank, rng);
        for (uint64_t k = 0; k < kMaxUnits; ++k) {
            fast->bank.unitInputGain[k] = c.gain * (k % 2 == 0 ? 1.0f : 1.5f);
            for (auto& set : fast->bank.ladderSets) {
                LadderRef r = ladderRef(set, k);
                r.resonance = c.resonance;
                r.feedbackScale = c.feedbackScale;
            }
        }
        EnginePtr oracle = cloneEngine(*fast);
        const auto shapeOf = [](int block, std::mt19937& r) {
            return BlockShape{block % 4 == 0 ? 1 + (uint32_t)(r() % 16) : kBlockLength, (uint64_t)(block % 2), kMaxUnits,
                              1 + (uint64_t)(block % 2)};
        };
        const auto disturb = [&](UnitBank& bank, std::mt19937&, int block) { bank.filterType = singlePasses[block / 300 % 5]; };
        runAgainstOracle(*fast, *oracle, GetParam(), 1500, rng, disturb, shapeOf, [](const UnitBank&, const BlockShape&) {});
    }
}

namespace {

VectorKernel vectorKernelOf(KernelPath path) {
    switch (path) {
        case KernelPath::Sse2: return runUnitsSse2;
        case KernelPath::Avx2: return runUnitsAvx2;
        default: return runUnitsAvx512;
    }
}

uint32_t unitsRunAlone = 0;
void countAlone(UnitBank&, uint64_t, const float*, float* left, float* right, uint32_t n) {
    ++unitsRunAlone;
    for (uint32_t j = 0; j < n; ++j) left[j] = right[j] = 0.0f;
}

}  // namespace

// The wraps of the write position (all units write at the same position, so
// they would all leave the lanes in the same block), its guard copies and
// the read pointer's wrap stay in the lanes, with the oracle's bits.
TEST_P(VectorPath, WrapsOfTheRingStayInTheLanes) {
    struct Case {
        const char* name;
        uint64_t writeIndex;
        float readPhase;  // < 0: a steady loop of 20000
        float depth;
    };
    const Case cases[] = {
        {"write wrap", 31990, -1.0f, 3.0f},
        {"guard copies", 2, -1.0f, 3.0f},
        {"read pointer wrap", 20000, 31995.5f, 0.0f},
        {"read position wrap", 20000, 31700.25f, 300.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFloatModeScope mode;
        EnginePtr fast = makeEngine();
        std::mt19937 rng(5);
        seedBank(fast->bank, rng);
        for (uint64_t k = 0; k < kMaxUnits; ++k) {
            UnitRef u = unitRef(fast->bank, k);
            setSteadyUnit(u, c.writeIndex, 20000);
            if (c.readPhase >= 0.0f) u.readPhase = c.readPhase - (float)(k % 8);
            u.modDepth = c.depth;
            u.lfoIncrement = 0.0001f;
            u.feedback = 0.5f;
        }
        EnginePtr oracle = cloneEngine(*fast);
        alignas(64) float contribLeft[kMaxUnits][kBlockLength], contribRight[kMaxUnits][kBlockLength];
        float in[kBlockLength], sumLeft[kBlockLength], sumRight[kBlockLength], left[kBlockLength], right[kBlockLength];
        for (uint32_t j = 0; j < kBlockLength; ++j) in[j] = (float)(j + 1) * 0.05f;
        unitsRunAlone = 0;
        const VectorUnitJob job = {&fast->bank, in,        0,           1,         (uint32_t)kMaxUnits, kBlockLength,
                                   countAlone,  contribLeft, contribRight, sumLeft, sumRight};
        vectorKernelOf(GetParam())(job);
        EXPECT_EQ(unitsRunAlone, 0u);
        processUnitRange(oracle->bank, 0, kMaxUnits, 1, in, left, right, kBlockLength, KernelPath::Oracle);
        const float scale = 1.0f / (float)(kMaxUnits / 5 + 1);
        for (uint32_t j = 0; j < kBlockLength; ++j) {
            EXPECT_EQ(bitsOf(sumLeft[j] * scale), bitsOf(left[j])) << j;
            EXPECT_EQ(bitsOf(sumRight[j] * scale), bitsOf(right[j])) << j;
        }
        for (uint64_t k = 0; k < kMaxUnits; ++k) expectSameUnit(unitRef(fast->bank, k), unitRef(oracle->bank, k), c.name);
    }
}
