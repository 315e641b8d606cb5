// Control values far outside the ports' ranges. Those that would fill the
// engine with NaN or infinity for good get safe coefficients instead; any
// value at all leaves an instance that recovers once the host sends
// ordinary values again.
#include <float.h>
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "support/plugin_rig.h"
#include "unit/harden_engine_scan.h"

namespace {

void applyOnly(PluginRig& rig) { runPlugin(*rig.instance, 0); }

const UnitBank& bankOf(const PluginRig& rig) { return rig.instance->engine->bank; }

bool isStablePole(float pole) { return pole >= 0.0f && pole <= 1.0f; }

TEST(HardenBadControls, CutoffsWithoutAPositiveGeometricSpreadGiveTheZeroHertzPole) {
    // first, last: a zero, negative or non-finite cutoff, or cutoffs of opposite signs.
    const float pairs[][2] = {{0.0f, 100.0f}, {-1000.0f, -100.0f}, {1000.0f, -100.0f}, {NAN, 100.0f},
                              {100.0f, INFINITY}, {-INFINITY, 5.0f}, {0.0f, 0.0f}, {-0.0f, 20.0f}};
    for (uint32_t units : {1u, 2u, 40u, 70u}) {
        for (const auto& pair : pairs) {
            SCOPED_TRACE(testing::Message() << units << " units, cutoffs " << pair[0] << " " << pair[1]);
            PluginRig rig;
            rig.controls[PortUnitCount] = static_cast<float>(units);
            rig.controls[PortCutoffFirst] = pair[0];
            rig.controls[PortCutoffLast] = pair[1];
            applyOnly(rig);
            for (uint64_t k = 0; k < units; ++k) {
                for (const auto& set : bankOf(rig).ladderSets) {
                    ASSERT_TRUE(isStablePole(set.pole1[k])) << k << " " << set.pole1[k];
                    EXPECT_EQ(set.pole1[k], set.pole4[k]);
                }
            }
        }
    }
    // Cutoffs above 0 keep their pole, the 0 Hz limit included; huge ones close to 0.
    PluginRig rig;
    rig.controls[PortUnitCount] = 1.0f;
    rig.controls[PortCutoffFirst] = 0.0f;
    applyOnly(rig);
    EXPECT_EQ(bankOf(rig).ladderSets[0].pole1[0], 1.0f);
    rig.controls[PortCutoffFirst] = 1e30f;
    applyOnly(rig);
    EXPECT_EQ(bankOf(rig).ladderSets[0].pole1[0], 0.0f);
    rig.controls[PortCutoffFirst] = 1000.0f;
    applyOnly(rig);
    EXPECT_EQ(bankOf(rig).ladderSets[0].pole1[0], expf(1000.0f * -0.0001308997f));
}

TEST(HardenBadControls, NonFiniteGainsAndResonanceBecomeZero) {
    PluginRig rig;
    rig.controls[PortUnitCount] = 7.0f;
    rig.controls[PortInputGainFirst] = NAN;
    rig.controls[PortResonance] = INFINITY;
    applyOnly(rig);
    for (uint64_t k = 0; k < 7; ++k) EXPECT_EQ(bankOf(rig).unitInputGain[k], 0.0f) << k;
    EXPECT_EQ(bankOf(rig).ladderResonance, INFINITY) << "the bank keeps the value as applied";
    EXPECT_EQ(bankOf(rig).ladderSets[3].resonance[6], 0.0f) << "the filters get a finite one";

    // An infinite last gain: even unit 0's fused step is infinity times 0.
    rig.controls[PortInputGainFirst] = 1.0f;
    rig.controls[PortInputGainLast] = -INFINITY;
    applyOnly(rig);
    for (uint64_t k = 0; k < 7; ++k) EXPECT_EQ(bankOf(rig).unitInputGain[k], 0.0f) << k;
    // With one unit the first gain alone counts.
    rig.controls[PortUnitCount] = 1.0f;
    applyOnly(rig);
    EXPECT_EQ(bankOf(rig).unitInputGain[0], 1.0f);

    // Finite values, however far out, pass unchanged.
    rig.controls[PortUnitCount] = 7.0f;
    rig.controls[PortInputGainFirst] = -1e30f;
    rig.controls[PortInputGainLast] = -1e30f;
    rig.controls[PortResonance] = -400.0f;
    applyOnly(rig);
    EXPECT_EQ(bankOf(rig).unitInputGain[3], -1e30f);
    EXPECT_EQ(bankOf(rig).ladderSets[1].resonance[2], -400.0f * 0.0249999985f);
}

std::vector<float> noise(size_t count, uint32_t seed) {
    std::vector<float> x(count);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = 0.3f * static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return x;
}

// Any value on any one port, held while ordinary audio plays: the output
// stays finite throughout (the bank's overflows are cleared block by block),
// and once the port is back to an ordinary value the engine holds only
// finite values.
TEST(HardenBadControls, AnyValueOnAnyPortLeavesFiniteOutputAndARecoveringEngine) {
    const float wild[] = {NAN, INFINITY, -INFINITY, FLT_MAX, -FLT_MAX, 1e30f, -1e30f, -1.0f, 0.0f, 1e-40f};
    const std::vector<float> signal = noise(4096, 21);
    size_t cases = 0;
    for (uint32_t port = PortMix; port < PortCount; ++port) {
        for (float value : wild) {
            SCOPED_TRACE(testing::Message() << "port " << port << " value " << value);
            PluginRig rig;
            rig.controls[PortUnitCount] = 9.0f;
            rig.controls[PortSizeLast] = 20.0f;
            rig.controls[PortDiffusion] = 0.5f;
            rig.controls[PortFilterType] = 6.0f;
            rig.controls[PortResonance] = 40.0f;
            rig.render(signal, 512);
            const float ordinary = rig.controls[port];
            rig.controls[port] = value;
            rig.render(signal, 512);
            rig.render(signal, 77);
            ASSERT_EQ(tallySamples(rig.left).nonFinite + tallySamples(rig.right).nonFinite, 0u);
            rig.controls[port] = ordinary;
            for (int pass = 0; pass < 6; ++pass) rig.render(signal, 512);
            ASSERT_EQ(tallySamples(rig.left).nonFinite + tallySamples(rig.right).nonFinite, 0u);
            ASSERT_EQ(tallyEngineState(*rig.instance->engine).nonFinite, 0u);
            ++cases;
        }
    }
    EXPECT_EQ(cases, 21u * 10u);
}

}  // namespace
