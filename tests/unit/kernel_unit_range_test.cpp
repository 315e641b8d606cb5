#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>

#include "kernel_test_bank.h"
#include "kernels/unit_kernel.h"
#include "kernels/unit_kernel.h"
#include "support/unit_refs.h"

namespace {

constexpr uint32_t kN = 16;

// A unit with some history: a filled ring, feedback, modulation and taps.
void seedUnit(UnitBank& bank, uint64_t k, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    UnitRef u = unitRef(bank, k);
    setSteadyUnit(u, 1000 + 37 * k, 700 + 11 * k);
    for (uint64_t i = 0; i < kUnitRingLength; ++i) u.ring[i] = sample(rng);
    for (uint64_t i = 0; i < kUnitGuardEntries; ++i) u.ring[kUnitRingLength + i] = u.ring[i];
    u.feedback = 0.6f;
    u.modDepth = 3.0f;
    u.lfoIncrement = 0.001f;
    u.dcState = 0.1f;
    bank.unitInputGain[k] = 0.5f + 0.01f * (float)k;
    bank.tapOffsetA[k] = 300 + k;
    bank.tapOffsetB[k] = 500 + 3 * k;
}

struct Block {
    float in[kN], left[kN], right[kN];
};

Block noiseBlock(uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    Block b;
    for (uint32_t j = 0; j < kN; ++j) b.in[j] = d(rng), b.left[j] = b.right[j] = 123.0f;
    return b;
}

bool sameBits(const float* a, const float* b, uint32_t n) { return memcmp(a, b, n * sizeof(float)) == 0; }

}  // namespace

TEST(UnitKernel, IdenticalUnitsCancelInPairsAndAnOddCountLeavesOne) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    bank.filterType = FilterHighPass3;
    seedUnit(bank, 0, 1);
    for (uint64_t k = 1; k < 4; ++k) copyUnit(bank, 0, bank, k);
    EnginePtr single = cloneEngine(*engine);

    Block two = noiseBlock(9), three = noiseBlock(9), one = noiseBlock(9);
    processUnits(bank, 0, 2, two.in, two.left, two.right, kN);
    for (uint32_t j = 0; j < kN; ++j) EXPECT_EQ(bitsOf(two.left[j]) | bitsOf(two.right[j]), 0u) << j;

    EnginePtr again = cloneEngine(*single);
    processUnits(again->bank, 0, 3, three.in, three.left, three.right, kN);
    processUnits(single->bank, 0, 1, one.in, one.left, one.right, kN);
    EXPECT_TRUE(sameBits(three.left, one.left, kN));
    EXPECT_TRUE(sameBits(three.right, one.right, kN));
    EXPECT_NE(one.left[3], 0.0f);
}

TEST(UnitKernel, EachCallRestartsTheSignAndScalesByTheWholeBank) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    seedUnit(bank, 0, 2);
    copyUnit(bank, 0, bank, 21);
    bank.unitCount = 4;  // scale 1
    EnginePtr upper = cloneEngine(*engine);
    upper->bank.unitCount = 40;  // scale 1/9
    EnginePtr pristine = cloneEngine(*upper);

    Block lower = noiseBlock(4), later = noiseBlock(4);
    processUnits(bank, 0, 1, lower.in, lower.left, lower.right, kN);
    // The upper half of a routed bank: its first unit adds, whatever came before.
    processUnits(upper->bank, 21, 22, later.in, later.left, later.right, kN);
    const float ninth = 1.0f / 9.0f;
    for (uint32_t j = 0; j < kN; ++j) {
        EXPECT_EQ(bitsOf(later.left[j]), bitsOf(lower.left[j] * ninth)) << j;
        EXPECT_EQ(bitsOf(later.right[j]), bitsOf(lower.right[j] * ninth)) << j;
    }
    // Scale steps: N = 5 halves, N = 70 divides by 15.
    for (uint64_t count : {5u, 9u, 70u}) {
        EnginePtr e = cloneEngine(*pristine);
        e->bank.unitCount = count;
        Block b = noiseBlock(4);
        processUnits(e->bank, 21, 22, b.in, b.left, b.right, kN);
        const float scale = 1.0f / (float)(count / 5 + 1);
        EXPECT_EQ(bitsOf(b.left[5]), bitsOf(lower.left[5] * scale)) << count;
    }
}

TEST(AlternateUnitKernel, VisitsEverySecondUnitWithAlternatingSigns) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    bank.filterType = FilterBandPass4;
    for (uint64_t k = 0; k < 6; ++k) seedUnit(bank, k, 50 + (uint32_t)k);
    copyUnit(bank, 0, bank, 2);
    copyUnit(bank, 0, bank, 4);
    EnginePtr reference = cloneEngine(*engine);
    uint64_t startIndex[7];
    for (uint64_t k = 0; k < 7; ++k) startIndex[k] = bank.units.writeIndex[k];

    // Units 0, 2, 4 with signs +, -, +: identical units leave one of them.
    Block even = noiseBlock(8), one = noiseBlock(8);
    processAlternateUnits(bank, 0, 5, even.in, even.left, even.right, kN);
    processUnits(reference->bank, 0, 1, one.in, one.left, one.right, kN);
    EXPECT_TRUE(sameBits(even.left, one.left, kN));
    EXPECT_TRUE(sameBits(even.right, one.right, kN));
    for (uint64_t k : {1u, 3u, 5u}) expectSameUnit(unitRef(bank, k), unitRef(reference->bank, k), "skipped unit");

    // first = 1 then visits 1, 3, 5 once each; units above end stay put.
    Block odd = noiseBlock(8);
    processAlternateUnits(bank, 1, 6, odd.in, odd.left, odd.right, kN);
    for (uint64_t k = 0; k < 6; ++k) EXPECT_EQ(bank.units.writeIndex[k], startIndex[k] + kN) << k;
    EXPECT_EQ(bank.units.writeIndex[6], startIndex[6]);
}

TEST(UnitKernel, EmptyRangeWritesZerosAndEmptyBlockWritesNothing) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    seedUnit(engine->bank, 0, 3);
    seedUnit(engine->bank, 1, 4);
    EnginePtr before = cloneEngine(*engine);
    for (auto kernel : {processUnits, processAlternateUnits}) {
        Block b = noiseBlock(1);
        kernel(engine->bank, 1, 1, b.in, b.left, b.right, kN);
        for (uint32_t j = 0; j < kN; ++j) EXPECT_EQ(bitsOf(b.left[j]) | bitsOf(b.right[j]), 0u);
        Block e = noiseBlock(1);
        kernel(engine->bank, 0, 2, e.in, e.left, e.right, 0);
        for (uint32_t j = 0; j < kN; ++j) EXPECT_EQ(e.left[j] + e.right[j], 246.0f);
    }
    EXPECT_EQ(memcmp(&engine->bank, &before->bank, sizeof before->bank), 0);
}

TEST(UnitKernel, SharedBuffersGiveTheResultsOfSeparateOnes) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    for (uint64_t k = 0; k < 5; ++k) seedUnit(engine->bank, k, 70 + (uint32_t)k);
    engine->bank.filterType = FilterPeakingBoost;

    EnginePtr e1 = cloneEngine(*engine);
    Block separate = noiseBlock(5);
    processUnits(e1->bank, 0, 5, separate.in, separate.left, separate.right, kN);
    ASSERT_FALSE(sameBits(separate.left, separate.right, kN));

    // One buffer for both outputs ends with the right output.
    EnginePtr e2 = cloneEngine(*engine);
    Block same = noiseBlock(5);
    processUnits(e2->bank, 0, 5, same.in, same.left, same.left, kN);
    EXPECT_TRUE(sameBits(same.left, separate.right, kN));

    // The input buffer doubling as either output.
    EnginePtr e3 = cloneEngine(*engine);
    Block inLeft = noiseBlock(5);
    processUnits(e3->bank, 0, 5, inLeft.in, inLeft.in, inLeft.right, kN);
    EXPECT_TRUE(sameBits(inLeft.in, separate.left, kN));
    EXPECT_TRUE(sameBits(inLeft.right, separate.right, kN));

    EnginePtr e4 = cloneEngine(*engine);
    Block inRight = noiseBlock(5);
    processAlternateUnits(e4->bank, 0, 5, inRight.in, inRight.in, inRight.in, kN);
    EnginePtr e5 = cloneEngine(*engine);
    Block alt = noiseBlock(5);
    processAlternateUnits(e5->bank, 0, 5, alt.in, alt.left, alt.right, kN);
    EXPECT_TRUE(sameBits(inRight.in, alt.right, kN));
    expectSameUnit(unitRef(e4->bank, 2), unitRef(e5->bank, 2), "aliased input");
}

TEST(UnitKernel, TapsReadTheValuesWrittenTheirOffsetEarlier) {
    EngineFloatModeScope mode;
    EnginePtr pristine = makeEngine();
    UnitBank& setup = pristine->bank;
    setup.unitCount = 1;  // scale 1
    setup.filterType = static_cast<FilterType>(7);  // no filter: the loop receives input * gain as it is
    UnitRef s = unitRef(setup, 0);
    setSteadyUnit(s, 31990, 20000);
    for (uint64_t i = 0; i < kUnitRingLength; ++i) s.ring[i] = (float)i;
    for (uint64_t i = 11900; i < 12100; ++i) s.ring[i] = 0.0f;  // the main read hears silence
    for (uint64_t i = 0; i < kUnitGuardEntries; ++i) s.ring[kUnitRingLength + i] = s.ring[i];
    setup.unitInputGain[0] = 2.0f;
    setup.tapOffsetA[0] = 0;
    // Offsets beyond the ring, as huge sizes give: the index arithmetic wraps
    // in 64 bits before it is reduced to the ring, for 63993 within the block.
    for (uint64_t far : {(uint64_t)1000000000000u, (uint64_t)63993u, (uint64_t)UINT64_MAX}) {
        EnginePtr engine = cloneEngine(*pristine);
        UnitBank& bank = engine->bank;
        UnitRef u = unitRef(bank, 0);
        bank.tapOffsetB[0] = far;
        Block b = noiseBlock(12);
        float in[kN];
        memcpy(in, b.in, sizeof in);
        processUnits(bank, 0, 1, b.in, b.left, b.right, kN);
        ASSERT_EQ(u.writeIndex, 6u);
        for (uint32_t j = 0; j < kN; ++j) {
            // Offset 0: the value written at sample j itself, across the write wrap.
            EXPECT_EQ(b.left[j], in[j] * 2.0f) << j;
            const unsigned __int128 wrapped =
                ((unsigned __int128)u.writeIndex + 64000 - kN + j + ((unsigned __int128)1 << 64) - far) %
                ((unsigned __int128)1 << 64);
            EXPECT_EQ(b.right[j], u.ring[(uint64_t)(wrapped % kUnitRingLength)]) << far << " " << j;
        }
        EXPECT_EQ(u.ring[32001], in[11] * 2.0f);  // the guard copy of entry 1
    }
}
