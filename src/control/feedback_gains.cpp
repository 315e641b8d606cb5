#include "control/feedback_gains.h"

#include "control/bank_spread.h"
#include "engine/loop_gain.h"

void updateFeedbackGains(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    for (uint64_t k = 0; k < count; ++k) {
        ChainUnit& unit = bank.units[k];
        unit.decayMs = spreadLinear(bank.decayFirst, bank.decayLast, k, count);
        // From the current length: a posted request takes effect only when
        // the glide ends, and the kernel recomputes the gain then.
        unit.feedback = controlLoopGain(unit.length, unit.sampleRate, unit.decayMs);
    }
}
