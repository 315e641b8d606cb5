#include <math.h>

#include "control/bank_recompute.h"
#include "control/bank_spread.h"
#include "control/control_constants.h"
#include "engine/loop_gain.h"

namespace {

// Loop gain for 60 dB of decay in decayMs around a loop of `length` samples.
float loopGainForDecay(uint64_t length, float sampleRate, float decayMs) {
    const float loopsPerDecay = static_cast<float>(length) / (sampleRate * kMillisecond * decayMs);
    return clampLoopGain(powf(kSixtyDecibels, loopsPerDecay));
}

}  // namespace

void updateFeedbackGains(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    for (uint64_t k = 0; k < count; ++k) {
        ChainUnit& unit = bank.units[k];
        unit.decayMs = spreadLinear(bank.decayFirst, bank.decayLast, k, count);
        // From the current length: a posted request takes effect only when
        // the glide ends, and the kernel recomputes the gain then.
        unit.feedback = loopGainForDecay(unit.length, unit.sampleRate, unit.decayMs);
    }
}
