#include "process/mix_gains.h"

#include <math.h>

#include "engine/engine_state.h"

void updateMixGains(EngineState& engine, float mix) {
    // Angle on the quarter turn between the dry and the wet axis.
    const float theta = static_cast<float>(static_cast<double>(mix) * 0.7853981633974483);
    float s;
    float c;
    sincosf(theta, &s, &c);
    engine.dryGain = (c - s) * 0.70710677f;
    engine.wetGain = (c + s) * 0.70710677f;
}
