// One sample of the units' four-stage ladder, written once for any value
// type with float arithmetic: a float for one unit, or a vector holding one
// unit per lane. Each lane then does exactly the scalar operations.
//
// Internal linkage on purpose: the vector translation units include this
// after enabling wider instruction sets, and no copy compiled there may be
// picked at link time for the baseline code.
#pragma once

#include <type_traits>

#include "engine/engine_state.h"

namespace {

// Stage outputs of one sample, for the tap mixes. d is stage 2's correction
// term pole2*(state2 - y1), so y2 = d + y1.
template <class T>
struct LadderTaps {
    T u;
    T y1;
    T d;
    T y2;
    T y3;
    T y4;
};

template <class T>
struct LadderCoefficients {
    T a;  // input factor 1 + resonance * inputCompensation
    T b;  // feedback factor resonance * feedbackScale
    T p1, p2, p3, p4;
};

template <class T>
struct LadderMemory {
    T last;  // stage-4 output of the previous sample
    T s1, s2, s3, s4;
};

// The four stages from the stage input t.u on.
template <class T>
inline void ladderStages(const LadderCoefficients<T>& c, LadderMemory<T>& m, LadderTaps<T>& t) {
    t.y1 = t.u + c.p1 * (m.s1 - t.u);
    m.s1 = t.y1;
    // d + y1 and y1 + d are the same sum, so every set may take this form.
    t.d = c.p2 * (m.s2 - t.y1);
    t.y2 = t.d + t.y1;
    m.s2 = t.y2;
    t.y3 = t.y2 + c.p3 * (m.s3 - t.y2);
    m.s3 = t.y3;
    t.y4 = t.y3 + c.p4 * (m.s4 - t.y3);
    m.s4 = t.y4;
    m.last = t.y4;
}

template <class T>
inline LadderTaps<T> ladderStep(const LadderCoefficients<T>& c, LadderMemory<T>& m, T x) {
    LadderTaps<T> t;
    t.u = x * c.a - c.b * m.last;
    ladderStages(c, m, t);
    return t;
}

// The same step where the feedback factor b is zero (no resonance): while
// the last output stays finite, b * last is a zero and x * a less a zero is
// x * a itself unless x * a is -0. Without the feedback the stages no
// longer wait for the previous sample's last stage, only for their own
// state: four short chains instead of one long one. The caller makes sure
// that x * a is never a zero and checks that the last output is still
// finite after the block.
template <class T>
inline LadderTaps<T> ladderStepOpen(const LadderCoefficients<T>& c, LadderMemory<T>& m, T x) {
    LadderTaps<T> t;
    t.u = x * c.a;
    ladderStages(c, m, t);
    return t;
}

// The tap mixes, one type each so that every filter type gets its own loop.
// Negated two-pole band-pass.
struct BandPass2 {
    template <class T>
    T operator()(const LadderTaps<T>& t) const {
        return t.d;
    }
};
// Negated four-pole band-pass.
struct BandPass4 {
    template <class T>
    T operator()(const LadderTaps<T>& t) const {
        return 8.0f * t.y3 - 4.0f * t.y2 - 4.0f * t.y4;
    }
};
struct LowPass4 {
    template <class T>
    T operator()(const LadderTaps<T>& t) const {
        return t.y4;
    }
};
struct HighPass3 {
    template <class T>
    T operator()(const LadderTaps<T>& t) const {
        return t.u - 3.0f * t.y1 + 3.0f * t.y2 - t.y3;
    }
};
// The input plus a four-pole band-pass, brought down by 12 dB.
struct PeakingBoost {
    template <class T>
    T operator()(const LadderTaps<T>& t) const {
        return (t.u + 4.0f * t.y2 - 8.0f * t.y3 + 4.0f * t.y4) * 0.25f;
    }
};

// No ladder pass: the second of a type with one, both of a type with none.
struct NoLadderPass {};

// The ladder passes of a filter type: its set, then the set its output goes
// through next (the cascade runs two).
template <class FirstMix, class SecondMix>
struct LadderPasses {
    unsigned firstSet;
    FirstMix firstMix;
    unsigned secondSet;
    SecondMix secondMix;
};

// Calls run(passes) with the ladder passes of a filter type and returns
// true, or returns false for a type that runs none (FilterQuarterLevel's
// scaling by 0.25 is not a ladder pass).
template <class Run>
inline bool withLadderPasses(FilterType filterType, Run run) {
    switch (filterType) {
        case FilterBandPass2: run(LadderPasses<BandPass2, NoLadderPass>{0u, {}, 0u, {}}); return true;
        case FilterBandPass4: run(LadderPasses<BandPass4, NoLadderPass>{1u, {}, 0u, {}}); return true;
        case FilterBandPassCascade: run(LadderPasses<BandPass2, BandPass4>{0u, {}, 1u, {}}); return true;
        case FilterLowPass4: run(LadderPasses<LowPass4, NoLadderPass>{2u, {}, 0u, {}}); return true;
        case FilterHighPass3: run(LadderPasses<HighPass3, NoLadderPass>{3u, {}, 0u, {}}); return true;
        case FilterPeakingBoost: run(LadderPasses<PeakingBoost, NoLadderPass>{4u, {}, 0u, {}}); return true;
        default: return false;
    }
}

// Calls run(set, mix) for each ladder pass of a filter type, in order.
template <class Run>
inline void forEachLadderPass(FilterType filterType, Run run) {
    withLadderPasses(filterType, [&](auto passes) {
        run(passes.firstSet, passes.firstMix);
        if constexpr (!std::is_same<decltype(passes.secondMix), NoLadderPass>::value) run(passes.secondSet, passes.secondMix);
    });
}

}  // namespace
