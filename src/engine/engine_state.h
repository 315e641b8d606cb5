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

// Coefficients and state of one four-stage ladder filter.
struct LadderRecord {
    float lastOutput;
    float resonance;
    float inputCompensation;
    float feedbackScale;
    float pole1;
    float state1;
    float pole2;
    float state2;
    float pole3;
    float state3;
    float pole4;
    float state4;
};

// One modulated feedback delay loop of the bank.
struct ChainUnit {
    float sampleRate;
    float feedback;
    float readPhase;
    uint64_t writeIndex;
    float decayMs;
    uint64_t length;
    uint64_t targetLength;
    uint64_t pendingLength;  // 0: no request
    bool gliding;
    float readSpeed;
    float ringGain;
    float modDepth;
    float lfoIncrement;
    float lfoPhase;
    float dcState;
    float ring[kUnitRingStorage];
};

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
    ChainUnit units[kMaxUnits];
    uint64_t tapOffsetA[kMaxUnits];
    uint64_t tapOffsetB[kMaxUnits];
    LadderRecord ladderSets[kLadderSetCount][kMaxUnits];
    float unitInputGain[kMaxUnits];
    float distributionCurve;
    RoutingMode routingMode;
    // Draws the jitter and the taps; the instance's own, so that neither
    // another instance nor the host can change them.
    RandomGenerator random;
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
