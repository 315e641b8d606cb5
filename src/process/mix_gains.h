// Equal-power dry/wet crossfade gains from the smoothed mix value.
#pragma once

struct EngineState;

// Rewrites dryGain and wetGain for a mix position (-1 dry .. 1 wet); values
// outside that range keep turning around the circle.
void updateMixGains(EngineState& engine, float mix);
