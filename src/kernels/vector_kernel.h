// The unit bank's vector kernel, written once over lane traits V and
// instantiated by one translation unit per instruction set, after that
// unit's target pragma. Everything here has internal linkage, so that no
// function compiled for a wider instruction set can stand in for a baseline
// one at link time.
//
// Layout. The units' state lives in per-field arrays (ChainUnits,
// LadderSet), so the W units of a vector come in and go out with one load
// or store per field. The recurrences (LFO, read pointer, ladder, DC
// blocker) run with one unit per lane, sample after sample, each lane doing
// exactly its unit's scalar operations in order. The ring reads, the ring
// writes and the taps run per unit over runs of W consecutive samples,
// after a W x W transpose: a read looks its two entries up in a window of
// 2W ring entries, a write and a tap are plain vector stores and loads.
// The sums over the units are then formed per sample in visiting order.
//
// A block whose unit would meet an event the lanes do not model (a wrap of
// the read pointer or of the write position, a read of an entry the block
// itself writes, a glide that ends) runs that unit through the per-sample
// procedure instead (job.runAlone); everything else, glides and requests
// included, runs in the lanes.
//
// V, the lane traits, provides:
// - W (lanes per vector), kAllLanes (W one-bits), kFuseGroup and
//   kFeedbackGroup (vectors whose recurrences run together in registers),
//   kReadsByLane and kRowsByLane (up to this many samples, reads or rows go
//   lane by lane with scalar loads instead of transposes), kLookup (whether
//   lookup exists);
// - F and I, the float and int32 vectors with the compiler's operators;
//   set1, set1i, loadu, storeu, loadiu, storeiu, bits (one bit per lane of
//   a comparison), laneMask (the inverse), select, selecti, abs, min, max,
//   mini, maxi, cvtt (truncation), cvt;
// - loadLanes / storeLanes (field arrays at a stride of 1 or 2; stores only
//   the given lanes), loadIndexLanes (low words of 64-bit fields, with the
//   lanes whose value is 2^31 or more), nonZero64, nonZeroBytes;
// - lookup(lo, hi, idx): {lo, hi}[idx] for idx in [0, 2W); transpose (W x
//   W in place); storeSamples / loadSamples (the first count of W floats);
//   prefetch.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "engine/engine_state.h"
#include "kernels/block_bounds.h"
#include "kernels/ladder_step.h"
#include "kernels/ring_taps.h"
#include "kernels/unit_constants.h"
#include "kernels/vector_unit_job.h"

namespace {

constexpr uint32_t kSamples = kBlockLength;

template <class V>
struct Lanes {
    static constexpr uint32_t kVectors = (kMaxUnits + V::W - 1) / V::W;
    static constexpr uint32_t kTiles = kSamples / V::W;
    // A block of lane vectors: element j * kVectors + g holds sample j of
    // the units of vector g.
    using Block = typename V::F[kSamples * kVectors];
};

// One vector of lanes for the block: state and coefficients as the
// per-sample loops use them, and what the per-unit stages need.
template <class V>
struct LaneState {
    using F = typename V::F;
    using I = typename V::I;
    F readPhase, lfoPhase, lfoStep, depth, speed, dc, feedback, ringGain, gain;
    I write;   // write position at the block's start
    I target;  // glide target; -1 where no glide is measured
    I length;  // the loop length measured at the block's last sample
    uint32_t valid;  // lanes that hold a visited unit
    uint32_t run;    // lanes that run here; the others run on their own
    uint32_t barred; // lanes the lanes may not take: a write position past 31 bits, a silenced unit
    uint32_t glide;  // lanes whose loop length is measured every sample
    uint32_t fresh;  // of those, glides that a request starts in sample 0
    uint32_t took;   // lanes that take a waiting request in sample 0
    uint64_t taken[V::W];  // the requests they take
    float* ring[V::W];
    int32_t writeAt[V::W];
    int32_t tapA[V::W];  // start of each tap's run in the ring; -1: not a plain run
    int32_t tapB[V::W];
};

template <class V>
inline size_t unitOf(const VectorUnitJob& job, uint32_t lane) {
    return (size_t)(job.first + (uint64_t)job.stride * lane);
}

// Calls body(g, K) for vectors g .. g + K - 1, with K (a compile-time
// constant) kGroup while that many remain, then the rest together: a
// recurrence runs K vectors at a time with its states in registers, and
// their chains interleave.
template <uint32_t K, class Body>
inline void restInGroup(uint32_t rest, uint32_t g, Body& body) {
    if constexpr (K >= 1) {
        if (rest == K) return body(g, std::integral_constant<uint32_t, K>());
        restInGroup<K - 1>(rest, g, body);
    }
}

template <uint32_t kGroup, class Body>
inline void inGroups(uint32_t vectors, Body body) {
    static_assert(kGroup >= 1, "groups of at least one vector");
    uint32_t g = 0;
    for (; g + kGroup <= vectors; g += kGroup) body(g, std::integral_constant<uint32_t, kGroup>());
    restInGroup<kGroup - 1>(vectors - g, g, body);
}

// ---- Lanes in.

// Where each lane's tap run starts: (w + 64000 - offset) mod 32000, which
// for offsets below 64000 (every offset the control stage draws) takes at
// most two subtractions. -1 where the offset is larger or the run crosses
// the end of the ring.
template <class V>
typename V::I tapStarts(typename V::I write, const uint64_t* offsets, uint32_t stride, uint32_t n) {
    using I = typename V::I;
    constexpr int32_t kRing = (int32_t)kUnitRingLength;
    uint32_t wide = 0;
    I offset = V::loadIndexLanes(offsets, stride, wide);
    const I plain = (offset >= 0) & (offset < 2 * kRing) & ~V::laneMask(wide);
    offset = V::selecti(plain, offset, V::set1i(0));  // no arithmetic on the others
    I start = write + 2 * kRing - offset;
    start = start - V::selecti(start >= kRing, V::set1i(kRing), V::set1i(0));
    start = start - V::selecti(start >= kRing, V::set1i(kRing), V::set1i(0));
    const I usable = plain & (start <= kRing - (int32_t)n);
    return V::selecti(usable, start, V::set1i(-1));
}

template <class V>
void loadLanes(const VectorUnitJob& job, uint32_t g, LaneState<V>& s) {
    const UnitBank& bank = *job.bank;
    const ChainUnits& units = bank.units;
    const size_t at = unitOf<V>(job, g * V::W);
    const uint32_t st = job.stride;
    s.readPhase = V::loadLanes(units.readPhase + at, st);
    s.lfoPhase = V::loadLanes(units.lfoPhase + at, st);
    s.lfoStep = V::loadLanes(units.lfoIncrement + at, st);
    s.depth = V::loadLanes(units.modDepth + at, st);
    s.speed = V::loadLanes(units.readSpeed + at, st);
    s.dc = V::loadLanes(units.dcState + at, st);
    s.feedback = V::loadLanes(units.feedback + at, st);
    s.ringGain = V::loadLanes(units.ringGain + at, st);
    s.gain = V::loadLanes(bank.unitInputGain + at, st);
    s.write = V::loadIndexLanes(units.writeIndex + at, st, s.barred);
    // A write position outside the ring (only damaged state has one) is
    // left to runAlone, and 0 stands in for it here, so that no lane's
    // integer arithmetic can overflow. So are silenced units (see the
    // signal guard).
    using I = typename V::I;
    const I inRing = (s.write >= 0) & (s.write < (int32_t)kUnitRingLength);
    s.write = V::selecti(inRing, s.write, V::set1i(0));
    s.barred |= V::bits(~inRing) |
                V::bits((I)V::loadLanes(reinterpret_cast<const float*>(units.ringLeftToClear + at), st) != 0);
    s.target = V::set1i(-1);
    s.length = V::set1i(0);
    const uint32_t left = job.count - g * V::W;
    s.valid = left >= V::W ? V::kAllLanes : (1u << left) - 1u;
    s.glide = s.fresh = s.took = 0;
    // Lanes past the visited units use the first unit's ring, and store nothing.
    UnitRing* ring = job.bank->rings + at;
    for (uint32_t i = 0; i < V::W; ++i, ring += st) s.ring[i] = (s.valid >> i & 1u) != 0 ? ring->samples : job.bank->rings[job.first].samples;
    V::storeiu(s.writeAt, s.write);
    V::storeiu(s.tapA, tapStarts<V>(s.write, bank.tapOffsetA + at, st, job.n));
    V::storeiu(s.tapB, tapStarts<V>(s.write, bank.tapOffsetB + at, st, job.n));
}

// Glides and waiting requests, lane by lane (rare but while the host moves
// the sizes). A waiting request is taken in sample 0 as the per-sample
// procedure takes it, and a glide it starts is measured from sample 1 on.
template <class V>
void prepareGlides(const VectorUnitJob& job, uint32_t g, LaneState<V>& s) {
    const ChainUnits& units = job.bank->units;
    const size_t at = unitOf<V>(job, g * V::W);
    const uint32_t busy =
        (V::nonZeroBytes(units.gliding + at, job.stride) | V::nonZero64(units.pendingLength + at, job.stride)) & s.valid;
    if (busy == 0) return;
    alignas(64) float speed[V::W];
    alignas(64) int32_t target[V::W];
    V::storeu(speed, s.speed);
    V::storeiu(target, s.target);
    for (uint32_t i = 0; i < V::W; ++i) {
        if ((busy >> i & 1u) == 0) continue;
        const size_t u = unitOf<V>(job, g * V::W + i);
        uint64_t goal;
        if (units.gliding[u]) {
            goal = units.targetLength[u];
        } else {
            goal = units.pendingLength[u];
            s.took |= 1u << i;
            s.taken[i] = goal;
            if (goal == units.length[u]) continue;
            speed[i] = goal > units.length[u] ? kLengtheningSpeed : kShorteningSpeed;
            s.fresh |= 1u << i;
        }
        s.glide |= 1u << i;
        // A measured length lies in 1 .. 32000: larger targets are never met.
        target[i] = goal <= kUnitRingLength ? (int32_t)goal : -1;
    }
    s.speed = V::loadu(speed);
    s.target = V::loadiu(target);
}

// ---- Motion and input filter, in lane layout.

// Motion with the loop length measured every sample, for a vector with a
// glide: the lanes whose glide would end in the block are returned (they
// run on their own, where the feedback is recomputed).
template <class V>
uint32_t moveGlidingLanes(LaneState<V>& s, uint32_t n, uint32_t g, typename V::F* r) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr uint32_t K = Lanes<V>::kVectors;
    constexpr int32_t kRing = (int32_t)kUnitRingLength;
    F p = s.lfoPhase, rp = s.readPhase;
    I met = V::set1i(0), d = V::set1i(0);
    const I fromSecond = V::laneMask(s.fresh);
    for (uint32_t j = 0; j < n; ++j) {
        p = p + s.lfoStep;
        p = V::select(p >= 1.0f, p - 2.0f, p);
        r[j * K + g] = rp + (1.0f + s.depth * (1.0f + V::abs(p)));
        // d = w - trunc(readPhase), plus a whole ring unless w is ahead. The
        // clamp changes no position a running lane has, and keeps the
        // others' arithmetic from overflowing.
        const I w = s.write + (int32_t)(j + 1);
        const I whole = V::cvtt(V::max(V::min(rp, V::set1(2.0f * kRingLengthFloat)), V::set1(0.0f)));
        d = w - whole + V::selecti(V::cvt(w) > rp, V::set1i(0), V::set1i(kRing));
        const I meets = d == s.target;
        met = met | (j == 0 ? meets & ~fromSecond : meets);
        rp = rp + s.speed;
    }
    s.lfoPhase = p;
    s.readPhase = rp;
    s.length = d;
    return V::bits(met);
}

template <class V>
struct LadderLanes {
    LadderCoefficients<typename V::F> c;
    LadderMemory<typename V::F> m;
};

template <class V>
inline void loadLadder(const VectorUnitJob& job, const LadderSet& set, uint32_t g, LadderLanes<V>& l) {
    using F = typename V::F;
    const size_t at = unitOf<V>(job, g * V::W);
    const uint32_t st = job.stride;
    const F resonance = V::loadLanes(set.resonance + at, st);
    l.c = {1.0f + resonance * V::loadLanes(set.inputCompensation + at, st),
           resonance * V::loadLanes(set.feedbackScale + at, st),
           V::loadLanes(set.pole1 + at, st),
           V::loadLanes(set.pole2 + at, st),
           V::loadLanes(set.pole3 + at, st),
           V::loadLanes(set.pole4 + at, st)};
    l.m = {V::loadLanes(set.lastOutput + at, st), V::loadLanes(set.state1 + at, st), V::loadLanes(set.state2 + at, st),
           V::loadLanes(set.state3 + at, st), V::loadLanes(set.state4 + at, st)};
}

template <class V>
inline void storeLadder(const VectorUnitJob& job, LadderSet& set, uint32_t g, const LadderLanes<V>& l, uint32_t run) {
    const size_t at = unitOf<V>(job, g * V::W);
    const uint32_t st = job.stride;
    V::storeLanes(set.lastOutput + at, st, l.m.last, run);
    V::storeLanes(set.state1 + at, st, l.m.s1, run);
    V::storeLanes(set.state2 + at, st, l.m.s2, run);
    V::storeLanes(set.state3 + at, st, l.m.s3, run);
    V::storeLanes(set.state4 + at, st, l.m.s4, run);
}

// What the feedback stage takes as the unit's input.
enum class InputForm : uint8_t {
    Filtered,  // x holds the filtered block
    Quarter,   // no ladder, a quarter of input * gain
    Plain,     // no filter: input * gain
};

// The motion of the vectors without a glide and the ladder passes of the
// filter type in one loop over the samples: the ladder's long chain (about
// 33 cycles a sample) then overlaps the motion's short ones.
template <class V, class Mix0, class Mix1>
void moveAndFilterGroups(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, LadderPasses<Mix0, Mix1> passes,
                         typename V::F* r, typename V::F* x) {
    using F = typename V::F;
    constexpr uint32_t K = Lanes<V>::kVectors;
    constexpr bool kFilter = !std::is_same<Mix0, NoLadderPass>::value;
    constexpr bool kSecond = !std::is_same<Mix1, NoLadderPass>::value;
    UnitBank& bank = *job.bank;
    const uint32_t n = job.n;
    inGroups<V::kFuseGroup>(vectors, [&](uint32_t g0, auto group) {
        constexpr uint32_t G = decltype(group)::value;
        F p[G], rp[G];
        bool moves[G];
        LadderLanes<V> first[G], second[G];
        for (uint32_t k = 0; k < G; ++k) {
            const LaneState<V>& s = lanes[g0 + k];
            moves[k] = s.glide == 0;
            p[k] = s.lfoPhase;
            rp[k] = s.readPhase;
            if constexpr (kFilter) loadLadder(job, bank.ladderSets[passes.firstSet], g0 + k, first[k]);
            if constexpr (kSecond) loadLadder(job, bank.ladderSets[passes.secondSet], g0 + k, second[k]);
        }
        for (uint32_t j = 0; j < n; ++j) {
            const F in = V::set1(job.input[j]);
#pragma GCC unroll 8
            for (uint32_t k = 0; k < G; ++k) {
                const LaneState<V>& s = lanes[g0 + k];
                if (moves[k]) {
                    p[k] = p[k] + s.lfoStep;
                    p[k] = V::select(p[k] >= 1.0f, p[k] - 2.0f, p[k]);
                    r[j * K + g0 + k] = rp[k] + (1.0f + s.depth * (1.0f + V::abs(p[k])));
                    rp[k] = rp[k] + s.speed;
                }
                if constexpr (kFilter) {
                    F y = passes.firstMix(ladderStep(first[k].c, first[k].m, in * s.gain));
                    if constexpr (kSecond) y = passes.secondMix(ladderStep(second[k].c, second[k].m, y));
                    x[j * K + g0 + k] = y;
                }
            }
        }
        for (uint32_t k = 0; k < G; ++k) {
            LaneState<V>& s = lanes[g0 + k];
            if (moves[k]) {
                s.lfoPhase = p[k];
                s.readPhase = rp[k];
            }
            if constexpr (kFilter) storeLadder(job, bank.ladderSets[passes.firstSet], g0 + k, first[k], s.run);
            if constexpr (kSecond) storeLadder(job, bank.ladderSets[passes.secondSet], g0 + k, second[k], s.run);
        }
    });
}

template <class V>
InputForm moveAndFilter(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, typename V::F* r,
                        typename V::F* x) {
    const FilterType type = job.bank->filterType;
    const bool filtered = withLadderPasses(type, [&](auto passes) { moveAndFilterGroups<V>(job, lanes, vectors, passes, r, x); });
    if (filtered) return InputForm::Filtered;
    moveAndFilterGroups<V>(job, lanes, vectors, LadderPasses<NoLadderPass, NoLadderPass>{}, r, x);
    return type == FilterQuarterLevel ? InputForm::Quarter : InputForm::Plain;
}

// ---- Ring reads.

// Per unit and tile of W samples, a window of 2W ring entries from the
// tile's lowest position, looked up by lane (the classification keeps each
// tile's reads within it).
template <class V>
void readRingsInWindows(const LaneState<V>* lanes, uint32_t vectors, uint32_t n, const typename V::F* r, typename V::F* v) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    constexpr int32_t kHighestBase = (int32_t)(kUnitRingStorage - 2 * W);
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        for (uint32_t t = 0; t * W < n; ++t) {
            F tile[W];
            F lowest = r[t * W * K + g];
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) {
                // Samples past n repeat the last position, so that the window stays in range.
                tile[i] = r[(t * W + i < n ? t * W + i : n - 1) * K + g];
                lowest = V::min(lowest, tile[i]);
            }
            alignas(64) int32_t base[W];
            V::storeiu(base, V::mini(V::maxi(V::cvtt(lowest), V::set1i(0)), V::set1i(kHighestBase)));
            V::transpose(tile);
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) {
                // Lanes that do not run read a window all the same, in range.
                const float* window = s.ring[i] + base[i];
                // Running lanes read in [1, 32000); the clamp keeps the
                // others' arithmetic from overflowing.
                const I whole = V::cvtt(V::max(V::min(tile[i], V::set1(kRingLengthFloat)), V::set1(0.0f)));
                const F frac = tile[i] - V::cvt(whole);
                const I at = whole - base[i];
                const F lo = V::loadu(window), hi = V::loadu(window + W);
                const F a = V::lookup(lo, hi, at);
                const F b = V::lookup(lo, hi, at + 1);
                tile[i] = a + frac * (b - a);
                V::prefetch(window + 4 * kSamples);
            }
            V::transpose(tile);
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) v[(t * W + i) * K + g] = tile[i];
        }
    }
}

// The same reads lane by lane with two scalar loads each, for a few samples
// (where transposes would cost more) or without a lookup instruction.
template <class V, uint32_t kN = 0>
void readRingsByLane(const LaneState<V>* lanes, uint32_t vectors, uint32_t count, const typename V::F* r, typename V::F* v) {
    const uint32_t n = kN != 0 ? kN : count;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    const float* positions = reinterpret_cast<const float*>(r);
    float* values = reinterpret_cast<float*>(v);
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        for (uint32_t i = 0; i < W; ++i) {
            if ((s.run >> i & 1u) == 0) continue;
            const float* ring = s.ring[i];
            for (uint32_t j = 0; j < n; ++j) {
                const size_t at = (size_t)(j * K + g) * W + i;
                // Positions lie in [1, 32000): truncation is exact, and so is the fraction.
                const int32_t whole = (int32_t)positions[at];
                const float frac = positions[at] - (float)whole;
                values[at] = ring[whole] + frac * (ring[whole + 1] - ring[whole]);
            }
        }
    }
}

// ---- DC blocker, feedback and the value each sample writes, in lane layout.

template <class V, InputForm kForm>
void feedbackLanes(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, const typename V::F* x,
                   typename V::F* valuesToWritten, typename V::F* out) {
    using F = typename V::F;
    constexpr uint32_t K = Lanes<V>::kVectors;
    F* const q = valuesToWritten;  // the ring values read come in, the values to write go out
    inGroups<V::kFeedbackGroup>(vectors, [&](uint32_t g0, auto group) {
        constexpr uint32_t G = decltype(group)::value;
        F dc[G];
        for (uint32_t k = 0; k < G; ++k) dc[k] = lanes[g0 + k].dc;
        for (uint32_t j = 0; j < job.n; ++j) {
#pragma GCC unroll 8
            for (uint32_t k = 0; k < G; ++k) {
                const LaneState<V>& s = lanes[g0 + k];
                const uint32_t at = j * K + g0 + k;
                const F y = kDcBlockerInputGain * q[at] + kDcBlockerPole * dc[k];
                const F o = y - dc[k];
                dc[k] = y;
                out[at] = o;
                F in;
                if constexpr (kForm == InputForm::Filtered) in = x[at];
                if constexpr (kForm == InputForm::Quarter) in = V::set1(job.input[j]) * s.gain * 0.25f;
                if constexpr (kForm == InputForm::Plain) in = V::set1(job.input[j]) * s.gain;
                q[at] = (in + o * s.feedback) * s.ringGain;
            }
        }
        for (uint32_t k = 0; k < G; ++k) lanes[g0 + k].dc = dc[k];
    });
}

// ---- Ring writes, taps and the sums, per unit in visiting order.

// A tap whose n entries do not run on in the ring, copied into spare.
inline const float* tapRun(const float* ring, int32_t start, int32_t writeAt, uint64_t offset, uint32_t n, float* spare) {
    if (start >= 0) return ring + start;
    readTap(ring, (uint64_t)writeAt + 2 * kUnitRingLength - offset, n, spare);
    return spare;
}

template <class V>
struct Sums {
    typename V::F left[Lanes<V>::kTiles], right[Lanes<V>::kTiles];
};

// One unit's contributions join the sums: the first unit visited adds, the
// next subtracts, and so on.
template <class V, bool kSubtract>
inline void accumulate(Sums<V>& sums, const typename V::F* left, const typename V::F* right) {
#pragma GCC unroll 4
    for (uint32_t t = 0; t < Lanes<V>::kTiles; ++t) {
        if constexpr (kSubtract) {
            sums.left[t] = sums.left[t] - left[t];
            sums.right[t] = sums.right[t] - right[t];
        } else {
            sums.left[t] = left[t] + sums.left[t];
            sums.right[t] = right[t] + sums.right[t];
        }
    }
}

// The written values and the main outputs, transposed into runs of W
// samples per unit: the unit's writes first, then its taps (a tap offset
// within a block of a whole turn reads this block's own values), then its
// contributions main + tap into the sums. Units that ran on their own bring
// their contributions in the job's rows.
template <class V>
Sums<V> writeTapAndSum(const VectorUnitJob& job, const LaneState<V>* lanes, uint32_t vectors, const typename V::F* q,
                       const typename V::F* out) {
    using F = typename V::F;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors, T = Lanes<V>::kTiles;
    const UnitBank& bank = *job.bank;
    const uint32_t n = job.n;
    const bool whole = n == kSamples;
    Sums<V> sums;
    for (uint32_t t = 0; t < T; ++t) sums.left[t] = sums.right[t] = V::set1(0.0f);
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        F written[T][W], mains[T][W];
        for (uint32_t t = 0; t * W < n; ++t) {
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) {
                written[t][i] = q[(t * W + i) * K + g];
                mains[t][i] = out[(t * W + i) * K + g];
            }
            V::transpose(written[t]);
            V::transpose(mains[t]);
        }
        const uint32_t lanesHere = (uint32_t)__builtin_popcount(s.valid);
#pragma GCC unroll 16
        for (uint32_t i = 0; i < W; ++i) {
            if (i >= lanesHere) break;
            F left[T], right[T];
            if ((s.run >> i & 1u) != 0) {
                float* ring = s.ring[i];
                float* write = ring + s.writeAt[i];
                if (whole) {
#pragma GCC unroll 4
                    for (uint32_t t = 0; t < T; ++t) V::storeu(write + t * W, written[t][i]);
                } else {
                    for (uint32_t t = 0; t * W < n; ++t) V::storeSamples(write + t * W, written[t][i], n - t * W);
                }
                const float* tapA = ring + s.tapA[i];
                const float* tapB = ring + s.tapB[i];
                alignas(64) float spareA[kSamples], spareB[kSamples];
                if (__builtin_expect((s.tapA[i] | s.tapB[i]) < 0, 0)) {
                    const size_t u = unitOf<V>(job, g * W + i);
                    tapA = tapRun(ring, s.tapA[i], s.writeAt[i], bank.tapOffsetA[u], n, spareA);
                    tapB = tapRun(ring, s.tapB[i], s.writeAt[i], bank.tapOffsetB[u], n, spareB);
                }
                if (whole) {
#pragma GCC unroll 4
                    for (uint32_t t = 0; t < T; ++t) {
                        left[t] = mains[t][i] + V::loadu(tapA + t * W);
                        right[t] = mains[t][i] + V::loadu(tapB + t * W);
                    }
                } else {
                    for (uint32_t t = 0; t < T; ++t) {
                        const uint32_t count = n > t * W ? n - t * W : 0;
                        left[t] = mains[t][i] + V::loadSamples(tapA + t * W, count);
                        right[t] = mains[t][i] + V::loadSamples(tapB + t * W, count);
                    }
                }
                // Four blocks ahead on the three streams that move by a block.
                V::prefetch(write + 4 * kSamples);
                V::prefetch(tapA + 4 * kSamples);
                V::prefetch(tapB + 4 * kSamples);
            } else {
                const uint32_t k = g * W + i;
                for (uint32_t t = 0; t < T; ++t) {
                    left[t] = V::loadu(job.aloneLeft[k] + t * W);
                    right[t] = V::loadu(job.aloneRight[k] + t * W);
                }
            }
            if (i % 2 == 0) {
                accumulate<V, false>(sums, left, right);
            } else {
                accumulate<V, true>(sums, left, right);
            }
        }
    }
    return sums;
}

// The same for a few samples, lane by lane without transposes.
template <class V, uint32_t kN>
void writeTapAndSumByLane(const VectorUnitJob& job, const LaneState<V>* lanes, uint32_t vectors, const typename V::F* q,
                          const typename V::F* out) {
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors, n = kN;
    const UnitBank& bank = *job.bank;
    const float* written = reinterpret_cast<const float*>(q);
    const float* mains = reinterpret_cast<const float*>(out);
    float left[kSamples] = {}, right[kSamples] = {};
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        for (uint32_t i = 0; i < W; ++i) {
            if ((s.valid >> i & 1u) == 0) break;
            const uint32_t k = g * W + i;
            float contribLeft[kSamples], contribRight[kSamples];
            if ((s.run >> i & 1u) != 0) {
                float* ring = s.ring[i];
                float* write = ring + s.writeAt[i];
                for (uint32_t j = 0; j < n; ++j) write[j] = written[(size_t)(j * K + g) * W + i];
                const size_t u = unitOf<V>(job, k);
                alignas(64) float spareA[kSamples], spareB[kSamples];
                const float* tapA = tapRun(ring, s.tapA[i], s.writeAt[i], bank.tapOffsetA[u], n, spareA);
                const float* tapB = tapRun(ring, s.tapB[i], s.writeAt[i], bank.tapOffsetB[u], n, spareB);
                for (uint32_t j = 0; j < n; ++j) {
                    const float main = mains[(size_t)(j * K + g) * W + i];
                    contribLeft[j] = main + tapA[j];
                    contribRight[j] = main + tapB[j];
                }
            } else {
                memcpy(contribLeft, job.aloneLeft[k], n * sizeof(float));
                memcpy(contribRight, job.aloneRight[k], n * sizeof(float));
            }
            for (uint32_t j = 0; j < n; ++j) {
                if (k % 2 == 0) {
                    left[j] = contribLeft[j] + left[j];
                    right[j] = contribRight[j] + right[j];
                } else {
                    left[j] = left[j] - contribLeft[j];
                    right[j] = right[j] - contribRight[j];
                }
            }
        }
    }
    memcpy(job.sumLeft, left, n * sizeof(float));
    memcpy(job.sumRight, right, n * sizeof(float));
}

// ---- Lanes out.

template <class V>
void storeLanes(const VectorUnitJob& job, uint32_t g, const LaneState<V>& s) {
    ChainUnits& units = job.bank->units;
    const size_t at = unitOf<V>(job, g * V::W);
    const uint32_t st = job.stride;
    V::storeLanes(units.readPhase + at, st, s.readPhase, s.run);
    V::storeLanes(units.lfoPhase + at, st, s.lfoPhase, s.run);
    V::storeLanes(units.dcState + at, st, s.dc, s.run);
    // The classification kept the writes clear of the ring's end: no wrap.
    uint64_t* writeIndex = units.writeIndex + at;
    for (uint32_t i = 0; i < V::W; ++i)
        if ((s.run >> i & 1u) != 0) writeIndex[i * st] = (uint64_t)(s.writeAt[i] + (int32_t)job.n);
    const uint32_t changed = (s.glide | s.took) & s.run;
    if (changed == 0) return;
    alignas(64) int32_t length[V::W];
    alignas(64) float speed[V::W];
    V::storeiu(length, s.length);
    V::storeu(speed, s.speed);
    for (uint32_t i = 0; i < V::W; ++i) {
        if ((changed >> i & 1u) == 0) continue;
        const size_t u = unitOf<V>(job, g * V::W + i);
        if ((s.took >> i & 1u) != 0) {
            units.targetLength[u] = s.taken[i];
            units.pendingLength[u] = 0;
            if ((s.glide >> i & 1u) == 0) continue;  // a request equal to the length
            units.gliding[u] = true;
            units.readSpeed[u] = speed[i];
            if (job.n == 1) continue;  // sample 0 took the request and measured nothing
        }
        // A glide measures the loop every sample; the last measure stays.
        units.length[u] = (uint64_t)length[i];
    }
}

// ---- The block.

template <class V>
void runVectorUnits(const VectorUnitJob& job) {
    // The field arrays hold every unit a vector reaches, at either stride
    // (see kUnitSlots), and a silenced unit's count loads as a float lane.
    static_assert(kUnitSlots >= 2 * ((kMaxUnits / 2 + V::W - 1) / V::W * V::W) + 1, "lanes past the arrays");
    static_assert(sizeof(uint32_t) == sizeof(float), "ringLeftToClear loads as floats");
    using F = typename V::F;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    const uint32_t vectors = (job.count + W - 1) / W;
    LaneState<V> lanes[K];
    alignas(64) typename Lanes<V>::Block r, x, v, out;
    for (uint32_t g = 0; g < vectors; ++g) {
        LaneState<V>& s = lanes[g];
        loadLanes(job, g, s);
        prepareGlides(job, g, s);
        const BlockStart<F> start = {V::cvt(s.write), s.lfoPhase, s.lfoStep, s.readPhase, s.speed, s.depth};
        s.run = V::bits(fitsLanes(start, (float)job.n, (float)W)) & s.valid & ~s.barred;
        if (s.glide != 0) s.run &= ~moveGlidingLanes(s, job.n, g, r);
    }
    const InputForm form = moveAndFilter(job, lanes, vectors, r, x);
    for (uint32_t g = 0; g < vectors; ++g) {
        const uint32_t alone = lanes[g].valid & ~lanes[g].run;
        for (uint32_t i = 0; i < W; ++i) {
            if ((alone >> i & 1u) == 0) continue;
            const uint32_t k = g * W + i;
            job.runAlone(*job.bank, unitOf<V>(job, k), job.input, job.aloneLeft[k], job.aloneRight[k], job.n);
        }
    }
    if (job.n <= V::kReadsByLane) {
        // One to three samples, the usual small pieces, with their count known.
        switch (job.n) {
            case 1: readRingsByLane<V, 1>(lanes, vectors, 1, r, v); break;
            case 2: readRingsByLane<V, 2>(lanes, vectors, 2, r, v); break;
            case 3: readRingsByLane<V, 3>(lanes, vectors, 3, r, v); break;
            default: readRingsByLane<V>(lanes, vectors, job.n, r, v); break;
        }
    } else if constexpr (V::kLookup) {
        readRingsInWindows(lanes, vectors, job.n, r, v);
    }
    switch (form) {
        case InputForm::Filtered: feedbackLanes<V, InputForm::Filtered>(job, lanes, vectors, x, v, out); break;
        case InputForm::Quarter: feedbackLanes<V, InputForm::Quarter>(job, lanes, vectors, x, v, out); break;
        case InputForm::Plain: feedbackLanes<V, InputForm::Plain>(job, lanes, vectors, x, v, out); break;
    }
    static_assert(V::kRowsByLane <= 3, "rows lane by lane for up to three samples");
    if (job.n <= V::kRowsByLane) {
        switch (job.n) {
            case 1: writeTapAndSumByLane<V, 1>(job, lanes, vectors, v, out); break;
            case 2: writeTapAndSumByLane<V, 2>(job, lanes, vectors, v, out); break;
            default: writeTapAndSumByLane<V, 3>(job, lanes, vectors, v, out); break;
        }
    } else {
        const Sums<V> sums = writeTapAndSum(job, lanes, vectors, v, out);
        alignas(64) float left[kSamples], right[kSamples];
        for (uint32_t t = 0; t < Lanes<V>::kTiles; ++t) {
            V::storeu(left + t * W, sums.left[t]);
            V::storeu(right + t * W, sums.right[t]);
        }
        memcpy(job.sumLeft, left, job.n * sizeof(float));
        memcpy(job.sumRight, right, job.n * sizeof(float));
    }
    for (uint32_t g = 0; g < vectors; ++g) storeLanes(job, g, lanes[g]);
}

}  // namespace
