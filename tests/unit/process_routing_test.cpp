#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "engine/engine_state.h"
#include "kernels/unit_kernel.h"
#include "process/output_mix.h"
#include "process/routing.h"
#include "support/unit_refs.h"

namespace {

struct EngineHolder {
    EngineState* engine = createEngineState();
    ~EngineHolder() { destroyEngineState(engine); }
};

// Short loops with feedback and taps, set by hand so that the routing is
// tested apart from the control stage.
void ringingBank(UnitBank& bank, uint64_t unitCount, int32_t mode) {
    bank.unitCount = unitCount;
    bank.routingMode = static_cast<RoutingMode>(mode);
    bank.filterType = static_cast<FilterType>(7);  // no input filter
    for (uint64_t u = 0; u < unitCount; ++u) {
        UnitRef unit = unitRef(bank, u);
        unit.feedback = 0.6f;
        unit.modDepth = 0.0f;
        unit.lfoIncrement = 0.0f;
        unit.readPhase = static_cast<float>(kUnitRingLength - 40 - 13 * u);
        unit.length = 40 + 13 * u;
        bank.unitInputGain[u] = 1.0f + 0.25f * static_cast<float>(u);
        bank.tapOffsetA[u] = 5 + u;
        bank.tapOffsetB[u] = 9 + 2 * u;
    }
}

float signalAt(size_t k) { return (k % 23 == 0 ? 1.0f : 0.0f) - (k % 7 == 3 ? 0.5f : 0.0f); }

// Routes `blocks` blocks of signal through `engine`, returning the last
// block's processed pair.
void routeBlocks(EngineState& engine, size_t blocks, float* left, float* right) {
    for (size_t b = 0; b < blocks; ++b) {
        for (uint32_t k = 0; k < kBlockLength; ++k) left[k] = signalAt(b * kBlockLength + k);
        routeUnitBank(engine.bank, left, right, kBlockLength);
    }
}

// Both engines in the same ringing state after some blocks of signal
// through the parallel bank, then switched to `mode`.
void warmPair(EngineState& routed, EngineState& reference, uint64_t unitCount, int32_t mode) {
    ringingBank(routed.bank, unitCount, 0);
    float left[kBlockLength];
    float right[kBlockLength];
    routeBlocks(routed, 20, left, right);
    routed.bank.routingMode = static_cast<RoutingMode>(mode);
    memcpy(&reference, &routed, sizeof(EngineState));
}

void expectPair(const float* left, const float* right, const float* wantLeft, const float* wantRight) {
    for (uint32_t k = 0; k < kBlockLength; ++k) {
        EXPECT_EQ(left[k], wantLeft[k]) << k;
        EXPECT_EQ(right[k], wantRight[k]) << k;
    }
}

bool anyNonZero(const float* block) {
    for (uint32_t k = 0; k < kBlockLength; ++k)
        if (block[k] != 0.0f) return true;
    return false;
}

}  // namespace

// A routed engine and a reference copy in the same ringing state; the
// reference is driven by direct kernel calls.
class RoutingPair : public testing::Test {
protected:
    EngineHolder routed, reference;
    float left[kBlockLength], right[kBlockLength];
    float wantLeft[kBlockLength], wantRight[kBlockLength];

    void warm(uint64_t unitCount, int32_t mode, size_t signalOffset) {
        warmPair(*routed.engine, *reference.engine, unitCount, mode);
        for (uint32_t k = 0; k < kBlockLength; ++k) left[k] = signalAt(k + signalOffset);
    }
    void routeAndCompare() {
        routeUnitBank(routed.engine->bank, left, right, kBlockLength);
        expectPair(left, right, wantLeft, wantRight);
    }
    UnitBank& referenceBank() { return reference.engine->bank; }
};

TEST_F(RoutingPair, ParallelBankIsOneCallOverAllUnits) {
    warm(5, 0, 3);
    processUnits(referenceBank(), 0, 5, left, wantLeft, wantRight, kBlockLength);
    routeAndCompare();
    EXPECT_TRUE(anyNonZero(right));
}

TEST_F(RoutingPair, SeriesHalvesSplitAnOddBankAndFoldWithGainSix) {
    warm(3, 1, 5);
    float firstL[kBlockLength], firstR[kBlockLength], folded[kBlockLength];
    processUnits(referenceBank(), 0, 1, left, firstL, firstR, kBlockLength);
    for (uint32_t k = 0; k < kBlockLength; ++k) folded[k] = 6.0f * (firstL[k] + firstR[k]);
    processUnits(referenceBank(), 1, 3, folded, wantLeft, wantRight, kBlockLength);
    routeAndCompare();
    EXPECT_TRUE(anyNonZero(left));
}

TEST_F(RoutingPair, SeriesWithOneUnitRunsItOnSilence) {
    warm(1, 1, 0);
    for (float& x : left) x = 1.0f;  // must not reach the unit
    const float silence[kBlockLength] = {};
    processUnits(referenceBank(), 0, 1, silence, wantLeft, wantRight, kBlockLength);
    routeAndCompare();
    EXPECT_TRUE(anyNonZero(left));  // what the unit still holds
}

TEST_F(RoutingPair, EvenThenOddUnitsPassTheRightOutputOn) {
    warm(2, 2, 11);
    float evenL[kBlockLength], oddL[kBlockLength];
    processUnits(referenceBank(), 0, 1, left, evenL, wantLeft, kBlockLength);
    processUnits(referenceBank(), 1, 2, wantLeft, oddL, wantRight, kBlockLength);
    routeAndCompare();
    EXPECT_TRUE(anyNonZero(right));
}

TEST_F(RoutingPair, EvenThenOddWithOneUnitLeavesTheRightSilent) {
    warm(1, 2, 0);
    for (float& x : right) x = 99.0f;
    float evenL[kBlockLength];
    processUnits(referenceBank(), 0, 1, left, evenL, wantLeft, kBlockLength);
    for (float& x : wantRight) x = 0.0f;
    routeAndCompare();
}

TEST(Routing, UnknownModeBypassesTheBankOnBothChannels) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    ringingBank(engine.bank, 4, 0);
    for (int32_t mode : {3, -1, 1000}) {
        engine.bank.routingMode = static_cast<RoutingMode>(mode);
        const uint64_t writeBefore = engine.bank.units.writeIndex[0];
        float left[kBlockLength], right[kBlockLength];
        for (uint32_t k = 0; k < kBlockLength; ++k) {
            left[k] = signalAt(k);
            right[k] = NAN;  // stale host memory must not survive
        }
        routeUnitBank(engine.bank, left, right, kBlockLength);
        for (uint32_t k = 0; k < kBlockLength; ++k) {
            EXPECT_EQ(left[k], signalAt(k)) << mode;
            EXPECT_EQ(right[k], signalAt(k)) << mode;
        }
        EXPECT_EQ(engine.bank.units.writeIndex[0], writeBefore) << mode;
    }
}

TEST(OutputMix, MonoSumsTheChannelsStereoKeepsThem) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    engine.dryGain = 0.38268343f;
    engine.wetGain = 0.9238795f;
    float dry[kBlockLength], left[kBlockLength], right[kBlockLength];
    std::vector<float> l(kBlockLength), r(kBlockLength);
    for (uint32_t k = 0; k < kBlockLength; ++k) {
        dry[k] = signalAt(k) + 0.1f * static_cast<float>(k);
        l[k] = left[k] = 0.3f - 0.05f * static_cast<float>(k);
        r[k] = right[k] = 0.01f * static_cast<float>(k * k);
    }
    engine.stereoOutput = false;
    mixOutputs(engine, dry, left, right, kBlockLength);
    for (uint32_t k = 0; k < kBlockLength; ++k) {
        const float wetPart = 0.9238795f * (r[k] + l[k]);
        EXPECT_EQ(left[k], wetPart + 0.38268343f * dry[k]);
        EXPECT_EQ(right[k], left[k]);
        left[k] = l[k];
        right[k] = r[k];
    }
    engine.stereoOutput = true;
    mixOutputs(engine, dry, left, right, kBlockLength);
    for (uint32_t k = 0; k < kBlockLength; ++k) {
        EXPECT_EQ(left[k], 0.9238795f * l[k] + 0.38268343f * dry[k]);
        EXPECT_EQ(right[k], 0.9238795f * r[k] + 0.38268343f * dry[k]);
    }
}
