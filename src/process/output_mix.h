// The final dry/wet mix of one block into the two output ports, and its
// equal-power crossfade gains.
#pragma once

#include <stdint.h>

struct EngineState;

// `dry` is the block's unprocessed input; `left`/`right` hold the processed
// pair and receive the outputs. n <= 16.
void mixOutputs(const EngineState& engine, const float* dry, float* left, float* right, uint32_t n);

struct MixGains {
    float dry;
    float wet;
};

// Equal-power crossfade gains for a mix position (-1 dry .. 1 wet); values
// outside that range keep turning around the circle.
MixGains equalPowerMixGains(float mix);

// Rewrites dryGain and wetGain for a mix position.
void updateMixGains(EngineState& engine, float mix);
