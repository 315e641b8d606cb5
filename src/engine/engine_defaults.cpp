#include <stdlib.h>
#include <string.h>

#include "engine/engine_state.h"
#include "engine/float_bits.h"
#include "engine/prime_length.h"

namespace {

// Delay times of the four diffusers: 211/48, 163/48, 563/48 and 409/48 ms,
// which land on the prime lengths 211, 163, 563 and 409 at 48 kHz.
const float kDiffuserDelayMs[kDiffuserCount] = {4.3958330f, 3.3958333f, 11.729167f, 8.5208330f};

void setDiffuserDefaults(Diffuser& d, float delayMs) {
    d.coefficient = 0.75f;
    d.position = 0;
    memset(d.ring, 0, sizeof d.ring);
    d.sizingRate = kInternalRate;
    d.delayMs = delayMs;
    // One ulp below the float nearest exp(-2*pi*16000/48000): the damping
    // pole of the loop low-pass. The stored bits are what matter.
    d.damping = floatFromBits(0x3DFC334Au);
    d.dampState = 0.0f;
}

void setUnitDefaults(ChainUnit& u) {
    memset(&u, 0, sizeof u);
    u.sampleRate = kInternalRate;
    u.feedback = 0.0f;
    u.readPhase = 0.0f;
    u.writeIndex = 0;
    u.decayMs = 100.0f;
    u.length = 16000;
    u.targetLength = 0;
    u.pendingLength = 0;
    u.gliding = false;
    u.readSpeed = 1.0f;
    u.ringGain = 1.0f;
    u.modDepth = 0.1f;
    u.lfoIncrement = 0.01f;
    u.lfoPhase = 0.0f;
    u.dcState = 0.0f;
}

void setBankDefaults(UnitBank& bank) {
    memset(&bank, 0, sizeof bank);
    bank.sampleRate = kInternalRate;
    bank.unitCount = 40;
    bank.filterType = 0;
    bank.sizeFirst = 2.0f;
    bank.sizeLast = 100.0f;
    bank.cutoffFirst = 10000.0f;
    bank.cutoffLast = 100.0f;
    bank.ladderResonance = 0.0f;
    bank.inputGainFirst = 0.5f;
    bank.inputGainLast = 1.0f;
    bank.lengthJitter = 0.0f;
    bank.modDepthFirst = 0.0f;
    bank.modDepthLast = 0.0f;
    bank.modRateFirst = 0.0f;
    bank.modRateLast = 0.0f;
    bank.decayFirst = 800.0f;
    bank.decayLast = 800.0f;
    for (ChainUnit& unit : bank.units) setUnitDefaults(unit);
    memset(bank.tapOffsetA, 0, sizeof bank.tapOffsetA);
    memset(bank.tapOffsetB, 0, sizeof bank.tapOffsetB);
    for (auto& set : bank.ladderSets) {
        memset(set, 0, sizeof set);
        for (LadderRecord& record : set) record.feedbackScale = 1.0f;
    }
    memset(bank.unitInputGain, 0, sizeof bank.unitInputGain);
    bank.routingMode = 0;
    bank.distributionCurve = 1.0f;
}

}  // namespace

EngineState* createEngineState() {
    // One allocation of about 9 MB; calloc also hands back zeroed pages lazily.
    EngineState* engine = static_cast<EngineState*>(calloc(1, sizeof(EngineState)));
    if (engine == nullptr) return nullptr;
    engine->sampleRate = kInternalRate;
    engine->dryGain = 1.0f;
    engine->wetGain = 0.2f;
    engine->stereoOutput = false;
    engine->diffusionAmount = 0.0f;
    for (size_t i = 0; i < kDiffuserCount; ++i) setDiffuserDefaults(engine->diffusers[i], kDiffuserDelayMs[i]);
    for (Diffuser& d : engine->diffusers) sizeDiffuser(d);
    setBankDefaults(engine->bank);
    return engine;
}

void destroyEngineState(EngineState* engine) { free(engine); }
