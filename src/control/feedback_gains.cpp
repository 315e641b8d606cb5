#include "control/feedback_gains.h"

#include "control/bank_spread.h"
#include "engine/loop_gain.h"

void updateFeedbackGains(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    ChainUnits& units = bank.units;
    for (uint64_t k = 0; k < count; ++k) {
        units.decayMs[k] = spreadLinear(bank.decayFirst, bank.decayLast, k, count);
        // From the current length: a posted request takes effect only when
        // the glide ends, and the kernel recomputes the gain then.
        units.feedback[k] = controlLoopGain(units.length[k], units.sampleRate[k], units.decayMs[k]);
    }
}
