#include "kernels/ladder_filter.h"

#include "kernels/ladder_step.h"

namespace {

// Runs one record over the block in place. The coefficients and states live
// in locals for the whole block and are stored back once; all four stages
// and the feedback from stage 4 run whatever the mix uses.
template <typename Mix>
void runLadder(LadderRecord& rec, float* x, uint32_t n, Mix mix) {
    const LadderCoefficients<float> c = {1.0f + rec.resonance * rec.inputCompensation,
                                         rec.resonance * rec.feedbackScale,
                                         rec.pole1, rec.pole2, rec.pole3, rec.pole4};
    LadderMemory<float> m = {rec.lastOutput, rec.state1, rec.state2, rec.state3, rec.state4};
    for (uint32_t j = 0; j < n; ++j) x[j] = mix(ladderStep(c, m, x[j]));
    rec.lastOutput = m.last;
    rec.state1 = m.s1;
    rec.state2 = m.s2;
    rec.state3 = m.s3;
    rec.state4 = m.s4;
}

}  // namespace

void filterUnitInput(UnitBank& bank, uint64_t unit, float* x, uint32_t n) {
    if (n == 0 || unit >= kMaxUnits) return;
    if (bank.filterType == FilterQuarterLevel) {
        for (uint32_t j = 0; j < n; ++j) x[j] = x[j] * 0.25f;
        return;
    }
    // A value that names no filter passes the block unscaled.
    forEachLadderPass(bank.filterType, [&](unsigned set, auto mix) { runLadder(bank.ladderSets[set][unit], x, n, mix); });
}
