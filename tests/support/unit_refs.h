// One unit's fields, or one ladder filter's, as the tests read them: the
// engine keeps every field in an array over the units, and these gather
// references to one unit's entries under the field names.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

struct UnitRef {
    float& sampleRate;
    float& feedback;
    float& readPhase;
    uint64_t& writeIndex;
    float& decayMs;
    uint64_t& length;
    uint64_t& targetLength;
    uint64_t& pendingLength;
    bool& gliding;
    float& readSpeed;
    float& ringGain;
    float& modDepth;
    float& lfoIncrement;
    float& lfoPhase;
    float& dcState;
    float* ring;
};

inline UnitRef unitRef(const UnitBank& constBank, uint64_t k) {
    UnitBank& bank = const_cast<UnitBank&>(constBank);
    ChainUnits& u = bank.units;
    return UnitRef{u.sampleRate[k],    u.feedback[k],  u.readPhase[k],    u.writeIndex[k], u.decayMs[k],
                   u.length[k],        u.targetLength[k], u.pendingLength[k], u.gliding[k], u.readSpeed[k],
                   u.ringGain[k],      u.modDepth[k],  u.lfoIncrement[k], u.lfoPhase[k],   u.dcState[k],
                   bank.rings[k].samples};
}

struct LadderRef {
    float& lastOutput;
    float& resonance;
    float& inputCompensation;
    float& feedbackScale;
    float& pole1;
    float& state1;
    float& pole2;
    float& state2;
    float& pole3;
    float& state3;
    float& pole4;
    float& state4;
};

inline LadderRef ladderRef(const LadderSet& constSet, uint64_t k) {
    LadderSet& s = const_cast<LadderSet&>(constSet);
    return LadderRef{s.lastOutput[k], s.resonance[k], s.inputCompensation[k], s.feedbackScale[k],
                     s.pole1[k],      s.state1[k],    s.pole2[k],             s.state2[k],
                     s.pole3[k],      s.state3[k],    s.pole4[k],             s.state4[k]};
}

// One ladder filter's twelve values, as a plain record to copy and compare.
struct LadderValues {
    float lastOutput, resonance, inputCompensation, feedbackScale;
    float pole1, state1, pole2, state2, pole3, state3, pole4, state4;
};

inline LadderValues ladderValues(const LadderSet& s, uint64_t k) {
    return LadderValues{s.lastOutput[k], s.resonance[k], s.inputCompensation[k], s.feedbackScale[k],
                        s.pole1[k],      s.state1[k],    s.pole2[k],             s.state2[k],
                        s.pole3[k],      s.state3[k],    s.pole4[k],             s.state4[k]};
}

inline void storeLadderValues(LadderSet& set, uint64_t k, const LadderValues& v) {
    const LadderRef r = ladderRef(set, k);
    r.lastOutput = v.lastOutput, r.resonance = v.resonance, r.inputCompensation = v.inputCompensation;
    r.feedbackScale = v.feedbackScale, r.pole1 = v.pole1, r.state1 = v.state1, r.pole2 = v.pole2;
    r.state2 = v.state2, r.pole3 = v.pole3, r.state3 = v.state3, r.pole4 = v.pole4, r.state4 = v.state4;
}
