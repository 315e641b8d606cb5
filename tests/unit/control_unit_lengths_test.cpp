#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <vector>

#include "control/feedback_gains.h"
#include "control/unit_lengths.h"
#include "control_test_bank.h"
#include "support/unit_refs.h"

namespace {

std::vector<int> drawsAfterSeed(unsigned seed, int count) {
    srand(seed);
    std::vector<int> draws(count);
    for (int& draw : draws) draw = rand();
    return draws;
}

// Where a tap should land for a float length and a draw, to within the
// truncation and the rounding of the single-precision path.
void expectTapNear(uint64_t tap, int draw, double floatLength, const char* which, uint64_t k) {
    const double expected = (0.9 + draw * 0x1p-31) * (floatLength * 0.5);
    EXPECT_NEAR(static_cast<double>(tap), expected, 1.5) << which << " of unit " << k;
}

}  // namespace

TEST(ControlUnitLengths, DefaultBankPostsTheStraightLineLengths) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;  // 40 units, sizes 2..100, exponent 1, no jitter
    postUnitLengths(bank);
    updateFeedbackGains(bank);  // as every port that posts lengths has it follow
    const uint64_t expected[] = {301, 657, 1021, 1389, 1753, 2127, 2487, 2851};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(bank.units.pendingLength[k], expected[k]) << k;
    EXPECT_EQ(bank.units.pendingLength[39], 14549u);
    for (uint64_t k = 0; k < 40; ++k) {
        EXPECT_EQ(bank.units.length[k], 16000u) << "the kernel glides, control only requests";
        EXPECT_EQ(bank.units.pendingLength[k] % 2, 1u) << k;
    }
    for (uint64_t k = 40; k < kMaxUnits; ++k) {
        EXPECT_EQ(bank.units.pendingLength[k], 0u) << k;
        EXPECT_EQ(bank.tapOffsetA[k], 0u) << k;
    }
    // The gains follow the current length, not the request.
    EXPECT_EQ(bank.units.feedback[0], bank.units.feedback[39]);
    EXPECT_GT(bank.units.feedback[0], 0.0f);
}

TEST(ControlUnitLengths, CountRule) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    const float values[] = {0.0f, 0.7f, -3.0f, NAN, -INFINITY, 1.0f, 2.99f, 70.9f, 500.0f, INFINITY, 1e30f};
    const uint64_t counts[] = {1, 1, 1, 1, 1, 1, 2, 70, 70, 70, 70};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        setUnitCount(bank, values[i]);
        EXPECT_EQ(bank.unitCount, counts[i]) << values[i];
    }
}

// Seeded by the count, two draws per unit without jitter: the bank's
// generator is left exactly 140 draws past the C library's srand(70),
// whatever it held before.
TEST(ControlUnitLengths, SeededWithTheCount) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    const std::vector<int> draws = drawsAfterSeed(70, 141);
    setUnitCount(bank, 500.0f);
    seedRandom(bank.random, 12345);
    postUnitLengths(bank);
    EXPECT_EQ(nextRandom(bank.random), draws[140]);
    std::vector<uint64_t> taps(bank.tapOffsetA, bank.tapOffsetA + 70);
    nextRandom(bank.random);
    postUnitLengths(bank);
    EXPECT_EQ(std::vector<uint64_t>(bank.tapOffsetA, bank.tapOffsetA + 70), taps);
}

// Jitter draw, then tap A, then tap B, unit after unit.
TEST(ControlUnitLengths, DrawOrderWithJitter) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 3;
    bank.lengthJitter = 0.5f;
    const std::vector<int> draws = drawsAfterSeed(3, 9);
    postUnitLengths(bank);
    for (uint64_t k = 0; k < 3; ++k) {
        const double size = 2.0 + 98.0 * k / 2.0;
        const double jittered = size * (1.0 + draws[3 * k] * 0x1p-32 * 0.5);
        const double floatLength = 48000.0 / 330.0 * jittered;
        expectTapNear(bank.tapOffsetA[k], draws[3 * k + 1], floatLength, "tap A", k);
        expectTapNear(bank.tapOffsetB[k], draws[3 * k + 2], floatLength, "tap B", k);
        EXPECT_GE(static_cast<double>(bank.units.pendingLength[k]), std::max(301.0, floor(floatLength) - 1)) << k;
    }
}

// One unit: no reseed, no curve, no jitter; the two tap draws continue the
// bank generator's current sequence.
TEST(ControlUnitLengths, SingleUnitUsesTheFirstSizeAlone) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 1;
    bank.sizeFirst = 50.0f;
    bank.sizeLast = NAN;
    bank.distributionCurve = NAN;
    bank.lengthJitter = 1.0f;
    const std::vector<int> draws = drawsAfterSeed(9, 3);
    seedRandom(bank.random, 9);
    postUnitLengths(bank);
    EXPECT_EQ(nextRandom(bank.random), draws[2]);
    const double floatLength = 48000.0 / 330.0 * 50.0;
    EXPECT_EQ(bank.units.pendingLength[0], 7281u);  // 7273..7279 have factors tried; 9 x 809 passes
    expectTapNear(bank.tapOffsetA[0], draws[0], floatLength, "tap A", 0);
    expectTapNear(bank.tapOffsetB[0], draws[1], floatLength, "tap B", 0);
    EXPECT_EQ(bank.units.pendingLength[1], 0u);
}

// NaN reaches unit 0 too: the fused step multiplies a NaN difference by 0.
TEST(ControlUnitLengths, SillySizesStayInBoundsAndTapsSaturate) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 2;
    const uint64_t kSome = 1;  // a tap neither 0 nor saturated
    struct Case {
        float first, last;
        uint64_t lengths[2], taps[2];
    };
    const Case cases[] = {
        {1e30f, 1e30f, {31999, 31999}, {UINT64_MAX, UINT64_MAX}},
        {-5.0f, NAN, {301, 301}, {0, 0}},
        {0.0f, INFINITY, {301, 31999}, {0, UINT64_MAX}},
        {0.0f, 3e9f, {301, 31999}, {0, kSome}},
    };
    for (const Case& test : cases) {
        bank.sizeFirst = test.first;
        bank.sizeLast = test.last;
        postUnitLengths(bank);
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(bank.units.pendingLength[k], test.lengths[k]) << test.last << " " << k;
            for (uint64_t tap : {bank.tapOffsetA[k], bank.tapOffsetB[k]}) {
                if (test.taps[k] == kSome) {
                    EXPECT_TRUE(tap > 0 && tap < UINT64_MAX) << test.last << " " << k;
                } else {
                    EXPECT_EQ(tap, test.taps[k]) << test.last << " " << k;
                }
            }
        }
    }
    // A NaN jitter counts as switched on and spoils every size.
    bank.sizeFirst = 2.0f;
    bank.sizeLast = 100.0f;
    bank.lengthJitter = NAN;
    postUnitLengths(bank);
    EXPECT_EQ(bank.units.pendingLength[1], 301u);
    EXPECT_EQ(bank.tapOffsetA[1], 0u);
}

// A request waits until the kernel takes it over: an equal length posts
// nothing, so a second recomputation keeps the first one's request where
// its own length equals the current one.
TEST(ControlUnitLengths, RequestsOnlyForChangedLengths) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    postUnitLengths(bank);
    std::vector<uint64_t> straight(40);
    for (uint64_t k = 0; k < 40; ++k) straight[k] = bank.units.pendingLength[k];

    bank.sizeLast = 50.0f;
    postUnitLengths(bank);
    std::vector<uint64_t> shorter(40);
    for (uint64_t k = 0; k < 40; ++k) shorter[k] = bank.units.pendingLength[k];

    // Even units settled on the straight lengths, odd ones still at 16000.
    for (uint64_t k = 0; k < 40; ++k) {
        UnitRef unit = unitRef(bank, k);
        unit.pendingLength = 0;
        unit.length = k % 2 == 0 ? straight[k] : 16000;
    }
    postUnitLengths(bank);  // shorter sizes again: posts for every unit but 0
    bank.sizeLast = 100.0f;
    postUnitLengths(bank);  // back to straight: the even units keep the shorter request
    EXPECT_EQ(bank.units.pendingLength[0], 0u) << "301 either way";
    for (uint64_t k = 1; k < 40; ++k) {
        const uint64_t expected = k % 2 == 0 ? shorter[k] : straight[k];
        EXPECT_EQ(bank.units.pendingLength[k], expected) << k;
    }
}
