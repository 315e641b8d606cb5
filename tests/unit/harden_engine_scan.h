// Looks through everything an instance's audio has filled, for the
// hardening tests: every unit ring, DC blocker and ladder state, and every
// diffuser.
#pragma once

#include <math.h>
#include <stddef.h>

#include <vector>

#include "engine/engine_state.h"
#include "support/unit_refs.h"

struct StateTally {
    size_t nonFinite = 0;
    size_t subnormal = 0;
    size_t nonZero = 0;
    void count(float v) {
        if (!isfinite(v)) ++nonFinite;
        if (fpclassify(v) == FP_SUBNORMAL) ++subnormal;
        if (v != 0.0f) ++nonZero;
    }
    void count(const float* values, size_t n) {
        for (size_t k = 0; k < n; ++k) count(values[k]);
    }
};

inline StateTally tallyEngineState(const EngineState& engine) {
    StateTally tally;
    for (const Diffuser& d : engine.diffusers) {
        tally.count(d.ring, kDiffuserRingStorage);
        tally.count(d.dampState);
    }
    const UnitBank& bank = engine.bank;
    for (size_t u = 0; u < kMaxUnits; ++u) {
        tally.count(bank.rings[u].samples, kUnitRingStorage);
        tally.count(bank.units.dcState[u]);
        for (const auto& set : bank.ladderSets) {
            const LadderRef r = ladderRef(set, u);
            const float states[] = {r.lastOutput, r.state1, r.state2, r.state3, r.state4};
            tally.count(states, 5);
        }
    }
    return tally;
}

inline StateTally tallySamples(const std::vector<float>& samples, size_t from = 0) {
    StateTally tally;
    for (size_t k = from; k < samples.size(); ++k) tally.count(samples[k]);
    return tally;
}
