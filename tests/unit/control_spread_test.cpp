#include <gtest/gtest.h>
#include <math.h>

#include "control/bank_recompute.h"
#include "control/bank_spread.h"
#include "control_test_bank.h"

TEST(ControlSpread, OneUnitTakesTheFirstValueWhateverTheLast) {
    EXPECT_EQ(spreadLinear(0.25f, INFINITY, 0, 1), 0.25f);
    EXPECT_EQ(spreadLinear(0.25f, NAN, 0, 1), 0.25f);
    EXPECT_EQ(spreadCurved(3.0f, NAN, NAN, 0, 1), 3.0f);
    EXPECT_EQ(geometricSpreadAt(makeGeometricSpread(440.0f, 0.0f, 1), 0), 440.0f);
}

TEST(ControlSpread, LinearEndpointsAndDownwardSpread) {
    EXPECT_EQ(spreadLinear(0.5f, 1.0f, 0, 2), 0.5f);
    EXPECT_EQ(spreadLinear(0.5f, 1.0f, 1, 2), 1.0f);
    EXPECT_EQ(spreadLinear(800.0f, 400.0f, 2, 5), 600.0f);
    EXPECT_EQ(spreadLinear(800.0f, 400.0f, 4, 5), 400.0f);
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

TEST(ControlSpread, ModulationDepthHeldToThreeHundredSamples) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 5;
    bank.modDepthFirst = 0.0f;
    bank.modDepthLast = 2.0f;
    updateModulation(bank);
    const float expected[] = {0.0f, 150.0f, 300.0f, 300.0f, 300.0f};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(bank.units[k].modDepth, expected[k]) << k;

    bank.modDepthFirst = -0.5f;
    bank.modDepthLast = -0.1f;
    updateModulation(bank);
    EXPECT_EQ(bank.units[0].modDepth, 0.0f);
    EXPECT_EQ(bank.units[4].modDepth, 0.0f);
    // NaN spreads to every unit through the fused step, and means full depth.
    bank.modDepthFirst = 0.5f;
    bank.modDepthLast = NAN;
    updateModulation(bank);
    EXPECT_EQ(bank.units[0].modDepth, 300.0f);
    EXPECT_EQ(bank.units[4].modDepth, 300.0f);
    EXPECT_EQ(bank.units[5].modDepth, 0.1f);  // above the count: default kept
}

TEST(ControlSpread, LfoStepFollowsTheRateWithinTheRingSafeRange) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 2;
    bank.modRateFirst = 0.5f;
    bank.modRateLast = 10.0f;
    updateModulation(bank);
    EXPECT_EQ(bank.units[0].lfoIncrement, 0.5f * 0.0000416666662f);
    EXPECT_EQ(bank.units[1].lfoIncrement, 10.0f * 0.0000416666662f);
    EXPECT_NEAR(bank.units[1].lfoIncrement * 48000.0f / 2.0f, 10.0f, 1e-5f);  // cycles per second

    // Negative and NaN rates stop the LFO; huge ones run it at one full
    // sweep per sample instead of carrying the read position out of the ring.
    const float rates[][2] = {{-3.0f, -1.0f}, {0.5f, NAN}, {1e30f, 1e30f}, {100000.0f, 0.0f}};
    const float steps[][2] = {{0.0f, 0.0f}, {0.0f, 0.0f}, {2.0f, 2.0f}, {2.0f, 0.0f}};
    for (int i = 0; i < 4; ++i) {
        bank.modRateFirst = rates[i][0];
        bank.modRateLast = rates[i][1];
        updateModulation(bank);
        EXPECT_EQ(bank.units[0].lfoIncrement, steps[i][0]) << i;
        EXPECT_EQ(bank.units[1].lfoIncrement, steps[i][1]) << i;
    }
    bank.unitCount = 1;
    bank.modRateFirst = -INFINITY;
    updateModulation(bank);
    EXPECT_EQ(bank.units[0].lfoIncrement, 0.0f);
    bank.modRateFirst = INFINITY;
    updateModulation(bank);
    EXPECT_EQ(bank.units[0].lfoIncrement, 2.0f);
}
