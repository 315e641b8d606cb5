#include "engine/engine_state.h"

#include <stdlib.h>

#include "engine/prime_length.h"

// calloc hands the block over zeroed, so the defaults below set only what is
// not zero: every ring, state, tap, gain and flag starts at 0 from there.

namespace {

// Delay times of the four diffusers: 211/48, 163/48, 563/48 and 409/48 ms,
// which land on the prime lengths 211, 163, 563 and 409 at 48 kHz.
const float kDiffuserDelayMs[kDiffuserCount] = {4.3958330f, 3.3958333f, 11.729167f, 8.5208330f};

// One step below the float nearest exp(-2 pi 16000 / 48000): the damping
// pole of the diffusers' loop low-pass.
constexpr float kDiffuserDamping = 0x1.f86694p-4f;

void setDiffuserDefaults(Diffuser& d, float delayMs) {
    d.coefficient = 0.75f;
    d.sizingRate = kInternalRate;
    d.delayMs = delayMs;
    const float samples = d.sizingRate * (d.delayMs * 0.001f);
    d.length = nextPrimeLength(samples, kDiffuserLengthMin, kDiffuserLengthMax);
    d.damping = kDiffuserDamping;
}

// Every unit, active or not, gets the same defaults; the rings stay
// untouched, so the pages of units that never run are never mapped.
void setUnitDefaults(ChainUnits& units, size_t u) {
    units.sampleRate[u] = kInternalRate;
    units.decayMs[u] = 100.0f;
    units.length[u] = 16000;
    units.readSpeed[u] = 1.0f;
    units.ringGain[u] = 1.0f;
    units.modDepth[u] = 0.1f;
    units.lfoIncrement[u] = 0.01f;
}

void setBankDefaults(UnitBank& bank) {
    bank.sampleRate = kInternalRate;
    bank.unitCount = 40;
    bank.sizeFirst = 2.0f;
    bank.sizeLast = 100.0f;
    bank.cutoffFirst = 10000.0f;
    bank.cutoffLast = 100.0f;
    bank.inputGainFirst = 0.5f;
    bank.inputGainLast = 1.0f;
    bank.decayFirst = 800.0f;
    bank.decayLast = 800.0f;
    for (size_t u = 0; u < kMaxUnits; ++u) {
        setUnitDefaults(bank.units, u);
        for (LadderSet& set : bank.ladderSets) set.feedbackScale[u] = 1.0f;
    }
    bank.distributionCurve = 1.0f;
    seedRandom(bank.random, 1);  // where the C library's generator starts
}

}  // namespace

EngineState* createEngineState() {
    // One allocation of about 9 MB; calloc also hands back zeroed pages lazily.
    EngineState* engine = static_cast<EngineState*>(calloc(1, sizeof(EngineState)));
    if (engine == nullptr) return nullptr;
    engine->sampleRate = kInternalRate;
    engine->dryGain = 1.0f;
    engine->wetGain = 0.2f;
    for (size_t i = 0; i < kDiffuserCount; ++i) setDiffuserDefaults(engine->diffusers[i], kDiffuserDelayMs[i]);
    setBankDefaults(engine->bank);
    return engine;
}

void destroyEngineState(EngineState* engine) { free(engine); }
