#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "engine/loop_gain.h"
#include "kernel_test_bank.h"
#include "kernels/delay_line.h"
#include "kernels/unit_constants.h"
#include "support/unit_refs.h"

namespace {

// Runs one unit through both ways of computing it and insists they agree;
// leaves the unit and out as the full procedure made them.
void runBothWays(UnitBank& bank, uint64_t u, const float* x, float* out, uint32_t n) {
    static EnginePtr twin = makeEngine();
    copyUnit(bank, u, twin->bank, u);
    float fastOut[kMaxKernelBlock];
    runDelayLine(bank, u, x, out, n, DelayLinePath::FullProcedure);
    runDelayLine(twin->bank, u, x, fastOut, n, DelayLinePath::Fastest);
    for (uint32_t j = 0; j < n; ++j) ASSERT_EQ(bitsOf(out[j]), bitsOf(fastOut[j])) << j;
    expectSameUnit(unitRef(bank, u), unitRef(twin->bank, u), "fast loop");
}

void fillRamp(UnitRef u) {
    for (uint64_t i = 0; i < kUnitRingLength; ++i) u.ring[i] = (float)i;
    for (uint64_t i = 0; i < kUnitGuardEntries; ++i) u.ring[kUnitRingLength + i] = u.ring[i];
}

// One unit of a fresh engine, run in the engine's float mode.
class DelayLine : public ::testing::Test {
protected:
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitRef u = unitRef(engine->bank, 0);
};

}  // namespace

TEST_F(DelayLine, ConstantsHoldTheirExactSinglePrecisionValues) {
    EXPECT_EQ(bitsOf(kDcBlockerPole), 0x3F7F32ECu);
    EXPECT_EQ(bitsOf(kDcBlockerInputGain), 0x3F7F9976u);
    EXPECT_EQ(kDcBlockerInputGain, (1.0f + kDcBlockerPole) / 2.0f);
    EXPECT_EQ(bitsOf(kLoopGainLimit), 0x3F7FFFFDu);
    EXPECT_EQ(bitsOf(kLengtheningSpeed), 0x3F666666u);
    EXPECT_EQ(bitsOf(kShorteningSpeed), 0x3F8E147Bu);
}

TEST_F(DelayLine, WriteWrapsAfter31999AndMirrorsTheFirstFiveEntries) {
    setSteadyUnit(u, 31998, 20000);
    u.ringGain = 2.0f;
    const float x[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    float out[8];
    runBothWays(engine->bank, 0, x, out, 8);
    EXPECT_EQ(u.writeIndex, 6u);
    EXPECT_EQ(u.ring[31998], 2.0f);
    EXPECT_EQ(u.ring[31999], 4.0f);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(u.ring[i], 2.0f * x[i + 2]) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(u.ring[32000 + i], u.ring[i]) << i;
    EXPECT_EQ(u.ring[32005], 0.0f);  // never touched
}

TEST_F(DelayLine, ReadsInterpolateLinearlyAcrossTheRingEnd) {
    setSteadyUnit(u, 100, 300);
    u.ring[31999] = 8.0f;
    u.ring[0] = u.ring[32000] = 4.0f;
    u.ring[1] = 2.0f;
    // Read positions 31999.25 (with the guard copy of entry 0) and, after
    // the read wrap, 0.25.
    const float starts[2] = {31998.25f, 31999.25f};
    const float want[2] = {7.0f, 3.5f};
    for (int k = 0; k < 2; ++k) {
        u.readPhase = starts[k];
        u.dcState = 0.0f;
        const float x[1] = {0.0f};
        float out[1];
        runBothWays(engine->bank, 0, x, out, 1);
        EXPECT_EQ(bitsOf(out[0]), bitsOf(kDcBlockerInputGain * want[k])) << k;
    }
    // The read pointer itself wraps at 32000.
    EXPECT_EQ(u.readPhase, 0.25f);
}

TEST_F(DelayLine, ModulationSawtoothWrapsAtOneAndOffsetsTheReadByTheTriangle) {
    setSteadyUnit(u, 10000, 5000);
    fillRamp(u);
    u.modDepth = 10.0f;
    u.lfoPhase = 0.75f;
    u.lfoIncrement = 0.25f;
    const float x[2] = {0.0f, 0.0f};
    float out[2];
    const float rp = u.readPhase;
    runBothWays(engine->bank, 0, x, out, 2);
    // Sample 0: the phase reaches exactly 1 and wraps to -1: |p| = 1, so the
    // read sits 1 + 2*depth ahead. Sample 1: p = -0.75.
    EXPECT_EQ(u.lfoPhase, -0.75f);
    const float v0 = rp + 21.0f;
    EXPECT_EQ(bitsOf(out[0]), bitsOf(kDcBlockerInputGain * v0));
    const float v1 = (rp + 1.0f) + (1.0f + 10.0f * 1.75f);
    const float y1 = kDcBlockerInputGain * v1 + kDcBlockerPole * out[0];
    EXPECT_EQ(bitsOf(out[1]), bitsOf(y1 - out[0]));
}

TEST_F(DelayLine, LengtheningGlideEndsWhenTheDistanceMeetsTheTargetThenFeedbackIsRecomputed) {
    setSteadyUnit(u, 5000, 1000);
    u.feedback = 0.5f;
    u.decayMs = 800.0f;
    u.pendingLength = 1010;
    const float x[1] = {0.0f};
    float out[1];

    float readBefore = u.readPhase;
    runBothWays(engine->bank, 0, x, out, 1);
    // Taken over in the same sample: the read slows at once, the length waits.
    EXPECT_TRUE(u.gliding);
    EXPECT_EQ(u.readSpeed, kLengtheningSpeed);
    EXPECT_EQ(u.pendingLength, 0u);
    EXPECT_EQ(u.targetLength, 1010u);
    EXPECT_EQ(u.length, 1000u);
    EXPECT_EQ(u.readPhase, readBefore + kLengtheningSpeed);

    int samples = 1;
    while (u.gliding && samples < 1000) {
        readBefore = u.readPhase;
        EXPECT_EQ(u.feedback, 0.5f);
        runBothWays(engine->bank, 0, x, out, 1);
        ++samples;
        const uint64_t measured = u.writeIndex - (uint64_t)readBefore;
        EXPECT_EQ(u.length, measured);
    }
    ASSERT_FALSE(u.gliding);
    EXPECT_EQ(u.length, 1010u);
    EXPECT_NEAR(samples, 95, 6);  // 0.1 sample of growth per sample
    EXPECT_EQ(u.readSpeed, 1.0f);
    EXPECT_EQ(bitsOf(u.feedback), bitsOf(powf(0.001f, 1010.0f / (800.0f * 48000.0f * 0.001f))));
}

TEST_F(DelayLine, RequestArrivingMidGlideWaitsForTheGlideToEnd) {
    setSteadyUnit(u, 31950, 2000);  // the glide crosses the write wrap
    u.decayMs = 300.0f;
    u.pendingLength = 2020;
    const float x[1] = {0.5f};
    float out[1];
    for (int i = 0; i < 50; ++i) runBothWays(engine->bank, 0, x, out, 1);
    ASSERT_TRUE(u.gliding);
    u.pendingLength = 1990;
    while (u.gliding) {
        runBothWays(engine->bank, 0, x, out, 1);
        EXPECT_EQ(u.pendingLength, 1990u);
    }
    // Not taken in the sample that ended the glide...
    EXPECT_EQ(u.length, 2020u);
    EXPECT_EQ(u.targetLength, 2020u);
    EXPECT_EQ(u.readSpeed, 1.0f);
    // ...but in the next one, as a shortening glide.
    runBothWays(engine->bank, 0, x, out, 1);
    EXPECT_EQ(u.pendingLength, 0u);
    EXPECT_EQ(u.targetLength, 1990u);
    EXPECT_EQ(u.readSpeed, kShorteningSpeed);
    int samples = 0;
    while (u.gliding && samples < 1000) {
        runBothWays(engine->bank, 0, x, out, 1);
        ++samples;
    }
    EXPECT_EQ(u.length, 1990u);
    EXPECT_NEAR(samples, 30 / 0.11, 8);  // 0.11 sample of shrinking per sample
    EXPECT_EQ(bitsOf(u.feedback), bitsOf(powf(0.001f, 1990.0f / (300.0f * 48000.0f * 0.001f))));
}

TEST_F(DelayLine, RequestEqualToTheLengthIsClearedAndChangesNothingElse) {
    setSteadyUnit(u, 7000, 3001);
    u.feedback = 0.7f;
    fillRamp(u);
    copyUnit(engine->bank, 0, engine->bank, 1);
    const UnitRef plain = unitRef(engine->bank, 1);
    u.pendingLength = 3001;
    const float x[4] = {1, 2, 3, 4};
    float out[4], plainOut[4];
    runBothWays(engine->bank, 0, x, out, 4);
    runBothWays(engine->bank, 1, x, plainOut, 4);
    EXPECT_EQ(memcmp(out, plainOut, sizeof out), 0);
    EXPECT_EQ(u.pendingLength, 0u);
    EXPECT_EQ(u.targetLength, 3001u);  // the request moved into the target
    plain.targetLength = 3001;
    expectSameUnit(u, plain, "equal request");
}

// The two forms of the loop gain keep their own operand orders: they give
// different floats for 14549 samples at 800 ms, and both are limited alike.
TEST(LoopGain, EachFormKeepsItsOrderAndBothStayBelowUnity) {
    struct Case {
        float decayMs, control, glideEnd;
    };
    const float control = powf(0.001f, 14549.0f / (48000.0f * 0.001f * 800.0f));
    const float glideEnd = powf(0.001f, 14549.0f / (800.0f * 48000.0f * 0.001f));
    ASSERT_NE(control, glideEnd);
    const Case cases[] = {
        {800.0f, control, glideEnd},
        {-800.0f, kLoopGainLimit, kLoopGainLimit},  // a gain above 1
        {NAN, kLoopGainLimit, kLoopGainLimit},
        {0.0f, 0.0f, 0.0f},  // an infinitely fast decay
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bitsOf(controlLoopGain(14549, 48000.0f, c.decayMs)), bitsOf(c.control)) << c.decayMs;
        EXPECT_EQ(bitsOf(glideEndLoopGain(14549, 48000.0f, c.decayMs)), bitsOf(c.glideEnd)) << c.decayMs;
    }
}

TEST_F(DelayLine, OutOfRangeModulationNeverReadsOutsideTheRing) {
    setSteadyUnit(u, 3, 3000);
    for (float& s : engine->bank.rings[0].samples) s = 1.0f;
    // What lies beyond the ring is poison: a stray read shows in the output.
    for (uint64_t k = 1; k < kMaxUnits; ++k)
        for (float& s : engine->bank.rings[k].samples) s = NAN;
    const float depths[] = {-1.0e6f, 5.0e4f, 1.0e5f, INFINITY, NAN};
    const float steps[] = {-0.5f, 1.0e30f, -INFINITY, NAN};
    float x[kMaxKernelBlock] = {}, out[kMaxKernelBlock];
    for (float depth : depths) {
        for (float step : steps) {
            u.modDepth = depth;
            u.lfoIncrement = step;
            u.lfoPhase = 0.0f;
            runBothWays(engine->bank, 0, x, out, kMaxKernelBlock);
            for (uint32_t j = 0; j < kMaxKernelBlock; ++j) ASSERT_TRUE(isfinite(out[j])) << depth << " " << step;
            EXPECT_LT(u.writeIndex, kUnitRingLength);
        }
    }
    // Non-finite samples in the ring reach the output, never an index.
    u.modDepth = 0.0f;
    u.lfoIncrement = 0.0f;
    u.lfoPhase = 0.0f;
    for (float& s : engine->bank.rings[0].samples) s = NAN;
    runBothWays(engine->bank, 0, x, out, kMaxKernelBlock);
    EXPECT_TRUE(isnan(out[0]));
}
