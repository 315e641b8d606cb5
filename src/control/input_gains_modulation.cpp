#include "control/input_gains_modulation.h"

#include <math.h>

#include "control/bank_spread.h"
#include "control/control_constants.h"

namespace {

// Depth as a fraction to samples, held to 0 .. 300 (NaN gives 300).
float modDepthSamples(float fraction) {
    if (fraction < 0.0f) return 0.0f;
    if (fraction <= 1.0f) return fraction * kMaxModDepthSamples;
    return kMaxModDepthSamples;
}

// The kernels' sawtooth only wraps upwards, once per sample: a negative, NaN
// or too large step would carry the read position out of the ring.
float clampLfoIncrement(float increment) {
    if (!(increment > 0.0f)) return 0.0f;
    return increment < kMaxLfoIncrement ? increment : kMaxLfoIncrement;
}

}  // namespace

void updateInputGains(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    for (uint64_t k = 0; k < count; ++k) {
        const float gain = spreadLinear(bank.inputGainFirst, bank.inputGainLast, k, count);
        // A NaN or infinite gain would put NaN into the unit for good, even on silence.
        bank.unitInputGain[k] = isfinite(gain) ? gain : 0.0f;
    }
}

void updateModulation(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    for (uint64_t k = 0; k < count; ++k) {
        bank.units.modDepth[k] = modDepthSamples(spreadLinear(bank.modDepthFirst, bank.modDepthLast, k, count));
        const float rateHz = spreadLinear(bank.modRateFirst, bank.modRateLast, k, count);
        bank.units.lfoIncrement[k] = clampLfoIncrement(rateHz * kLfoIncrementPerHz);
    }
}
