#include "control/filter_poles.h"

#include <math.h>

#include "control/bank_spread.h"
#include "control/control_constants.h"

namespace {

// A cutoff of 0 Hz gives the pole 1. Cutoffs at or below 0 Hz, or of
// opposite signs, give a NaN or a pole above 1, which would make the stage
// grow without bound and fill the unit with infinities for good: such a
// pole is held at 1, the 0 Hz limit. Cutoffs above 0 Hz keep their pole.
float stablePole(float pole) { return pole <= 1.0f ? pole : 1.0f; }

// A non-finite resonance would do the same through the ladder's feedback.
float finiteResonance(float resonance) { return isfinite(resonance) ? resonance : 0.0f; }

}  // namespace

void updateFilterPoles(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    const GeometricSpread cutoffs = makeGeometricSpread(bank.cutoffFirst, bank.cutoffLast, count);
    const float resonance = finiteResonance(bank.ladderResonance);
    for (uint64_t k = 0; k < count; ++k) {
        // Pole of a one-pole low-pass at this cutoff and the internal rate.
        const float pole = stablePole(expf(geometricSpreadAt(cutoffs, k) * kPoleScale));
        for (LadderSet& set : bank.ladderSets) {
            set.resonance[k] = resonance;
            set.pole1[k] = pole;
            set.pole2[k] = pole;
            set.pole3[k] = pole;
            set.pole4[k] = pole;
        }
    }
}
