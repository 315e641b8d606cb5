#include <math.h>

#include "control/bank_recompute.h"
#include "control/bank_spread.h"
#include "control/control_constants.h"

void updateFilterPoles(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    const GeometricSpread cutoffs = makeGeometricSpread(bank.cutoffFirst, bank.cutoffLast, count);
    for (uint64_t k = 0; k < count; ++k) {
        // Pole of a one-pole low-pass at this cutoff and the internal rate.
        const float pole = expf(geometricSpreadAt(cutoffs, k) * kPoleScale);
        for (auto& set : bank.ladderSets) {
            LadderRecord& record = set[k];
            record.resonance = bank.ladderResonance;
            record.pole1 = pole;
            record.pole2 = pole;
            record.pole3 = pole;
            record.pole4 = pole;
        }
    }
}
