#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "engine/engine_state.h"
#include "shell/plugin_instance.h"
#include "support/unit_refs.h"

namespace {

struct InstanceHolder {
    PluginInstance* instance;
    explicit InstanceHolder(double rate) : instance(createPluginInstance(rate)) {}
    ~InstanceHolder() { destroyPluginInstance(instance); }
    InstanceHolder(const InstanceHolder&) = delete;
    InstanceHolder& operator=(const InstanceHolder&) = delete;
};

bool allZero(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (values[i] != 0.0f) return false;
    return true;
}

// Every field but the ring, compared one by one so that padding is ignored.
void expectSameUnitDefaults(const UnitRef a, const UnitRef b, size_t index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(a.sampleRate, b.sampleRate);
    EXPECT_EQ(a.feedback, b.feedback);
    EXPECT_EQ(a.readPhase, b.readPhase);
    EXPECT_EQ(a.writeIndex, b.writeIndex);
    EXPECT_EQ(a.decayMs, b.decayMs);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.targetLength, b.targetLength);
    EXPECT_EQ(a.pendingLength, b.pendingLength);
    EXPECT_EQ(a.gliding, b.gliding);
    EXPECT_EQ(a.readSpeed, b.readSpeed);
    EXPECT_EQ(a.ringGain, b.ringGain);
    EXPECT_EQ(a.modDepth, b.modDepth);
    EXPECT_EQ(a.lfoIncrement, b.lfoIncrement);
    EXPECT_EQ(a.lfoPhase, b.lfoPhase);
    EXPECT_EQ(a.dcState, b.dcState);
    EXPECT_TRUE(allZero(b.ring, kUnitRingStorage));
}

}  // namespace

// The engine works at its own rate whatever the host runs at; only the
// recorded rate follows the host.
TEST(EngineDefaults, HostRateIsRecordedButSizesNothing) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        InstanceHolder holder(rate);
        ASSERT_NE(holder.instance, nullptr);
        const EngineState& engine = *holder.instance->engine;
        EXPECT_EQ(engine.sampleRate, static_cast<float>(rate));
        EXPECT_EQ(holder.instance->sampleRate, rate);
        const uint64_t lengths[kDiffuserCount] = {211, 163, 563, 409};
        for (size_t i = 0; i < kDiffuserCount; ++i) {
            EXPECT_EQ(engine.diffusers[i].length, lengths[i]) << "diffuser " << i;
            EXPECT_EQ(engine.diffusers[i].sizingRate, 48000.0f);
            EXPECT_EQ(engine.diffusers[i].position, 0u);
            EXPECT_TRUE(allZero(engine.diffusers[i].ring, kDiffuserRingStorage));
        }
        EXPECT_EQ(engine.bank.sampleRate, 48000.0f);
        for (size_t u = 0; u < kMaxUnits; ++u) EXPECT_EQ(engine.bank.units.sampleRate[u], 48000.0f);
    }
}

TEST(EngineDefaults, HeaderAndBankStartAtTheirDefaults) {
    InstanceHolder holder(48000.0);
    const EngineState& engine = *holder.instance->engine;
    EXPECT_EQ(engine.dryGain, 1.0f);
    EXPECT_EQ(engine.wetGain, 0.2f);
    EXPECT_FALSE(engine.stereoOutput);
    EXPECT_EQ(engine.diffusionAmount, 0.0f);
    for (const Diffuser& d : engine.diffusers) {
        EXPECT_EQ(d.coefficient, 0.75f);
        // One step below the float nearest exp(-2 pi 16000 / 48000).
        EXPECT_EQ(d.damping, nextafterf(static_cast<float>(exp(-2.0 * M_PI / 3.0)), 0.0f));
        EXPECT_EQ(d.dampState, 0.0f);
    }
    const UnitBank& bank = engine.bank;
    EXPECT_EQ(bank.unitCount, 40u);
    EXPECT_EQ(bank.routingMode, 0);
    EXPECT_EQ(bank.filterType, 0);
    EXPECT_EQ(bank.distributionCurve, 1.0f);
    EXPECT_EQ(bank.sizeFirst, 2.0f);
    EXPECT_EQ(bank.sizeLast, 100.0f);
    EXPECT_EQ(bank.cutoffFirst, 10000.0f);
    EXPECT_EQ(bank.cutoffLast, 100.0f);
    EXPECT_EQ(bank.inputGainFirst, 0.5f);
    EXPECT_EQ(bank.inputGainLast, 1.0f);
    EXPECT_EQ(bank.decayFirst, 800.0f);
    EXPECT_EQ(bank.decayLast, 800.0f);
    EXPECT_EQ(bank.ladderResonance, 0.0f);
    EXPECT_EQ(bank.lengthJitter, 0.0f);
    EXPECT_EQ(bank.modDepthFirst, 0.0f);
    EXPECT_EQ(bank.modDepthLast, 0.0f);
    EXPECT_EQ(bank.modRateFirst, 0.0f);
    EXPECT_EQ(bank.modRateLast, 0.0f);
    for (size_t k = 0; k < kMaxUnits; ++k) {
        EXPECT_EQ(bank.unitInputGain[k], 0.0f) << k;
        EXPECT_EQ(bank.tapOffsetA[k], 0u) << k;
        EXPECT_EQ(bank.tapOffsetB[k], 0u) << k;
    }
}

// Set-up derives nothing per unit: every unit, active or not, carries the
// same defaults until the first run applies the ports.
TEST(EngineDefaults, EveryUnitAndLadderRecordStartsEqual) {
    InstanceHolder holder(96000.0);
    const UnitBank& bank = holder.instance->engine->bank;
    const UnitRef first = unitRef(bank, 0);
    EXPECT_EQ(first.length, 16000u);
    EXPECT_EQ(first.feedback, 0.0f);
    EXPECT_EQ(first.decayMs, 100.0f);
    EXPECT_EQ(first.readSpeed, 1.0f);
    EXPECT_EQ(first.ringGain, 1.0f);
    EXPECT_EQ(first.modDepth, 0.1f);
    EXPECT_EQ(first.lfoIncrement, 0.01f);
    EXPECT_FALSE(first.gliding);
    EXPECT_EQ(first.pendingLength, 0u);
    for (size_t k = 0; k < kMaxUnits; ++k) expectSameUnitDefaults(first, unitRef(bank, k), k);

    for (size_t s = 0; s < kLadderSetCount; ++s)
        for (size_t k = 0; k < kMaxUnits; ++k) {
            const LadderRef r = ladderRef(bank.ladderSets[s], k);
            EXPECT_EQ(r.feedbackScale, 1.0f) << s << "/" << k;
            const float rest[] = {r.lastOutput, r.resonance, r.inputCompensation, r.pole1, r.state1, r.pole2,
                                  r.state2,     r.pole3,     r.state3,            r.pole4, r.state4};
            EXPECT_TRUE(allZero(rest, sizeof rest / sizeof(float))) << s << "/" << k;
        }
}
