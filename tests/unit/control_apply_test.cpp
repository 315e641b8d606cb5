#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "support/control_rig.h"
#include "support/unit_refs.h"

namespace {

std::vector<unsigned char> snapshot(const ControlRig& rig) {
    std::vector<unsigned char> bytes(sizeof(EngineState) + sizeof(BlockLoop) + sizeof(ControlPorts));
    unsigned char* at = bytes.data();
    memcpy(at, rig.engine, sizeof(EngineState));
    memcpy(at += sizeof(EngineState), &rig.loop, sizeof(BlockLoop));
    memcpy(at + sizeof(BlockLoop), &rig.ports, sizeof(ControlPorts));
    return bytes;
}

}  // namespace

TEST(ControlApply, FirstRunAppliesEveryPort) {
    ControlRig rig;
    // Ports 3..23: mix, decays, count, sizes, jitter, curve, diffusion,
    // stereo, routing, input gains, cutoffs, filter, resonance, depths, rates.
    const float values[PortCount] = {0, 0, 0, 30, 1200, 600, 12, 5, 60, 10, 1, 0.5f,
                                     1, 2, 0.25f, 0.75f, 5000, 500, 3, 40, 10, 30, 1, 2};
    memcpy(rig.controls, values, sizeof values);
    rig.apply();

    const EngineState& engine = *rig.engine;
    const UnitBank& bank = engine.bank;
    EXPECT_EQ(rig.loop.mixSmoother.target, 30.0f * 0.01f);
    EXPECT_EQ(rig.loop.diffusionSmoother.target, 0.5f);
    EXPECT_EQ(bank.unitCount, 12u);
    EXPECT_EQ(bank.lengthJitter, 10.0f * 0.01f);
    EXPECT_EQ(bank.distributionCurve, 0.3f);
    EXPECT_TRUE(engine.stereoOutput);
    EXPECT_EQ(bank.routingMode, 2);
    EXPECT_EQ(bank.filterType, 3);
    EXPECT_EQ(bank.ladderResonance, nextafterf(1.0f, 0.0f)) << "40 x 0.0249999985, not 40 x 0.025";
    EXPECT_EQ(bank.modDepthFirst, 10.0f * 0.01f);

    EXPECT_EQ(bank.units.decayMs[0], 1200.0f);
    EXPECT_EQ(bank.units.decayMs[11], 600.0f);
    EXPECT_EQ(bank.unitInputGain[11], 0.75f);
    EXPECT_EQ(bank.ladderSets[4].resonance[11], bank.ladderResonance);
    EXPECT_FLOAT_EQ(bank.units.modDepth[11], 0.3f * 300.0f);
    EXPECT_GT(bank.units.lfoIncrement[11], bank.units.lfoIncrement[0]);
    for (uint64_t k = 0; k < 12; ++k) EXPECT_NE(bank.units.pendingLength[k], 0u) << k;
    EXPECT_EQ(bank.units.pendingLength[12], 0u);
    for (uint32_t port = PortMix; port < PortCount; ++port) {
        const float applied = port == PortMix ? values[port] * 0.01f : values[port];
        EXPECT_EQ(rig.ports.applied[port], applied) << port;
    }
}

// The usual controls mostly equal the engine's own defaults, yet every
// per-unit table must be filled on the first run.
TEST(ControlApply, FirstRunFillsTheBankEvenForDefaultValues) {
    ControlRig rig;
    rig.apply();
    const UnitBank& bank = rig.bank();
    EXPECT_EQ(bank.unitInputGain[0], 0.5f);
    EXPECT_EQ(bank.unitInputGain[39], 1.0f);
    EXPECT_GT(bank.units.feedback[0], 0.0f);
    EXPECT_GT(bank.ladderSets[0].pole1[0], 0.0f);
    EXPECT_EQ(bank.units.modDepth[0], 0.0f);
    EXPECT_EQ(bank.units.lfoIncrement[0], 0.0f);
    EXPECT_EQ(bank.units.pendingLength[39], 14549u);
}

TEST(ControlApply, UnchangedControlsChangeNothing) {
    ControlRig rig;
    rig.apply();
    const std::vector<unsigned char> before = snapshot(rig);
    rig.apply();
    EXPECT_TRUE(before == snapshot(rig));
}

// NaN never equals its cache, so the port is applied again on every run;
// an unchanged ordinary port is not.
TEST(ControlApply, NanPortIsReappliedEveryRun) {
    ControlRig rig;
    rig.controls[PortDecayFirst] = NAN;
    rig.apply();
    UnitBank& bank = rig.bank();
    const float limit = bank.units.feedback[0];
    EXPECT_EQ(limit, nextafterf(nextafterf(nextafterf(1.0f, 0.0f), 0.0f), 0.0f));
    bank.units.feedback[0] = 0.5f;
    bank.unitInputGain[0] = 9.0f;
    rig.apply();
    EXPECT_EQ(bank.units.feedback[0], limit);
    EXPECT_EQ(bank.unitInputGain[0], 9.0f);
}

// Reseeding makes lengths and taps a function of the settings alone, so it
// does not matter which of the ports started the recomputation.
TEST(ControlApply, LengthsAndTapsDoNotDependOnTheStartingPort) {
    const float target[] = {30.0f, 3.0f, 80.0f, 20.0f, 0.5f};  // ports 6..10
    const float other[] = {50.0f, 4.0f, 70.0f, 0.0f, -0.5f};
    auto configure = [&](ControlRig& rig) {
        for (int i = 0; i < 5; ++i) rig.controls[PortUnitCount + i] = target[i];
    };
    ControlRig reference;
    configure(reference);
    reference.apply();
    const UnitBank& expected = reference.bank();
    for (int starter = 0; starter < 5; ++starter) {
        ControlRig rig;
        configure(rig);
        rig.controls[PortUnitCount + starter] = other[starter];
        rig.apply();
        nextRandom(rig.bank().random);
        rig.controls[PortUnitCount + starter] = target[starter];
        rig.apply();
        const UnitBank& bank = rig.bank();
        ASSERT_EQ(bank.unitCount, 30u);
        for (uint64_t k = 0; k < 30; ++k) {
            EXPECT_EQ(bank.units.pendingLength[k], expected.units.pendingLength[k]) << starter << " " << k;
            EXPECT_EQ(bank.tapOffsetA[k], expected.tapOffsetA[k]) << starter << " " << k;
            EXPECT_EQ(bank.tapOffsetB[k], expected.tapOffsetB[k]) << starter << " " << k;
        }
    }
}

// Ports are applied in ascending order: the count (6) comes after the decay
// times (4, 5) and before the input gains (14). Units above a lowered count
// keep their values until a raised count brings them back.
TEST(ControlApply, LoweringAndRaisingTheCount) {
    ControlRig rig;
    rig.apply();
    UnitBank& bank = rig.bank();
    const float pole39 = bank.ladderSets[0].pole1[39];
    const float gain20 = bank.unitInputGain[20];

    rig.controls[PortUnitCount] = 10.0f;
    rig.controls[PortDecayLast] = 300.0f;
    rig.controls[PortInputGainFirst] = 0.2f;
    rig.apply();
    EXPECT_EQ(bank.units.decayMs[9], 300.0f) << "the count's own recomputation spreads over 10";
    EXPECT_EQ(bank.unitInputGain[9], 1.0f);
    EXPECT_EQ(bank.unitInputGain[39], 1.0f);
    EXPECT_EQ(bank.unitInputGain[20], gain20) << "untouched";
    EXPECT_EQ(bank.ladderSets[0].pole1[39], pole39);
    bank.units.modDepth[39] = 5.0f;

    rig.controls[PortUnitCount] = 40.0f;
    rig.apply();
    EXPECT_EQ(bank.unitInputGain[0], 0.2f);
    EXPECT_EQ(bank.unitInputGain[39], 1.0f);
    EXPECT_NEAR(bank.unitInputGain[20], 0.2f + 0.8f * 20.0f / 39.0f, 1e-6f);
    EXPECT_EQ(bank.units.decayMs[39], 300.0f);
    EXPECT_EQ(bank.units.modDepth[39], 0.0f);
    EXPECT_EQ(bank.ladderSets[0].pole1[39], pole39);
    EXPECT_EQ(bank.units.pendingLength[39], 14549u);
}

TEST(ControlApply, IntegerAndSwitchConversions) {
    ControlRig rig;
    const EngineState& engine = *rig.engine;
    const UnitBank& bank = engine.bank;
    struct Case {
        float value;
        int32_t routing;
        int32_t filter;
        bool stereo;
    };
    const Case cases[] = {
        {1.9f, 1, 1, true},   {-1.0f, 0, -1, true},  {0.0f, 0, 0, false},
        {-0.5f, 0, 0, true},  {NAN, 0, 0, true},     {-0.0f, 0, 0, false},
        {5e9f, 705032704, INT32_MAX, true},  // routing keeps the low 32 bits
        {-1e10f, 0, INT32_MIN, true},        {INFINITY, -1, INT32_MAX, true},
    };
    for (const Case& test : cases) {
        rig.controls[PortRouting] = test.value;
        rig.controls[PortFilterType] = test.value;
        rig.controls[PortStereo] = test.value;
        rig.apply();
        EXPECT_EQ(bank.routingMode, test.routing) << test.value;
        EXPECT_EQ(bank.filterType, test.filter) << test.value;
        EXPECT_EQ(engine.stereoOutput, test.stereo) << test.value;
    }
}

TEST(ControlApply, SizeCurveExponent) {
    ControlRig rig;
    const UnitBank& bank = rig.bank();
    const float values[] = {1.0f, 0.0f, -1.0f};
    const float exponents[] = {0.3f, 1.05f, 3.3f};
    for (int i = 0; i < 3; ++i) {
        rig.controls[PortSizeCurve] = values[i];
        rig.apply();
        EXPECT_EQ(bank.distributionCurve, exponents[i]) << values[i];
    }
    // s * s * 3 + 0.3 is one fused step: here rounding twice gives another float.
    const float v = -0.995f;
    const float s = (1.0f - v) * 0.5f;
    const float fused = static_cast<float>(static_cast<long double>(s * s) * 3.0L + 0.3f);
    ASSERT_NE(fused, s * s * 3.0f + 0.3f);
    rig.controls[PortSizeCurve] = v;
    rig.apply();
    EXPECT_EQ(bank.distributionCurve, fused);
}

TEST(ControlApply, MixAndModulationPortsScaleByOneHundredth) {
    ControlRig rig;
    rig.controls[PortUnitCount] = 5.0f;
    rig.controls[PortModDepthFirst] = 0.0f;
    rig.controls[PortModDepthLast] = 200.0f;
    rig.controls[PortMix] = 9.0f;
    rig.apply();
    const UnitBank& bank = rig.bank();
    const float depths[] = {0.0f, 150.0f, 300.0f, 300.0f, 300.0f};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(bank.units.modDepth[k], depths[k]) << k;
    // A multiply by the float 0.01, which is not the same as dividing by 100.
    ASSERT_NE(9.0f * 0.01f, 9.0f / 100.0f);
    EXPECT_EQ(rig.loop.mixSmoother.target, 9.0f * 0.01f);
}

// Whatever the host sends, the fields the kernels index or loop by stay in
// the ranges they rely on.
TEST(ControlApply, SillyValuesKeepTheKernelInvariants) {
    ControlRig rig;
    const float silly[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, -1e30f, 1e30f, -7.5f, 3e9f, 1e-40f};
    const size_t count = sizeof silly / sizeof silly[0];
    const UnitBank& bank = rig.bank();
    for (size_t round = 0; round < 3 * count; ++round) {
        for (uint32_t port = PortMix; port < PortCount; ++port) rig.controls[port] = silly[(round + port * 7) % count];
        rig.apply();
        ASSERT_GE(bank.unitCount, 1u);
        ASSERT_LE(bank.unitCount, kMaxUnits);
        for (uint64_t k = 0; k < bank.unitCount; ++k) {
            const UnitRef unit = unitRef(bank, k);
            if (unit.pendingLength != 0) {
                EXPECT_GE(unit.pendingLength, 301u) << round << " " << k;
                EXPECT_LE(unit.pendingLength, 31999u) << round << " " << k;
            }
            EXPECT_TRUE(unit.modDepth >= 0.0f && unit.modDepth <= 300.0f) << round << " " << k;
            EXPECT_TRUE(unit.lfoIncrement >= 0.0f && unit.lfoIncrement <= 2.0f) << round << " " << k;
            EXPECT_TRUE(unit.feedback >= 0.0f && unit.feedback < 1.0f) << round << " " << k;
        }
    }
}
