#include "kernels/ladder_filter.h"

#include "kernels/ladder_step.h"

namespace {

// Runs unit u's filter of one set over the block in place. The
// coefficients and states live in locals for the whole block and are stored
// back once; all four stages and the feedback from stage 4 run whatever the
// mix uses.
template <typename Mix>
void runLadder(LadderSet& set, uint64_t u, float* x, uint32_t n, Mix mix) {
    const LadderCoefficients<float> c = {1.0f + set.resonance[u] * set.inputCompensation[u],
                                         set.resonance[u] * set.feedbackScale[u],
                                         set.pole1[u], set.pole2[u], set.pole3[u], set.pole4[u]};
    LadderMemory<float> m = {set.lastOutput[u], set.state1[u], set.state2[u], set.state3[u], set.state4[u]};
    for (uint32_t j = 0; j < n; ++j) x[j] = mix(ladderStep(c, m, x[j]));
    set.lastOutput[u] = m.last;
    set.state1[u] = m.s1;
    set.state2[u] = m.s2;
    set.state3[u] = m.s3;
    set.state4[u] = m.s4;
}

}  // namespace

void filterUnitInput(UnitBank& bank, uint64_t unit, float* x, uint32_t n) {
    if (n == 0 || unit >= kMaxUnits) return;
    if (bank.filterType == FilterQuarterLevel) {
        for (uint32_t j = 0; j < n; ++j) x[j] = x[j] * 0.25f;
        return;
    }
    // A value that names no filter passes the block unscaled.
    forEachLadderPass(bank.filterType, [&](unsigned set, auto mix) { runLadder(bank.ladderSets[set], unit, x, n, mix); });
}
