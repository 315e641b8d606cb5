#include <gtest/gtest.h>
#include <math.h>

#include "control/input_gains_modulation.h"
#include "control/bank_spread.h"
#include "control_test_bank.h"

TEST(ControlSpread, OneUnitTakesTheFirstValueWhateverTheLast) {
    EXPECT_EQ(spreadLinear(0.25f, INFINITY, 0, 1), 0.25f);
    EXPECT_EQ(spreadLinear(0.25f, NAN, 0, 1), 0.25f);
    EXPECT_EQ(spreadCurved(3.0f, NAN, NAN, 0, 1), 3.0f);
    EXPECT_EQ(geometricSpreadAt(makeGeometricSpread(440.0f, 0.0f, 1), 0), 440.0f);
}

// The last step is one fused multiply-add on t = k * (1 / (N - 1)): for these
// values neither separate rounding nor a true division k / (N - 1) agrees.
TEST(ControlSpread, LinearIsOneFusedStepOnTheReciprocalFraction) {
    const float t = 6.0f * (1.0f / 7.0f);
    const float expected = singlyRoundedSpread(0.3f, 0.7f, t);
    EXPECT_NE(expected, 0.3f + (0.7f - 0.3f) * t);
    EXPECT_EQ(spreadLinear(0.3f, 0.7f, 6, 8), expected);
    for (uint64_t count = 2; count <= kMaxUnits; ++count) {
        for (uint64_t k = 0; k < count; ++k) {
            const float tk = static_cast<float>(k) * (1.0f / static_cast<float>(count - 1));
            ASSERT_EQ(spreadLinear(0.1f, 0.9f, k, count), singlyRoundedSpread(0.1f, 0.9f, tk)) << count << " " << k;
        }
    }
}

TEST(ControlSpread, CurvedFollowsThePowerOfTheTrueFraction) {
    // Exponent 1 is the straight line by a true division.
    EXPECT_EQ(spreadCurved(2.0f, 100.0f, 1.0f, 13, 40), singlyRoundedSpread(2.0f, 100.0f, 13.0f / 39.0f));
    // Exponent 2 puts the middle unit a quarter of the way.
    EXPECT_EQ(spreadCurved(0.0f, 8.0f, 2.0f, 2, 5), 2.0f);
    EXPECT_EQ(spreadCurved(0.0f, 8.0f, 0.3f, 0, 5), 0.0f);
    EXPECT_EQ(spreadCurved(0.0f, 8.0f, 0.3f, 4, 5), 8.0f);
}

TEST(ControlSpread, GeometricCutoffsKeepTheirSinglePrecisionPath) {
    const GeometricSpread forty = makeGeometricSpread(10000.0f, 100.0f, 40);
    EXPECT_EQ(geometricSpreadAt(forty, 0), 10000.0f);
    EXPECT_NEAR(geometricSpreadAt(forty, 1), 8886.2, 0.05);
    // Not exactly 100: the base and the octave count are rounded to floats.
    EXPECT_NEAR(geometricSpreadAt(forty, 39), 99.9986, 0.00005);
    EXPECT_NE(geometricSpreadAt(forty, 39), 100.0f);
    const GeometricSpread two = makeGeometricSpread(10000.0f, 100.0f, 2);
    EXPECT_EQ(geometricSpreadAt(two, 1), nextafterf(100.0f, 200.0f));  // 100.00001
}

TEST(ControlSpread, InputGainsCoverActiveUnitsOnly) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 5;
    bank.inputGainFirst = 1.0f;
    bank.inputGainLast = 0.0f;
    bank.unitInputGain[5] = 7.0f;
    updateInputGains(bank);
    const float expected[] = {1.0f, 0.75f, 0.5f, 0.25f, 0.0f};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(bank.unitInputGain[k], expected[k]) << k;
    EXPECT_EQ(bank.unitInputGain[5], 7.0f);
}

// Depth and LFO step held to what the kernels' read position can take:
// depth 0..300 samples (NaN: 300), step 0..2 (NaN: 0). A NaN reaches unit 0
// too, through the fused step's NaN difference times 0.
TEST(ControlSpread, ModulationHeldToTheKernelsRanges) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 2;
    struct Case {
        float first, last, atFirst, atLast;
    };
    const Case depths[] = {{-0.5f, -0.1f, 0.0f, 0.0f}, {0.5f, NAN, 300.0f, 300.0f}, {0.25f, 7.0f, 75.0f, 300.0f}};
    const Case rates[] = {{0.5f, 10.0f, 0.5f * 0.0000416666662f, 10.0f * 0.0000416666662f},
                          {-3.0f, -1.0f, 0.0f, 0.0f},
                          {0.5f, NAN, 0.0f, 0.0f},
                          {1e30f, 1e30f, 2.0f, 2.0f},
                          {100000.0f, 0.0f, 2.0f, 0.0f}};
    for (const Case& test : depths) {
        bank.modDepthFirst = test.first;
        bank.modDepthLast = test.last;
        updateModulation(bank);
        EXPECT_EQ(bank.units.modDepth[0], test.atFirst) << test.first;
        EXPECT_EQ(bank.units.modDepth[1], test.atLast) << test.last;
    }
    for (const Case& test : rates) {
        bank.modRateFirst = test.first;
        bank.modRateLast = test.last;
        updateModulation(bank);
        EXPECT_EQ(bank.units.lfoIncrement[0], test.atFirst) << test.first;
        EXPECT_EQ(bank.units.lfoIncrement[1], test.atLast) << test.last;
    }
    EXPECT_EQ(bank.units.modDepth[2], 0.1f) << "above the count: default kept";
}
