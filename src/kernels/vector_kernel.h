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
// The lanes take the wraps of the LFO, of the read pointer and of the read
// position sample by sample, and the writes' wrap at the ring's end and
// their guard copies per unit. A unit whose block would meet an event they
// do not model (a read of an entry the block itself writes, a glide that
// ends, a state outside the ranges the control stage gives) runs through
// the per-sample procedure instead (job.runAlone).
//
// V, the lane traits, provides:
// - W (lanes per vector), kAllLanes (W one-bits), kFuseGroup and
//   kFeedbackGroup (vectors whose recurrences run together in registers),
//   kLookup (whether lookup exists; without it reads go lane by lane);
// - F and I, the float and int32 vectors with the compiler's operators;
//   set1, set1i, loadu, storeu, loadiu, storeiu, bits (one bit per lane of
//   a comparison), laneMask (the inverse), select, selecti, subWhere and
//   subWherei (v >= limit ? v - amount : v), abs, min, max, mini, maxi,
//   cvtt (truncation), cvt;
// - loadLanes / storeLanes (field arrays at a stride of 1 or 2; stores only
//   the given lanes), loadIndexLanes (low words of 64-bit fields, with the
//   lanes whose value is 2^31 or more), storeIndexLanes, nonZero64,
//   nonZeroBytes;
// - lookup(lo, hi, idx): {lo, hi}[idx] for idx in [0, 2W); gather(base,
//   idx, lanes): base[idx] in the given lanes, 0 in the others; gatherPair
//   (the same for base[idx] and base[idx + 1] at once); scatter(base, idx,
//   v, lanes): v into base[idx] in the given lanes; transpose
//   (W x W in place); storeSamples / loadSamples (the first count of W
//   floats); prefetch (non-temporal: see kPrefetchBlocks).
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
// How many blocks ahead the four streams of a unit (its read window, its
// writes and its two taps) are prefetched. Each line of a stream serves a
// block or two, so it is fetched non-temporally: the streams of 70 units
// would otherwise push the field arrays and the block's scratch out of the
// near caches, which measured up to 40 % slower in some runs (it depends
// on where the pages land).
constexpr uint32_t kPrefetchBlocks = 4;
// Pieces of up to this many samples (one-sample calls, the ends of split
// calls) cost mostly per vector and per unit: their reads, writes, taps and
// sums stay in lane layout, without transposes.
constexpr uint32_t kFewSamples = 3;
constexpr int32_t kRing = (int32_t)kUnitRingLength;

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
    uint32_t plain;  // running lanes whose writes and taps are runs inside the ring
    uint64_t taken[V::W];  // the requests they take
    float* rings;  // the ring of the vector's first unit; the others follow at ringAt
    I ringAt;      // each lane's ring, in floats from rings
    int32_t writeAt[V::W];
    int32_t tapA[V::W];  // start of each tap's run in the ring; -1: not a plain run
    int32_t tapB[V::W];
    // The same runs (plain lanes only) in floats from rings.
    int32_t writeFrom[V::W];
    int32_t tapAFrom[V::W];
    int32_t tapBFrom[V::W];
};

inline size_t unitOf(const VectorUnitJob& job, uint32_t k) { return (size_t)(job.first + (uint64_t)job.stride * k); }

inline float* ringOf(const VectorUnitJob& job, uint32_t k) { return job.bank->rings[unitOf(job, k)].samples; }

constexpr int32_t kRingFloats = (int32_t)(sizeof(UnitRing) / sizeof(float));
static_assert(sizeof(UnitRing) % sizeof(float) == 0 && kMaxUnits * sizeof(UnitRing) / sizeof(float) < INT32_MAX,
              "rings addressed in floats from the first");

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

// Where each lane's tap run starts. The per-sample procedure reads tap
// entry j at (W + 64000 - n - offset + j) mod 2^64 mod 32000, W being the
// write position after the block (write + n, wrapped at the ring's end).
// For an offset up to 64000 - 16 no term wraps (W - n + 64000 is at least
// that), and W - n is write modulo 32000, so the run starts at
// (write + 64000 - offset) mod 32000, two subtractions at most. -1 for
// larger offsets (tapRun reads them) and where the run crosses the end of
// the ring.
template <class V>
typename V::I tapStarts(typename V::I write, const uint64_t* offsets, uint32_t stride, uint32_t n) {
    using I = typename V::I;
    uint32_t wide = 0;
    I offset = V::loadIndexLanes(offsets, stride, wide);
    // Not wide: the low word is not negative.
    const I near = (offset <= 2 * kRing - (int32_t)kSamples) & ~V::laneMask(wide);
    offset = V::selecti(near, offset, V::set1i(0));  // no arithmetic on the others
    I start = V::subWherei(write + 2 * kRing - offset, kRing, kRing);
    start = V::subWherei(start, kRing, kRing);
    return V::selecti(near & (start <= kRing - (int32_t)n), start, V::set1i(-1));
}

template <class V>
void loadLanes(const VectorUnitJob& job, uint32_t g, LaneState<V>& s) {
    using I = typename V::I;
    const UnitBank& bank = *job.bank;
    const ChainUnits& units = bank.units;
    const size_t at = unitOf(job, g * V::W);
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
    const I inRing = (s.write >= 0) & (s.write < kRing);
    s.write = V::selecti(inRing, s.write, V::set1i(0));
    s.barred |= V::bits(~inRing) |
                V::bits((I)V::loadLanes(reinterpret_cast<const float*>(units.ringLeftToClear + at), st) != 0);
    s.target = V::set1i(-1);
    s.length = V::set1i(0);
    const uint32_t left = job.count - g * V::W;
    s.valid = left >= V::W ? V::kAllLanes : (1u << left) - 1u;
    s.glide = s.fresh = s.took = 0;
    s.rings = job.bank->rings[at].samples;
    alignas(64) int32_t lane[V::W];
    for (uint32_t i = 0; i < V::W; ++i) lane[i] = (int32_t)i;
    s.ringAt = V::loadiu(lane) * (int32_t)(st * kRingFloats);
    V::storeiu(s.writeAt, s.write);
    const I tapA = tapStarts<V>(s.write, bank.tapOffsetA + at, st, job.n);
    const I tapB = tapStarts<V>(s.write, bank.tapOffsetB + at, st, job.n);
    V::storeiu(s.tapA, tapA);
    V::storeiu(s.tapB, tapB);
    V::storeiu(s.writeFrom, s.write + s.ringAt);
    V::storeiu(s.tapAFrom, tapA + s.ringAt);
    V::storeiu(s.tapBFrom, tapB + s.ringAt);
    // Writes that neither wrap nor reach the guard copies, taps that run on.
    s.plain = V::bits((s.write >= (int32_t)kUnitGuardEntries) & (s.write <= kRing - (int32_t)job.n) & (tapA >= 0) &
                      (tapB >= 0));
}

// Glides and waiting requests, lane by lane (rare but while the host moves
// the sizes). A waiting request is taken in sample 0 as the per-sample
// procedure takes it, and a glide it starts is measured from sample 1 on.
template <class V>
void prepareGlides(const VectorUnitJob& job, uint32_t g, LaneState<V>& s) {
    const ChainUnits& units = job.bank->units;
    const size_t at = unitOf(job, g * V::W);
    const uint32_t busy =
        (V::nonZeroBytes(units.gliding + at, job.stride) | V::nonZero64(units.pendingLength + at, job.stride)) & s.valid;
    if (busy == 0) return;
    alignas(64) float speed[V::W];
    alignas(64) int32_t target[V::W];
    V::storeu(speed, s.speed);
    V::storeiu(target, s.target);
    for (uint32_t i = 0; i < V::W; ++i) {
        if ((busy >> i & 1u) == 0) continue;
        const size_t u = unitOf(job, g * V::W + i);
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

// ---- Motion, in lane layout.

// One sample's LFO step and read position, and the read pointer's advance.
template <class V, bool kWrap>
inline typename V::F moveOneSample(typename V::F& p, typename V::F& rp, const LaneState<V>& s) {
    using F = typename V::F;
    p = V::subWhere(p + s.lfoStep, 1.0f, 2.0f);
    F r = rp + (1.0f + s.depth * (1.0f + V::abs(p)));
    rp = rp + s.speed;
    if constexpr (kWrap) {
        r = V::subWhere(r, kRingLengthFloat, kRingLengthFloat);
        rp = V::subWhere(rp, kRingLengthFloat, kRingLengthFloat);
    }
    return r;
}

// The loop length measured every sample, for a vector with a glide: the
// lanes whose glide would end in the block are returned (they run on their
// own, where the feedback is recomputed).
template <class V>
uint32_t measureGlides(LaneState<V>& s, uint32_t n) {
    using F = typename V::F;
    using I = typename V::I;
    F rp = s.readPhase;
    I met = V::set1i(0), d = V::set1i(0);
    const I fromSecond = V::laneMask(s.fresh);
    for (uint32_t j = 0; j < n; ++j) {
        // d = w - trunc(readPhase) before this sample's advance, plus a
        // whole ring unless w is ahead; w is the write position after this
        // sample's write. The clamp changes no position a running lane
        // has, and keeps the others' arithmetic from overflowing.
        const I w = V::subWherei(s.write + (int32_t)(j + 1), kRing, kRing);
        const I whole = V::cvtt(V::max(V::min(rp, V::set1(2.0f * kRingLengthFloat)), V::set1(0.0f)));
        d = w - whole + V::selecti(V::cvt(w) > rp, V::set1i(0), V::set1i(kRing));
        const I meets = d == s.target;
        met = met | (j == 0 ? meets & ~fromSecond : meets);
        rp = V::subWhere(rp + s.speed, kRingLengthFloat, kRingLengthFloat);
    }
    s.length = d;
    return V::bits(met);
}

// The LFO, the read positions and the read pointer of every vector over the
// block, the vectors' short chains interleaved.
template <class V, bool kWrap>
void moveLanes(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, typename V::F* r) {
    using F = typename V::F;
    constexpr uint32_t K = Lanes<V>::kVectors;
    inGroups<V::kFuseGroup>(vectors, [&](uint32_t g0, auto group) {
        constexpr uint32_t G = decltype(group)::value;
        F p[G], rp[G];
        for (uint32_t k = 0; k < G; ++k) {
            p[k] = lanes[g0 + k].lfoPhase;
            rp[k] = lanes[g0 + k].readPhase;
        }
        for (uint32_t j = 0; j < job.n; ++j) {
#pragma GCC unroll 8
            for (uint32_t k = 0; k < G; ++k) r[j * K + g0 + k] = moveOneSample<V, kWrap>(p[k], rp[k], lanes[g0 + k]);
        }
        for (uint32_t k = 0; k < G; ++k) {
            lanes[g0 + k].lfoPhase = p[k];
            lanes[g0 + k].readPhase = rp[k];
        }
    });
}

// ---- Ring reads.

// Linear interpolation at a position in [0, 32000): truncation is exact,
// and so is the fraction; 31999 reaches the guard copy of entry 0.
inline float readAt(const float* ring, float position) {
    const int32_t whole = (int32_t)position;
    const float frac = position - (float)whole;
    return ring[whole] + frac * (ring[whole + 1] - ring[whole]);
}

// Reads of one unit's run of W positions entry by entry, for a run that
// spreads wider than a window (a wrap of the read position, fast
// modulation).
template <class V>
__attribute__((noinline, cold)) typename V::F readRunByEntries(const float* ring, typename V::F positions) {
    alignas(64) float values[V::W];
    V::storeu(values, positions);
    for (uint32_t j = 0; j < V::W; ++j) values[j] = readAt(ring, values[j]);
    return V::loadu(values);
}

// One vector's reads, per unit and tile of W samples: the positions
// transposed into a run per unit, and where each run's window of 2W ring
// entries starts (the tile's lowest position). The runs become the values
// read in place.
template <class V>
struct ReadTiles {
    typename V::F runs[Lanes<V>::kTiles][V::W];
    int32_t windows[Lanes<V>::kTiles][V::W];  // in floats from the vector's first ring
    int32_t bases[Lanes<V>::kTiles][V::W];    // in the unit's ring
    uint32_t windowed[Lanes<V>::kTiles];      // runs read through their window; the others entry by entry
    uint32_t count;                           // runs to read: W per tile the block reaches
};

template <class V, bool kWhole>
void planReads(const VectorUnitJob& job, const LaneState<V>& s, uint32_t g, const typename V::F* r, ReadTiles<V>& tiles) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    constexpr int32_t kHighestBase = (int32_t)(kUnitRingStorage - 2 * W);
    const uint32_t n = kWhole ? kSamples : job.n;
    tiles.count = 0;
    for (uint32_t t = 0; t * W < n; ++t) {
        F* tile = tiles.runs[t];
        F lowest = r[t * W * K + g], highest = lowest;
#pragma GCC unroll 16
        for (uint32_t i = 0; i < W; ++i) {
            // Samples past n repeat the last position, so that the window stays in range.
            tile[i] = r[(kWhole || t * W + i < n ? t * W + i : n - 1) * K + g];
            lowest = V::min(lowest, tile[i]);
            highest = V::max(highest, tile[i]);
        }
        // Running lanes read in [0, 32000); the clamps keep the others'
        // arithmetic from overflowing.
        const F zero = V::set1(0.0f);
        const I base = V::mini(V::maxi(V::cvtt(V::max(lowest, zero)), V::set1i(0)), V::set1i(kHighestBase));
        const I top = V::cvtt(V::min(V::max(highest, zero), V::set1(kRingLengthFloat)));
        tiles.windowed[t] = V::bits(top - base <= (int32_t)(2 * W - 2)) & s.run;
        V::storeiu(tiles.bases[t], base);
        V::storeiu(tiles.windows[t], base + s.ringAt);
        V::transpose(tile);
        tiles.count += W;
    }
}

// Run i of tile t, read in place through its window. Runs that spread
// wider are read after the ladder's loop (readWideRuns): a call in that
// loop would make the compiler keep the ladder's states in memory.
template <class V>
inline void readRun(const LaneState<V>& s, ReadTiles<V>& tiles, uint32_t t, uint32_t i) {
    using F = typename V::F;
    using I = typename V::I;
    if ((tiles.windowed[t] >> i & 1u) == 0) return;
    F& run = tiles.runs[t][i];
    const float* window = s.rings + tiles.windows[t][i];
    const I whole = V::cvtt(run);
    const F frac = run - V::cvt(whole);
    const I at = whole - tiles.bases[t][i];
    const F lo = V::loadu(window), hi = V::loadu(window + V::W);
    const F a = V::lookup(lo, hi, at);
    const F b = V::lookup(lo, hi, at + 1);
    run = a + frac * (b - a);
    V::prefetch(window + kPrefetchBlocks * kSamples);
}

// The running lanes' runs that spread wider than a window, entry by entry;
// then the values read, back into lane layout.
template <class V>
void finishReads(const VectorUnitJob& job, const LaneState<V>& s, ReadTiles<V>& tiles, uint32_t g, typename V::F* v) {
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    for (uint32_t t = 0; t * W < job.n; ++t) {
        for (uint32_t m = s.run & ~tiles.windowed[t]; m != 0; m &= m - 1) {
            const uint32_t i = (uint32_t)__builtin_ctz(m);
            tiles.runs[t][i] = readRunByEntries<V>(s.rings + (tiles.windows[t][i] - tiles.bases[t][i]), tiles.runs[t][i]);
        }
        V::transpose(tiles.runs[t]);
#pragma GCC unroll 16
        for (uint32_t i = 0; i < W; ++i) v[(t * W + i) * K + g] = tiles.runs[t][i];
    }
}

// ---- Input filter, with the reads in the same loop.

template <class V>
struct LadderLanes {
    LadderCoefficients<typename V::F> c;
    LadderMemory<typename V::F> m;
};

template <class V>
inline void loadLadder(const VectorUnitJob& job, const LadderSet& set, uint32_t g, LadderLanes<V>& l) {
    using F = typename V::F;
    const size_t at = unitOf(job, g * V::W);
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
    const size_t at = unitOf(job, g * V::W);
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

// Whether a vector's single ladder pass may take the open form
// (ladderStepOpen) over the block: no feedback, and x * a never a zero,
// for every input sample (inputOpen: none below 2^-40 in magnitude) times
// each lane's gain and input factor, none below 2^-40 either (their
// product stays a normal float); the last output finite at the start.
template <class V>
inline bool ladderMayOpen(const LaneState<V>& s, const LadderLanes<V>& l) {
    using F = typename V::F;
    const F tiny = V::set1(0x1p-40f), huge = V::set1(0x1p+127f);
    const auto open = (l.c.b == 0.0f) & (V::abs(l.c.a) >= tiny) & (V::abs(s.gain) >= tiny) & (V::abs(l.m.last) <= huge);
    return (V::bits(open) & s.run) == s.run;
}

template <class V>
inline bool lastStaysFinite(const LaneState<V>& s, const LadderLanes<V>& l) {
    return (V::bits(V::abs(l.m.last) <= 0x1p+127f) & s.run) == s.run;
}

// The ladder passes of the filter type, sample by sample, the vectors
// together; each sample's turn also reads one unit's run in each vector
// (tiles, when the reads go through windows), so that the reads' work
// fills the ladder's long chain (about 33 cycles a sample). Without
// resonance a single pass takes the open form, whose chains are short; a
// block whose last output stops being finite (only an overflow does that)
// runs the ladder again in the closed form.
template <class V, class Mix0, class Mix1>
void filterAndReadGroups(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, LadderPasses<Mix0, Mix1> passes,
                         bool inputOpen, ReadTiles<V>* tiles, typename V::F* x) {
    using F = typename V::F;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    constexpr bool kFilter = !std::is_same<Mix0, NoLadderPass>::value;
    constexpr bool kSecond = !std::is_same<Mix1, NoLadderPass>::value;
    UnitBank& bank = *job.bank;
    const uint32_t n = job.n;
    inGroups<V::kFuseGroup>(vectors, [&](uint32_t g0, auto group) {
        constexpr uint32_t G = decltype(group)::value;
        LadderLanes<V> first[G], second[G];
        bool open = inputOpen && kFilter && !kSecond;
        for (uint32_t k = 0; k < G; ++k) {
            if constexpr (kFilter) {
                loadLadder(job, bank.ladderSets[passes.firstSet], g0 + k, first[k]);
                open = open && ladderMayOpen(lanes[g0 + k], first[k]);
            }
            if constexpr (kSecond) loadLadder(job, bank.ladderSets[passes.secondSet], g0 + k, second[k]);
        }
        const uint32_t runs = tiles != nullptr ? tiles[g0].count : 0;
        const auto run = [&](auto opened, auto reading) {
            constexpr bool kOpen = decltype(opened)::value, kRead = decltype(reading)::value;
            for (uint32_t j = 0; j < n; ++j) {
                const F in = V::set1(job.input[j]);
#pragma GCC unroll 8
                for (uint32_t k = 0; k < G; ++k) {
                    const LaneState<V>& s = lanes[g0 + k];
                    if constexpr (kFilter) {
                        F y = passes.firstMix(kOpen ? ladderStepOpen(first[k].c, first[k].m, in * s.gain)
                                                    : ladderStep(first[k].c, first[k].m, in * s.gain));
                        if constexpr (kSecond) y = passes.secondMix(ladderStep(second[k].c, second[k].m, y));
                        x[j * K + g0 + k] = y;
                    }
                }
                if constexpr (kRead) {
                    if (j < runs) {
#pragma GCC unroll 8
                        for (uint32_t k = 0; k < G; ++k) readRun(lanes[g0 + k], tiles[g0 + k], j / W, j % W);
                    }
                }
            }
        };
        using Yes = std::true_type;
        using No = std::false_type;
        if (open) {
            run(Yes(), Yes());
            bool finite = true;
            for (uint32_t k = 0; k < G; ++k) finite = finite && lastStaysFinite(lanes[g0 + k], first[k]);
            if (__builtin_expect(!finite, 0)) {
                for (uint32_t k = 0; k < G; ++k) loadLadder(job, bank.ladderSets[passes.firstSet], g0 + k, first[k]);
                run(No(), No());
            }
        } else {
            run(No(), Yes());
        }
        // The runs past a short block's samples.
        for (uint32_t j = n; j < runs; ++j)
            for (uint32_t k = 0; k < G; ++k) readRun(lanes[g0 + k], tiles[g0 + k], j / W, j % W);
        for (uint32_t k = 0; k < G; ++k) {
            const uint32_t running = lanes[g0 + k].run;
            if constexpr (kFilter) storeLadder(job, bank.ladderSets[passes.firstSet], g0 + k, first[k], running);
            if constexpr (kSecond) storeLadder(job, bank.ladderSets[passes.secondSet], g0 + k, second[k], running);
        }
    });
}

// The filter type's passes and the reads (tiles, or none when the reads go
// lane by lane); returns what the feedback stage takes as input.
template <class V>
InputForm filterAndRead(const VectorUnitJob& job, LaneState<V>* lanes, uint32_t vectors, ReadTiles<V>* tiles,
                        typename V::F* x) {
    const FilterType type = job.bank->filterType;
    // Every input sample between 2^-40 and 2^127 in magnitude: on the bits.
    uint32_t outside = 0;
    for (uint32_t j = 0; j < job.n; ++j) {
        uint32_t bits;
        memcpy(&bits, job.input + j, sizeof bits);
        outside |= (uint32_t)((bits & 0x7FFFFFFFu) - 0x2B800000u > 0x7F000000u - 0x2B800000u);
    }
    const bool inputOpen = outside == 0;
    const bool filtered = withLadderPasses(
        type, [&](auto passes) { filterAndReadGroups<V>(job, lanes, vectors, passes, inputOpen, tiles, x); });
    if (filtered) return InputForm::Filtered;
    if (tiles != nullptr)
        filterAndReadGroups<V>(job, lanes, vectors, LadderPasses<NoLadderPass, NoLadderPass>{}, false, tiles, x);
    return type == FilterQuarterLevel ? InputForm::Quarter : InputForm::Plain;
}

// The same reads in lane layout, each lane's two entries gathered, for a
// few samples (where transposes would cost more).
template <class V>
void readRingsInLanes(const VectorUnitJob& job, const LaneState<V>* lanes, uint32_t vectors, const typename V::F* r,
                      typename V::F* v) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr uint32_t K = Lanes<V>::kVectors;
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        const I running = V::laneMask(s.run);
        for (uint32_t j = 0; j < job.n; ++j) {
            const uint32_t at = j * K + g;
            // Running lanes read in [0, 32000): truncation is exact, and so
            // is the fraction; 31999 reaches the guard copy of entry 0.
            const I whole = V::selecti(running, V::cvtt(r[at]), V::set1i(0));
            const F frac = r[at] - V::cvt(whole);
            const I entry = whole + s.ringAt;
            F a, b;
            V::gatherPair(s.rings, entry, s.run, a, b);
            v[at] = a + frac * (b - a);
        }
    }
}

// The same reads lane by lane with two scalar loads each, without a lookup
// instruction.
template <class V, uint32_t kN = 0>
void readRingsByLane(const VectorUnitJob& job, const LaneState<V>* lanes, uint32_t vectors, uint32_t count,
                     const typename V::F* r, typename V::F* v) {
    const uint32_t n = kN != 0 ? kN : count;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors;
    const float* positions = reinterpret_cast<const float*>(r);
    float* values = reinterpret_cast<float*>(v);
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        for (uint32_t i = 0; i < W; ++i) {
            if ((s.run >> i & 1u) == 0) continue;
            const float* ring = ringOf(job, g * W + i);
            for (uint32_t j = 0; j < n; ++j) {
                const size_t at = (size_t)(j * K + g) * W + i;
                values[at] = readAt(ring, positions[at]);
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

// n values written from w on, wrapping at the ring's end, entries 0 .. 4
// also into their guard copies.
inline void writeWrapping(float* ring, int32_t w, const float* values, uint32_t n) {
    for (uint32_t j = 0; j < n; ++j) {
        int32_t at = w + (int32_t)j;
        if (at >= kRing) at -= kRing;
        ring[at] = values[j];
        if (at < (int32_t)kUnitGuardEntries) ring[kRing + at] = values[j];
    }
}

// A tap whose n entries do not run on in the ring, copied into spare.
inline const float* tapRun(const float* ring, int32_t start, int32_t writeAt, uint64_t offset, uint32_t n, float* spare) {
    if (start >= 0) return ring + start;
    int32_t after = writeAt + (int32_t)n;
    if (after >= kRing) after -= kRing;
    readTap(ring, (uint64_t)after + 2 * kUnitRingLength - n - offset, n, spare);
    return spare;
}

// A unit whose writes wrap or reach the guard copies, or whose taps do not
// run on in the ring (or any unit, for a few samples): its written values
// and main outputs come in, its contributions main + tap go out.
__attribute__((noinline)) void writeTapAndContributeAlone(const VectorUnitJob& job, uint32_t k, int32_t writeAt,
                                                          int32_t tapA, int32_t tapB, const float* written,
                                                          const float* mains) {
    const uint32_t n = job.n;
    const size_t u = unitOf(job, k);
    float* ring = ringOf(job, k);
    writeWrapping(ring, writeAt, written, n);
    alignas(64) float spareA[kSamples], spareB[kSamples];
    const float* a = tapRun(ring, tapA, writeAt, job.bank->tapOffsetA[u], n, spareA);
    const float* b = tapRun(ring, tapB, writeAt, job.bank->tapOffsetB[u], n, spareB);
    for (uint32_t j = 0; j < n; ++j) {
        job.contribLeft[k][j] = mains[j] + a[j];
        job.contribRight[k][j] = mains[j] + b[j];
    }
}

// The sums over the units, W samples a vector.
template <class V>
struct Sums {
    typename V::F left[Lanes<V>::kTiles], right[Lanes<V>::kTiles];
};

// Visiting index k's contributions join the sums: the first unit visited
// adds, the next subtracts, and so on.
template <class V>
inline void accumulate(Sums<V>& sums, uint32_t k, uint32_t t, typename V::F left, typename V::F right) {
    if (k % 2 == 0) {
        sums.left[t] = left + sums.left[t];
        sums.right[t] = right + sums.right[t];
    } else {
        sums.left[t] = sums.left[t] - left;
        sums.right[t] = sums.right[t] - right;
    }
}

// The written values and the main outputs of a vector, transposed into runs
// of W samples per unit: each unit's writes first, then its taps (a tap
// offset within a block of a whole turn reads this block's own values),
// then its contributions main + tap into the sums, in visiting order. The
// units that ran on their own, or whose writes or taps wrap, bring their
// contributions in the job's rows.
template <class V, bool kWhole>
void writeTapAndSum(const VectorUnitJob& job, const LaneState<V>& s, uint32_t g, const typename V::F* q,
                    const typename V::F* out, Sums<V>& sums) {
    using F = typename V::F;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors, T = Lanes<V>::kTiles;
    const uint32_t n = kWhole ? kSamples : job.n;
    const uint32_t tiles = kWhole ? T : (n + W - 1) / W;
    alignas(64) F written[T][W], mains[T][W];
    for (uint32_t t = 0; t < T; ++t) {
        if (!kWhole && t >= tiles) {  // past a short block: nothing to write, sums not taken
            for (uint32_t i = 0; i < W; ++i) written[t][i] = mains[t][i] = V::set1(0.0f);
            continue;
        }
#pragma GCC unroll 16
        for (uint32_t i = 0; i < W; ++i) {
            written[t][i] = q[(t * W + i) * K + g];
            mains[t][i] = out[(t * W + i) * K + g];
        }
        V::transpose(written[t]);
        V::transpose(mains[t]);
    }
    for (uint32_t m = s.run & ~s.plain; m != 0; m &= m - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(m);
        alignas(64) float values[kSamples], mainRun[kSamples];
        for (uint32_t t = 0; t < T; ++t) {
            V::storeu(values + t * W, written[t][i]);
            V::storeu(mainRun + t * W, mains[t][i]);
        }
        writeTapAndContributeAlone(job, g * W + i, s.writeAt[i], s.tapA[i], s.tapB[i], values, mainRun);
    }
#pragma GCC unroll 16
    for (uint32_t i = 0; i < W; ++i) {
        if ((s.valid >> i & 1u) == 0) break;
        const uint32_t k = g * W + i;
        if (__builtin_expect((s.plain >> i & 1u) == 0, 0)) {
            for (uint32_t t = 0; t < tiles; ++t)
                accumulate(sums, k, t, V::loadu(job.contribLeft[k] + t * W), V::loadu(job.contribRight[k] + t * W));
            continue;
        }
        float* write = s.rings + s.writeFrom[i];
        const float* tapA = s.rings + s.tapAFrom[i];
        const float* tapB = s.rings + s.tapBFrom[i];
#pragma GCC unroll 4
        for (uint32_t t = 0; t < T; ++t) {
            if (kWhole) {
                V::storeu(write + t * W, written[t][i]);
            } else if (t < tiles) {
                V::storeSamples(write + t * W, written[t][i], n - t * W);
            }
        }
        // Rings are padded to whole vectors, so a tap's last run may read past n.
#pragma GCC unroll 4
        for (uint32_t t = 0; t < T; ++t) {
            if (t < tiles)
                accumulate(sums, k, t, mains[t][i] + V::loadu(tapA + t * W), mains[t][i] + V::loadu(tapB + t * W));
        }
        // Ahead on the three streams that move by a block.
        V::prefetch(write + kPrefetchBlocks * kSamples);
        V::prefetch(tapA + kPrefetchBlocks * kSamples);
        V::prefetch(tapB + kPrefetchBlocks * kSamples);
    }
}

// The same for a few samples in lane layout, where sample j of every
// visited unit lies in one row (units by visiting index): the plain lanes'
// writes scattered, then their taps gathered, each unit's contributions
// main + tap into the rows (the others' from the job's rows), and the sums
// over each row in visiting order.
template <class V>
void writeTapAndSumInLanes(const VectorUnitJob& job, const LaneState<V>* lanes, uint32_t vectors,
                           const typename V::F* q, const typename V::F* out) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr uint32_t W = V::W, K = Lanes<V>::kVectors, kMost = kFewSamples;
    const uint32_t n = job.n;
    alignas(64) F left[kMost * K], right[kMost * K];
    for (uint32_t g = 0; g < vectors; ++g) {
        const LaneState<V>& s = lanes[g];
        const I writeFrom = V::loadiu(s.writeFrom);
        for (uint32_t j = 0; j < n; ++j) V::scatter(s.rings + j, writeFrom, q[j * K + g], s.plain);
        // Too many streams for the hardware to follow at a few entries a
        // call. The three streams move together by n entries, so one
        // prefetch per stream and 16 entries (a cache line) is enough: in
        // the calls whose writes reach an entry at a multiple of 16.
        const uint32_t due = V::bits(((s.write + (int32_t)(n - 1)) & 15) < (int32_t)n) & s.plain;
        for (uint32_t m = due; m != 0; m &= m - 1) {
            const uint32_t i = (uint32_t)__builtin_ctz(m);
            V::prefetch(s.rings + s.writeFrom[i] + kPrefetchBlocks * kSamples);
            V::prefetch(s.rings + s.tapAFrom[i] + kPrefetchBlocks * kSamples);
            V::prefetch(s.rings + s.tapBFrom[i] + kPrefetchBlocks * kSamples);
        }
        const I tapA = V::loadiu(s.tapAFrom), tapB = V::loadiu(s.tapBFrom);
        for (uint32_t j = 0; j < n; ++j) {
            const F main = out[j * K + g];
            left[j * K + g] = main + V::gather(s.rings + j, tapA, s.plain);
            right[j * K + g] = main + V::gather(s.rings + j, tapB, s.plain);
        }
        for (uint32_t m = s.run & ~s.plain; m != 0; m &= m - 1) {
            const uint32_t i = (uint32_t)__builtin_ctz(m);
            float values[kMost], mainRun[kMost];
            for (uint32_t j = 0; j < n; ++j) {
                values[j] = reinterpret_cast<const float*>(&q[j * K + g])[i];
                mainRun[j] = reinterpret_cast<const float*>(&out[j * K + g])[i];
            }
            writeTapAndContributeAlone(job, g * W + i, s.writeAt[i], s.tapA[i], s.tapB[i], values, mainRun);
        }
        for (uint32_t m = s.valid & ~s.plain; m != 0; m &= m - 1) {
            const uint32_t i = (uint32_t)__builtin_ctz(m);
            for (uint32_t j = 0; j < n; ++j) {
                reinterpret_cast<float*>(&left[j * K + g])[i] = job.contribLeft[g * W + i][j];
                reinterpret_cast<float*>(&right[j * K + g])[i] = job.contribRight[g * W + i][j];
            }
        }
    }
    for (uint32_t j = 0; j < n; ++j) {
        const float* rowLeft = reinterpret_cast<const float*>(&left[j * K]);
        const float* rowRight = reinterpret_cast<const float*>(&right[j * K]);
        float sumLeft = 0.0f, sumRight = 0.0f;
        uint32_t k = 0;
        for (; k + 1 < job.count; k += 2) {
            sumLeft = rowLeft[k] + sumLeft;
            sumRight = rowRight[k] + sumRight;
            sumLeft = sumLeft - rowLeft[k + 1];
            sumRight = sumRight - rowRight[k + 1];
        }
        if (k < job.count) {
            sumLeft = rowLeft[k] + sumLeft;
            sumRight = rowRight[k] + sumRight;
        }
        job.sumLeft[j] = sumLeft;
        job.sumRight[j] = sumRight;
    }
}

// ---- Lanes out.

template <class V>
void storeLanes(const VectorUnitJob& job, uint32_t g, const LaneState<V>& s) {
    ChainUnits& units = job.bank->units;
    const size_t at = unitOf(job, g * V::W);
    const uint32_t st = job.stride;
    V::storeLanes(units.readPhase + at, st, s.readPhase, s.run);
    V::storeLanes(units.lfoPhase + at, st, s.lfoPhase, s.run);
    V::storeLanes(units.dcState + at, st, s.dc, s.run);
    V::storeIndexLanes(units.writeIndex + at, st, V::subWherei(s.write + (int32_t)job.n, kRing, kRing), s.run);
    const uint32_t changed = (s.glide | s.took) & s.run;
    if (changed == 0) return;
    alignas(64) int32_t length[V::W];
    alignas(64) float speed[V::W];
    V::storeiu(length, s.length);
    V::storeu(speed, s.speed);
    for (uint32_t i = 0; i < V::W; ++i) {
        if ((changed >> i & 1u) == 0) continue;
        const size_t u = unitOf(job, g * V::W + i);
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
    uint32_t wraps = 0;
    for (uint32_t g = 0; g < vectors; ++g) {
        LaneState<V>& s = lanes[g];
        loadLanes(job, g, s);
        prepareGlides(job, g, s);
        const BlockStart<F> start = {V::cvt(s.write), s.lfoPhase, s.lfoStep, s.readPhase, s.speed, s.depth};
        s.run = V::bits(fitsLanes(start, (float)job.n)) & s.valid & ~s.barred;
        wraps |= V::bits(mayWrapReads(start, (float)job.n)) & s.run;
        if (s.glide != 0) s.run &= ~measureGlides(s, job.n);
        s.plain &= s.run;
    }
    if (wraps != 0) {
        moveLanes<V, true>(job, lanes, vectors, r);
    } else {
        moveLanes<V, false>(job, lanes, vectors, r);
    }
    for (uint32_t g = 0; g < vectors; ++g) {
        for (uint32_t m = lanes[g].valid & ~lanes[g].run; m != 0; m &= m - 1) {
            const uint32_t k = g * W + (uint32_t)__builtin_ctz(m);
            job.runAlone(*job.bank, unitOf(job, k), job.input, job.contribLeft[k], job.contribRight[k], job.n);
        }
    }
    InputForm form = InputForm::Plain;
    bool windows = false;
    if constexpr (V::kLookup) windows = job.n > kFewSamples;
    if (windows) {
        ReadTiles<V> tiles[K];
        if (job.n == kSamples) {
            for (uint32_t g = 0; g < vectors; ++g) planReads<V, true>(job, lanes[g], g, r, tiles[g]);
        } else {
            for (uint32_t g = 0; g < vectors; ++g) planReads<V, false>(job, lanes[g], g, r, tiles[g]);
        }
        form = filterAndRead(job, lanes, vectors, tiles, x);
        for (uint32_t g = 0; g < vectors; ++g) finishReads(job, lanes[g], tiles[g], g, v);
    } else {
        form = filterAndRead<V>(job, lanes, vectors, nullptr, x);
        if constexpr (V::kLookup) {
            readRingsInLanes<V>(job, lanes, vectors, r, v);
        } else {
            readRingsByLane<V>(job, lanes, vectors, job.n, r, v);
        }
    }
    switch (form) {
        case InputForm::Filtered: feedbackLanes<V, InputForm::Filtered>(job, lanes, vectors, x, v, out); break;
        case InputForm::Quarter: feedbackLanes<V, InputForm::Quarter>(job, lanes, vectors, x, v, out); break;
        case InputForm::Plain: feedbackLanes<V, InputForm::Plain>(job, lanes, vectors, x, v, out); break;
    }
    if (job.n <= kFewSamples) {
        writeTapAndSumInLanes<V>(job, lanes, vectors, v, out);
    } else {
        Sums<V> sums;
        for (uint32_t t = 0; t < Lanes<V>::kTiles; ++t) sums.left[t] = sums.right[t] = V::set1(0.0f);
        for (uint32_t g = 0; g < vectors; ++g) {
            if (job.n == kSamples) {
                writeTapAndSum<V, true>(job, lanes[g], g, v, out, sums);
            } else {
                writeTapAndSum<V, false>(job, lanes[g], g, v, out, sums);
            }
        }
        alignas(64) float sumLeft[kSamples], sumRight[kSamples];
        for (uint32_t t = 0; t < Lanes<V>::kTiles; ++t) {
            V::storeu(sumLeft + t * W, sums.left[t]);
            V::storeu(sumRight + t * W, sums.right[t]);
        }
        memcpy(job.sumLeft, sumLeft, job.n * sizeof(float));
        memcpy(job.sumRight, sumRight, job.n * sizeof(float));
    }
    for (uint32_t g = 0; g < vectors; ++g) storeLanes(job, g, lanes[g]);
}

}  // namespace
