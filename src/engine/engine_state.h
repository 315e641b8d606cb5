// The one state block of an instance: everything the audio path reads and
// writes, laid out as plain records with every array at its maximum size so
// that nothing is ever allocated after instantiate.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/random_generator.h"

constexpr size_t kMaxUnits = 70;
constexpr uint64_t kUnitRingLength = 32000;  // ring samples proper
constexpr size_t kUnitRingStorage = 32006;   // ring + guard copies of 0..4 + one spare
constexpr size_t kUnitGuardEntries = 5;
constexpr size_t kDiffuserCount = 4;
constexpr size_t kDiffuserRingStorage = 600;
constexpr size_t kLadderSetCount = 5;
constexpr float kInternalRate = 48000.0f;  // every length and pole is computed at this rate
constexpr uint32_t kBlockLength = 16;       // smoothers and coefficients move once per block
constexpr uint32_t kMaxKernelBlock = 128;   // size of the kernels' working arrays

// One damped allpass section of the input diffuser chain.
struct Diffuser {
    float coefficient;
    uint64_t length;
    uint64_t position;
    float ring[kDiffuserRingStorage];
    float sizingRate;
    float delayMs;
    float damping;
    float dampState;
};

// Per-unit state is kept in arrays, one per field, indexed by unit: the
// vector kernels then take the fields of several consecutive units (or of
// every second unit) with one load or store per field. The arrays hold
// kUnitSlots entries: 70 rounded up so that a vector of the widest lanes,
// loaded at any unit with a stride of up to two, stays inside its array
// (the highest index such a load reaches is 2 * 47 + 2 = 96). Slots from
// kMaxUnits on are never a unit.
constexpr size_t kUnitSlots = 112;
static_assert(kUnitSlots >= 2 * ((kMaxUnits / 2 + 15) / 16 * 16) + 1,
              "sixteen lanes at a stride of two from unit 1 stay inside the arrays");
#define ZT_UNIT_FIELD alignas(64)

// The four-stage ladder filters of one set, one per unit: coefficients and
// state.
struct LadderSet {
    ZT_UNIT_FIELD float lastOutput[kUnitSlots];
    ZT_UNIT_FIELD float resonance[kUnitSlots];
    ZT_UNIT_FIELD float inputCompensation[kUnitSlots];
    ZT_UNIT_FIELD float feedbackScale[kUnitSlots];
    ZT_UNIT_FIELD float pole1[kUnitSlots];
    ZT_UNIT_FIELD float state1[kUnitSlots];
    ZT_UNIT_FIELD float pole2[kUnitSlots];
    ZT_UNIT_FIELD float state2[kUnitSlots];
    ZT_UNIT_FIELD float pole3[kUnitSlots];
    ZT_UNIT_FIELD float state3[kUnitSlots];
    ZT_UNIT_FIELD float pole4[kUnitSlots];
    ZT_UNIT_FIELD float state4[kUnitSlots];
};

// The modulated feedback delay loops of the bank, one entry per unit in
// each field.
struct ChainUnits {
    ZT_UNIT_FIELD float sampleRate[kUnitSlots];
    ZT_UNIT_FIELD float feedback[kUnitSlots];
    ZT_UNIT_FIELD float readPhase[kUnitSlots];
    ZT_UNIT_FIELD uint64_t writeIndex[kUnitSlots];
    ZT_UNIT_FIELD float decayMs[kUnitSlots];
    ZT_UNIT_FIELD uint64_t length[kUnitSlots];
    ZT_UNIT_FIELD uint64_t targetLength[kUnitSlots];
    ZT_UNIT_FIELD uint64_t pendingLength[kUnitSlots];  // 0: no request
    ZT_UNIT_FIELD bool gliding[kUnitSlots];
    ZT_UNIT_FIELD float readSpeed[kUnitSlots];
    ZT_UNIT_FIELD float ringGain[kUnitSlots];
    ZT_UNIT_FIELD float modDepth[kUnitSlots];
    ZT_UNIT_FIELD float lfoIncrement[kUnitSlots];
    ZT_UNIT_FIELD float lfoPhase[kUnitSlots];
    ZT_UNIT_FIELD float dcState[kUnitSlots];
    // Ring entries still to clear after the unit held a NaN or an infinity;
    // the unit is silent and frozen until none are left (0: running).
    ZT_UNIT_FIELD uint32_t ringLeftToClear[kUnitSlots];
};

// One unit's ring: 32000 samples, guard copies of entries 0..4, one spare.
// Each ring starts on a cache line and is padded to whole 16-float vectors:
// the vector kernels store whole runs past a block's end, and read the
// last run of a tap to its end, inside the padding.
struct alignas(64) UnitRing {
    float samples[kUnitRingStorage];
};
static_assert(sizeof(UnitRing) >= (kUnitRingLength + kBlockLength) * sizeof(float),
              "a run of 16 from the last write position stays inside the ring's storage");

// How the bank's units are arranged. Any other value is legal too (a port
// can give any) and bypasses the bank.
enum RoutingMode : int32_t {
    RoutingParallel = 0,  // every unit on the input
    RoutingSeries = 1,    // the first half, then the second half on its result
    RoutingEvenOdd = 2,   // the even units, then the odd units on their result
};

// The units' input filter, one choice for the whole bank. Any other value is
// legal too and passes the input unfiltered at full level.
enum FilterType : int32_t {
    FilterQuarterLevel = 0,     // no filter, a quarter of the level
    FilterBandPass2 = 1,        // two-pole band-pass
    FilterBandPass4 = 2,        // four-pole band-pass
    FilterBandPassCascade = 3,  // the two band-passes in series
    FilterLowPass4 = 4,         // four-pole low-pass
    FilterHighPass3 = 5,        // three-pole high-pass
    FilterPeakingBoost = 6,     // input plus a four-pole band-pass
};

struct UnitBank {
    float sampleRate;
    uint64_t unitCount;
    FilterType filterType;
    float sizeFirst;
    float sizeLast;
    float cutoffFirst;
    float cutoffLast;
    float ladderResonance;
    float inputGainFirst;
    float inputGainLast;
    float lengthJitter;
    float modDepthFirst;
    float modDepthLast;
    float modRateFirst;
    float modRateLast;
    float decayFirst;
    float decayLast;
    ChainUnits units;
    UnitRing rings[kMaxUnits];  // unit u's ring is rings[u]
    ZT_UNIT_FIELD uint64_t tapOffsetA[kUnitSlots];
    ZT_UNIT_FIELD uint64_t tapOffsetB[kUnitSlots];
    LadderSet ladderSets[kLadderSetCount];
    ZT_UNIT_FIELD float unitInputGain[kUnitSlots];
    float distributionCurve;
    RoutingMode routingMode;
    // Draws the jitter and the taps; the instance's own, so that neither
    // another instance nor the host can change them.
    RandomGenerator random;
    uint32_t unitsClearing;  // units whose ringLeftToClear is not 0
};

struct EngineState {
    float sampleRate;  // host's rate, recorded only
    float dryGain;
    float wetGain;
    bool stereoOutput;
    float diffusionAmount;
    Diffuser diffusers[kDiffuserCount];
    UnitBank bank;
};

// A new engine holding every default, or null when memory runs out.
EngineState* createEngineState();
void destroyEngineState(EngineState* engine);
