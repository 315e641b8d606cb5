#include "process/output_mix.h"

#include <math.h>

#include "engine/engine_state.h"

void mixOutputs(const EngineState& engine, const float* dry, float* left, float* right, uint32_t n) {
    const float dryGain = engine.dryGain;
    const float wetGain = engine.wetGain;
    if (engine.stereoOutput) {
        for (uint32_t k = 0; k < n; ++k) {
            const float x = dry[k];
            const float l = left[k];
            const float r = right[k];
            left[k] = wetGain * l + dryGain * x;
            right[k] = wetGain * r + dryGain * x;
        }
    } else {
        // Mono: both outputs carry the sum of the processed channels.
        for (uint32_t k = 0; k < n; ++k) {
            const float y = wetGain * (right[k] + left[k]) + dryGain * dry[k];
            left[k] = y;
            right[k] = y;
        }
    }
}

MixGains equalPowerMixGains(float mix) {
    // Angle on the quarter turn between the dry and the wet axis.
    const float theta = static_cast<float>(static_cast<double>(mix) * 0.7853981633974483);
    float s;
    float c;
    sincosf(theta, &s, &c);
    return MixGains{(c - s) * 0.70710677f, (c + s) * 0.70710677f};
}

void updateMixGains(EngineState& engine, float mix) {
    const MixGains gains = equalPowerMixGains(mix);
    engine.dryGain = gains.dry;
    engine.wetGain = gains.wet;
}
