// The unit bank's vector kernel, written once over a vector-traits type V
// and instantiated by one translation unit per instruction set, after that
// unit's target pragma. Everything here has internal linkage, so that no
// function compiled for a wider instruction set can stand in for a baseline
// one at link time.
//
// Layout: the recurrences (ladder, LFO, read pointer, DC blocker) run with
// one unit per lane, sample after sample, so that every lane does exactly
// the scalar operations of its unit in the same order. Each step runs over
// all the vectors of the call before the next sample, which gives the
// out-of-order core independent chains to interleave: one vector alone
// would wait on the ladder's latency. Ring reads, ring writes and taps run
// per unit over the block's contiguous samples, after a transpose. The
// units' records reach the lanes, and go back, as windows of eight
// consecutive floats, transposed.
//
// V, the vector traits, provides:
// - W, the lanes per vector; kGroup, the vectors whose short chains run
//   together in registers; kTile and kTable, the samples per ring lookup
//   and the entries of its window (0: no lookup instruction);
// - F and I, the float and int32 vectors (with the compiler's operators),
//   laneBits(mask) (one bit per lane), load/store (aligned), loadu/storeu,
//   set1, abs, min, transpose (W x W, in place);
// - loadColumns8(rows, cols) and storeColumns8(cols, rows, count): eight
//   consecutive floats at each of W row pointers as eight lane vectors,
//   and back for the first count rows; addToLowWord(v, k), which adds k to
//   the integer held in each lane's bits;
// - split(r, whole): stores trunc(r) in whole and returns r - trunc(r);
// - with kTable > 0, truncate(r, whole) and interpolate(window, r, base):
//   window[i - base] + f * (window[i + 1 - base] - window[i - base]) per
//   lane, with i = trunc(r) and f = r - i.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "engine/engine_state.h"
#include "kernels/block_bounds.h"
#include "kernels/ladder_step.h"
#include "kernels/ring_taps.h"
#include "kernels/unit_constants.h"
#include "kernels/vector_unit_job.h"

namespace {

constexpr uint32_t kSamples = kBlockLength;

// Every unit of the job, one per lane. Lanes past count repeat unit 0 so
// that they compute on real numbers; nothing of theirs is ever stored.
template <class V>
struct Lanes {
    static constexpr uint32_t kVectors = (kMaxUnits + V::W - 1) / V::W;
    static constexpr uint32_t kLanes = kVectors * V::W;
    using F = typename V::F;
    using Block = F[kVectors][kSamples];
    using Columns = F[kVectors][8];

    uint32_t count;
    uint32_t vectors;
    bool everyUnit;  // every visited unit is in the lanes: lane k holds row k
    bool gliding;    // some lane's unit glides
    Columns loop;    // the loop and motion windows of every unit, see below
    Columns motion;
    uint32_t index[kLanes];  // unit index
    uint32_t row[kLanes];    // its rows in the job
    ChainUnit* unit[kLanes];
    uint64_t blockStart[kLanes];  // first write position of the block
};

// Calls body(g, group) for the vectors g .. g + K - 1 of the lanes, with K
// (group's value, known to the compiler) kGroup while that many remain,
// then the rest together. A chain of short latency runs over the block for
// K vectors at a time, which keeps K independent chains in registers.
template <uint32_t kGroup, class Body>
void inGroups(uint32_t vectors, Body body) {
    static_assert(kGroup >= 1 && kGroup <= 3, "groups of one to three vectors");
    uint32_t g = 0;
    for (; g + kGroup <= vectors; g += kGroup) body(g, std::integral_constant<uint32_t, kGroup>());
    if constexpr (kGroup == 3) {
        if (vectors - g == 2) return body(g, std::integral_constant<uint32_t, 2>());
    }
    if (g < vectors) body(g, std::integral_constant<uint32_t, 1>());
}

template <class T>
float* floatsAt(T& record, size_t offset) {
    return reinterpret_cast<float*>(reinterpret_cast<char*>(&record) + offset);
}

// ---- Records to lanes and back.

// cols[g][f] holds float f of the window of each unit of vector g.
template <class V, class WindowOf>
void loadColumns(const Lanes<V>& lanes, typename Lanes<V>::Columns& cols, WindowOf windowOf) {
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
        const float* rows[V::W];
#pragma GCC unroll 16
        for (uint32_t i = 0; i < V::W; ++i) rows[i] = windowOf(g * V::W + i);
        V::loadColumns8(rows, cols[g]);
    }
}

// Writes the windows of the units in use back, all eight floats.
template <class V, class WindowOf>
void storeColumns(const Lanes<V>& lanes, const typename Lanes<V>::Columns& cols, WindowOf windowOf) {
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
        float* rows[V::W];
#pragma GCC unroll 16
        for (uint32_t i = 0; i < V::W; ++i) rows[i] = windowOf(g * V::W + i);
        const uint32_t inUse = lanes.count - g * V::W;
        V::storeColumns8(cols[g], rows, inUse < V::W ? inUse : V::W);
    }
}

// The windows. Every float of a window the kernel does not change goes
// back with the bits it came with.
// ChainUnit from feedback: feedback, readPhase, (padding), the low and high
// words of writeIndex, decayMs, (padding), the low word of length.
constexpr size_t kLoopWindow = offsetof(ChainUnit, feedback);
constexpr uint32_t kFeedbackColumn = 0, kReadPhaseColumn = 1, kWriteIndexColumn = 3;
static_assert(offsetof(ChainUnit, readPhase) == kLoopWindow + 4 * kReadPhaseColumn &&
                  offsetof(ChainUnit, writeIndex) == kLoopWindow + 4 * kWriteIndexColumn,
              "loop window");
// ChainUnit up to dcState: the high word of pendingLength, gliding (and
// padding), readSpeed, ringGain, modDepth, lfoIncrement, lfoPhase, dcState.
constexpr size_t kMotionWindow = offsetof(ChainUnit, dcState) - 7 * sizeof(float);
constexpr uint32_t kSpeedColumn = 2, kRingGainColumn = 3, kDepthColumn = 4, kLfoStepColumn = 5,
                   kLfoPhaseColumn = 6, kDcColumn = 7;
static_assert(offsetof(ChainUnit, readSpeed) == kMotionWindow + 4 * kSpeedColumn &&
                  offsetof(ChainUnit, ringGain) == kMotionWindow + 4 * kRingGainColumn &&
                  offsetof(ChainUnit, modDepth) == kMotionWindow + 4 * kDepthColumn &&
                  offsetof(ChainUnit, lfoIncrement) == kMotionWindow + 4 * kLfoStepColumn &&
                  offsetof(ChainUnit, lfoPhase) == kMotionWindow + 4 * kLfoPhaseColumn &&
                  offsetof(ChainUnit, gliding) >= kMotionWindow + 4 &&
                  offsetof(ChainUnit, pendingLength) + 4 == kMotionWindow,
              "motion window");
// LadderRecord: the first eight floats (lastOutput, resonance,
// inputCompensation, feedbackScale, pole1, state1, pole2, state2) and the
// last eight (pole1, state1, pole2, state2, pole3, state3, pole4, state4).
constexpr size_t kLadderTail = offsetof(LadderRecord, pole1);
static_assert(sizeof(LadderRecord) == 48 && offsetof(LadderRecord, lastOutput) == 0 &&
                  offsetof(LadderRecord, resonance) == 4 && offsetof(LadderRecord, inputCompensation) == 8 &&
                  offsetof(LadderRecord, feedbackScale) == 12 && kLadderTail == 16 &&
                  offsetof(LadderRecord, state1) == 20 && offsetof(LadderRecord, pole2) == 24 &&
                  offsetof(LadderRecord, state2) == 28 && offsetof(LadderRecord, pole3) == 32 &&
                  offsetof(LadderRecord, state3) == 36 && offsetof(LadderRecord, pole4) == 40 &&
                  offsetof(LadderRecord, state4) == 44,
              "ladder record layout");

// ---- The input filter.

// One ladder set over the block in place.
template <class V, class Mix>
void runLadderLanes(UnitBank& bank, unsigned set, const Lanes<V>& lanes, typename Lanes<V>::Block& x, Mix mix) {
    using F = typename V::F;
    constexpr uint32_t kVectors = Lanes<V>::kVectors;
    LadderRecord* records = bank.ladderSets[set];
    const auto head = [&](uint32_t k) { return floatsAt(records[lanes.index[k]], 0); };
    const auto tail = [&](uint32_t k) { return floatsAt(records[lanes.index[k]], kLadderTail); };
    typename Lanes<V>::Columns h, t;
    loadColumns(lanes, h, head);
    loadColumns(lanes, t, tail);
    LadderCoefficients<F> c[kVectors];
    LadderMemory<F> m[kVectors];
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
        c[g] = {1.0f + h[g][1] * h[g][2], h[g][1] * h[g][3], t[g][0], t[g][2], t[g][4], t[g][6]};
        m[g] = {h[g][0], t[g][1], t[g][3], t[g][5], t[g][7]};
    }
    for (uint32_t j = 0; j < kSamples; ++j)
        for (uint32_t g = 0; g < lanes.vectors; ++g) x[g][j] = mix(ladderStep(c[g], m[g], x[g][j]));
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
        h[g][0] = m[g].last;
        h[g][5] = t[g][1] = m[g].s1;  // the windows overlap in pole1 .. state2
        h[g][7] = t[g][3] = m[g].s2;
        t[g][5] = m[g].s3;
        t[g][7] = m[g].s4;
    }
    storeColumns(lanes, h, head);
    storeColumns(lanes, t, tail);
}

// The input of each lane's delay line: the input times the unit's gain,
// then the input filter of the bank's type. Where a ladder runs, the whole
// block is filtered ahead (in x); otherwise each sample is formed where
// the delay line takes it.
enum class InputForm : uint8_t {
    Filtered,  // x holds the filtered block
    Quarter,   // filter type 0: input * gain * 0.25
    Plain,     // no filter: input * gain
};

template <class V>
struct LaneInput {
    InputForm form;
    const float* input;
    typename V::F gain[Lanes<V>::kVectors];
    typename Lanes<V>::Block x;

    template <InputForm kForm>
    typename V::F at(uint32_t g, uint32_t j) const {
        if constexpr (kForm == InputForm::Filtered) return x[g][j];
        if constexpr (kForm == InputForm::Quarter) return V::set1(input[j]) * gain[g] * 0.25f;
        if constexpr (kForm == InputForm::Plain) return V::set1(input[j]) * gain[g];
    }
};

template <class V>
void prepareInput(const VectorUnitJob& job, const Lanes<V>& lanes, LaneInput<V>& in) {
    UnitBank& bank = *job.bank;
    alignas(64) float gains[Lanes<V>::kLanes];
    for (uint32_t k = 0; k < lanes.vectors * V::W; ++k) gains[k] = bank.unitInputGain[lanes.index[k]];
    for (uint32_t g = 0; g < lanes.vectors; ++g) in.gain[g] = V::load(gains + g * V::W);
    in.input = job.input;
    in.form = bank.filterType == 0 ? InputForm::Quarter : InputForm::Plain;
    forEachLadderPass(bank.filterType, [&](unsigned set, auto mix) {
        if (in.form != InputForm::Filtered) {
            for (uint32_t g = 0; g < lanes.vectors; ++g)
                for (uint32_t j = 0; j < kSamples; ++j) in.x[g][j] = in.template at<InputForm::Plain>(g, j);
            in.form = InputForm::Filtered;
        }
        runLadderLanes(bank, set, lanes, in.x, mix);
    });
}

// ---- Ring reads.

// True when every lane of vector g reads without modulation at speed 1:
// then sample j's position is exactly r_0 + j (no rounding while the read
// pointer stays within one binade, i.e. below the next power of two), so
// sample j reads entries i_0 + j and i_0 + j + 1 with r_0's fraction.
template <class V>
bool readsRunOn(const Lanes<V>& lanes, uint32_t g) {
    using F = typename V::F;
    using I = typename V::I;
    const F start = lanes.loop[g][kReadPhaseColumn];
    const F last = start + (float)(kSamples + 1);  // the last position read
    const uint32_t lanesInUse = lanes.count - g * V::W < V::W ? lanes.count - g * V::W : V::W;
    const uint32_t wanted = (uint32_t)((uint64_t{1} << lanesInUse) - 1);
    const uint32_t runOn = V::laneBits((lanes.motion[g][kDepthColumn] == 0.0f) & (lanes.motion[g][kSpeedColumn] == 1.0f) &
                                       (start >= 1.0f) & (((I)start >> 23) == ((I)last >> 23)));
    return (runOn & wanted) == wanted;
}

// Interpolated ring reads at the positions r.
template <class V>
void readRingLanes(const Lanes<V>& lanes, const typename Lanes<V>::Block& r, typename Lanes<V>::Block& v) {
    using F = typename V::F;
    constexpr uint32_t W = V::W;
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
        if constexpr (V::kTable > 0) {
            if (readsRunOn(lanes, g)) {
                // One fraction and two contiguous runs of the ring per unit.
                alignas(64) int32_t first[W];
                alignas(64) float fraction[W];
                V::store(fraction, V::split(r[g][0], first));
#pragma GCC unroll 4
                for (uint32_t t = 0; t < kSamples / W; ++t) {
                    F tile[W];
#pragma GCC unroll 16
                    for (uint32_t i = 0; i < W; ++i) {
                        const float* at = lanes.unit[g * W + i]->ring + first[i] + t * W;
                        const F a = V::loadu(at);
                        tile[i] = a + V::set1(fraction[i]) * (V::loadu(at + 1) - a);
                    }
                    V::transpose(tile);
#pragma GCC unroll 16
                    for (uint32_t i = 0; i < W; ++i) v[g][t * W + i] = tile[i];
                }
                continue;
            }
            // Per unit and tile of W samples, a window of kTable entries from
            // the lowest read position on, looked up by lane. Positions lie in
            // [1, 32000); the window stays inside the ring's storage.
            constexpr int32_t kHighestBase = (int32_t)(kUnitRingStorage - V::kTable);
#pragma GCC unroll 4
            for (uint32_t t = 0; t < kSamples / W; ++t) {
                F tile[W];
                F lowest = r[g][t * W];
#pragma GCC unroll 16
                for (uint32_t i = 0; i < W; ++i) {
                    tile[i] = r[g][t * W + i];
                    lowest = V::min(lowest, tile[i]);
                }
                alignas(64) int32_t base[W];
                V::truncate(lowest, base);
                V::transpose(tile);  // tile[i]: lane i's W positions
#pragma GCC unroll 16
                for (uint32_t i = 0; i < W; ++i) {
                    const int32_t b = base[i] < kHighestBase ? base[i] : kHighestBase;
                    tile[i] = V::interpolate(lanes.unit[g * W + i]->ring + b, tile[i], b);
                }
                V::transpose(tile);
#pragma GCC unroll 16
                for (uint32_t i = 0; i < W; ++i) v[g][t * W + i] = tile[i];
            }
        } else {
            // No lookup instruction: one scalar load per entry, the arithmetic in vectors.
            for (uint32_t j = 0; j < kSamples; ++j) {
                alignas(64) int32_t whole[W];
                alignas(64) float a[W];
                alignas(64) float b[W];
                const F frac = V::split(r[g][j], whole);
                for (uint32_t i = 0; i < W; ++i) {
                    const float* ring = lanes.unit[g * W + i]->ring;
                    a[i] = ring[whole[i]];
                    b[i] = ring[whole[i] + 1];
                }
                const F fa = V::load(a);
                v[g][j] = fa + frac * (V::load(b) - fa);
            }
        }
    }
}

// ---- Per unit: tiles of a lane block, transposed.

// Hands each unit in the lanes its W samples of each tile of a lane block:
// use(k, t, samples) with samples t * W .. t * W + W - 1 of lane k, the
// lanes of each tile in order.
template <class V, class Use>
void forEachUnitTile(const Lanes<V>& lanes, const typename Lanes<V>::Block& block, Use use) {
    constexpr uint32_t W = V::W;
    for (uint32_t g = 0; g < lanes.vectors; ++g) {
#pragma GCC unroll 4
        for (uint32_t t = 0; t < kSamples / W; ++t) {
            typename V::F tile[W];
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) tile[i] = block[g][t * W + i];
            V::transpose(tile);
#pragma GCC unroll 16
            for (uint32_t i = 0; i < W; ++i) {
                if (g * W + i >= lanes.count) break;
                use(g * W + i, t, tile[i]);
            }
        }
    }
}

// ---- Taps.

// x mod 32000 for x < 3 * 32000.
inline uint64_t wrapRing(uint64_t x) {
    if (x >= kUnitRingLength) x -= kUnitRingLength;
    if (x >= kUnitRingLength) x -= kUnitRingLength;
    return x;
}

// The block's entries of a tap: the oracle's ring[(W + 64000 - n - offset +
// j) mod 2^64 mod 32000], W - n being blockStart. In place when they run on
// without a wrap, else copied into spare.
inline const float* tapEntries(const float* ring, uint64_t blockStart, uint64_t offset, float* spare) {
    const uint64_t base = blockStart + 2 * kUnitRingLength - offset;
    if (offset <= blockStart + 2 * kUnitRingLength) {  // no 2^64 wrap, and base < 96000
        const uint64_t first = wrapRing(base);
        if (first <= kUnitRingLength - kSamples) return ring + first;
    }
    readTap(ring, base, kSamples, spare);
    return spare;
}

// The sums over the rows in visiting order (added, subtracted, added, ...),
// one tile of W samples at a time. The lanes hand in their rows as they
// go; the rows of units that ran on their own are taken from the job as
// their turn comes.
template <class V>
struct RowSums {
    using F = typename V::F;
    static constexpr uint32_t kTiles = kSamples / V::W;
    F left[kTiles];
    F right[kTiles];
    uint32_t next[kTiles];  // the next row each tile takes

    RowSums() {
#pragma GCC unroll 4
        for (uint32_t t = 0; t < kTiles; ++t) {
            left[t] = right[t] = V::set1(0.0f);
            next[t] = 0;
        }
    }
    void take(uint32_t t, uint32_t row, F l, F r) {
        if (row % 2 == 0) {
            left[t] = l + left[t];
            right[t] = r + right[t];
        } else {
            left[t] = left[t] - l;
            right[t] = right[t] - r;
        }
    }
    // The job's rows up to (not including) `row`.
    void catchUp(const VectorUnitJob& job, uint32_t t, uint32_t row) {
        for (; next[t] < row; ++next[t])
            take(t, next[t], V::load(job.left[next[t]] + t * V::W), V::load(job.right[next[t]] + t * V::W));
    }
    void add(const VectorUnitJob& job, uint32_t t, uint32_t row, F l, F r) {
        catchUp(job, t, row);
        take(t, row, l, r);
        next[t] = row + 1;
    }
    void finish(const VectorUnitJob& job, uint32_t rows) {
#pragma GCC unroll 4
        for (uint32_t t = 0; t < kTiles; ++t) {
            catchUp(job, t, rows);
            V::store(job.sumLeft + t * V::W, left[t]);
            V::store(job.sumRight + t * V::W, right[t]);
        }
    }
};

// ---- The block.

// The block of every unit of the job, each with the same results as the
// per-sample procedure for a block that classifyUnits admitted.
template <class V>
void runLanes(const VectorUnitJob& job, Lanes<V>& lanes, RowSums<V>& sums) {
    using F = typename V::F;
    using Block = typename Lanes<V>::Block;
    constexpr uint32_t W = V::W;
    constexpr uint32_t kVectors = Lanes<V>::kVectors;
    UnitBank& bank = *job.bank;
    const uint32_t vectors = lanes.vectors;
    const auto loopWindow = [&](uint32_t k) { return floatsAt(*lanes.unit[k], kLoopWindow); };
    const auto motionWindow = [&](uint32_t k) { return floatsAt(*lanes.unit[k], kMotionWindow); };

    LaneInput<V> in;
    prepareInput(job, lanes, in);

    // LFO and read pointer: the read position of every sample.
    typename Lanes<V>::Columns& loop = lanes.loop;
    typename Lanes<V>::Columns& motion = lanes.motion;
    F phase[kVectors], readPhase[kVectors], lastReadPhase[kVectors];
    Block r;
    inGroups<V::kGroup>(vectors, [&](uint32_t g0, auto group) {
        constexpr uint32_t K = decltype(group)::value;
        F p[K], rp[K], lastRp[K];
        for (uint32_t k = 0; k < K; ++k) {
            p[k] = motion[g0 + k][kLfoPhaseColumn];
            rp[k] = loop[g0 + k][kReadPhaseColumn];
        }
        for (uint32_t j = 0; j < kSamples; ++j) {
#pragma GCC unroll 4
            for (uint32_t k = 0; k < K; ++k) {
                const uint32_t g = g0 + k;
                p[k] = p[k] + motion[g][kLfoStepColumn];
                r[g][j] = rp[k] + (1.0f + motion[g][kDepthColumn] * (1.0f + V::abs(p[k])));
                lastRp[k] = rp[k];
                rp[k] = rp[k] + motion[g][kSpeedColumn];
            }
        }
        for (uint32_t k = 0; k < K; ++k) {
            phase[g0 + k] = p[k];
            readPhase[g0 + k] = rp[k];
            lastReadPhase[g0 + k] = lastRp[k];
        }
    });

    Block v;
    readRingLanes(lanes, r, v);

    // DC blocker, feedback and the value each sample writes.
    F dc[kVectors];
    Block& out = r;  // the read positions are spent
    Block& written = v;
    const auto feedbackLoop = [&](auto form) {
        constexpr InputForm kForm = decltype(form)::value;
        inGroups<V::kGroup>(vectors, [&](uint32_t g0, auto group) {
            constexpr uint32_t K = decltype(group)::value;
            F d[K];
            for (uint32_t k = 0; k < K; ++k) d[k] = motion[g0 + k][kDcColumn];
            for (uint32_t j = 0; j < kSamples; ++j) {
#pragma GCC unroll 4
                for (uint32_t k = 0; k < K; ++k) {
                    const uint32_t g = g0 + k;
                    const F y = kDcBlockerInputGain * v[g][j] + kDcBlockerPole * d[k];
                    const F o = y - d[k];
                    d[k] = y;
                    out[g][j] = o;
                    written[g][j] = (in.template at<kForm>(g, j) + o * loop[g][kFeedbackColumn]) *
                                    motion[g][kRingGainColumn];
                }
            }
            for (uint32_t k = 0; k < K; ++k) dc[g0 + k] = d[k];
        });
    };
    switch (in.form) {
        case InputForm::Filtered: feedbackLoop(std::integral_constant<InputForm, InputForm::Filtered>()); break;
        case InputForm::Quarter: feedbackLoop(std::integral_constant<InputForm, InputForm::Quarter>()); break;
        case InputForm::Plain: feedbackLoop(std::integral_constant<InputForm, InputForm::Plain>()); break;
    }

    // Running state back into the units. writeIndex stays below 32000 - 16
    // in an admitted block, so it advances without a carry or a wrap.
    for (uint32_t g = 0; g < vectors; ++g) {
        motion[g][kLfoPhaseColumn] = phase[g];
        motion[g][kDcColumn] = dc[g];
        loop[g][kReadPhaseColumn] = readPhase[g];
        loop[g][kWriteIndexColumn] = V::addToLowWord(loop[g][kWriteIndexColumn], kSamples);
    }
    storeColumns(lanes, loop, loopWindow);
    storeColumns(lanes, motion, motionWindow);
    alignas(64) float lastReads[Lanes<V>::kLanes];
    for (uint32_t g = 0; g < vectors; ++g) V::store(lastReads + g * W, lastReadPhase[g]);
    for (uint32_t k = 0; k < lanes.count && lanes.gliding; ++k) {
        ChainUnit& unit = *lanes.unit[k];
        // A glide measures the loop every sample; the last measure stays.
        if (unit.gliding) {
            const uint64_t w = unit.writeIndex;
            const float rp = lastReads[k];
            unit.length = w + ((float)w > rp ? 0 : kUnitRingLength) - (uint64_t)rp;
        }
    }

    // Ring writes per unit, all before any tap reads.
    forEachUnitTile(lanes, written, [&](uint32_t k, uint32_t t, F samples) {
        V::storeu(lanes.unit[k]->ring + lanes.blockStart[k] + t * W, samples);
    });

    // Taps, then each unit's contribution to the sums: main + tap.
    if (lanes.everyUnit)
        for (uint32_t t = 0; t < kSamples / W; ++t) sums.next[t] = lanes.count;
    // A tap that wraps is copied into the unit's own rows of the job, which
    // the lanes do not use otherwise.
    const float* tapA[Lanes<V>::kLanes];
    const float* tapB[Lanes<V>::kLanes];
    for (uint32_t k = 0; k < lanes.count; ++k) {
        const ChainUnit& unit = *lanes.unit[k];
        const uint64_t start = lanes.blockStart[k];
        const uint32_t u = lanes.index[k];
        tapA[k] = tapEntries(unit.ring, start, bank.tapOffsetA[u], job.left[lanes.row[k]]);
        tapB[k] = tapEntries(unit.ring, start, bank.tapOffsetB[u], job.right[lanes.row[k]]);
    }
    forEachUnitTile(lanes, out, [&](uint32_t k, uint32_t t, F main) {
        const F left = main + V::loadu(tapA[k] + t * W);
        const F right = main + V::loadu(tapB[k] + t * W);
        if (lanes.everyUnit) {
            sums.take(t, k, left, right);  // lane k holds row k
        } else {
            sums.add(job, t, lanes.row[k], left, right);
        }
    });
}

// The lanes of the units in lanes.index, with their windows.
template <class V>
void fillLanes(const VectorUnitJob& job, Lanes<V>& lanes) {
    lanes.vectors = (lanes.count + V::W - 1) / V::W;
    for (uint32_t k = 0; k < lanes.vectors * V::W; ++k) {
        if (k >= lanes.count) lanes.index[k] = lanes.index[0];
        lanes.unit[k] = &job.bank->units[lanes.index[k]];
        lanes.blockStart[k] = lanes.unit[k]->writeIndex;
    }
    loadColumns(lanes, lanes.loop, [&](uint32_t k) { return floatsAt(*lanes.unit[k], kLoopWindow); });
    loadColumns(lanes, lanes.motion, [&](uint32_t k) { return floatsAt(*lanes.unit[k], kMotionWindow); });
}

// One bit per lane whose unit's block fits the vectors. A unit with a
// request waiting takes it here when the block then fits (its window in the
// lanes is stale then, and needsReload is set).
template <class V>
uint32_t fittingLanes(Lanes<V>& lanes, uint32_t g, bool& needsReload) {
    using F = typename V::F;
    using I = typename V::I;
    const F(&loop)[8] = lanes.loop[g];
    const F(&motion)[8] = lanes.motion[g];
    const BlockStart<F> start = {__builtin_convertvector((I)loop[kWriteIndexColumn], F),
                                 motion[kLfoPhaseColumn],
                                 motion[kLfoStepColumn],
                                 loop[kReadPhaseColumn],
                                 motion[kSpeedColumn],
                                 motion[kDepthColumn]};
    const I highWord = (I)loop[kWriteIndexColumn + 1];
    uint32_t fits = V::laneBits(fitsVectors(start, (float)kSamples, (float)V::kTile, (float)V::kTable) &
                                (highWord == 0));
    for (uint32_t i = 0; i < V::W; ++i) {
        ChainUnit& unit = *lanes.unit[g * V::W + i];
        bool lengthFits = true;
        if (unit.gliding) {
            const GlideStart glide = glideStartOf(unit);
            lengthFits = glideFarFromTarget(glide, kSamples) || glideMissesTarget(glide, kSamples);
        } else if (unit.pendingLength != 0) {
            // Judged afresh at the speed the request sets.
            const bool taken = g * V::W + i < lanes.count && takeRequestForVectors(unit, kSamples, V::kTile, V::kTable);
            fits = taken ? fits | 1u << i : fits & ~(1u << i);
            needsReload = needsReload || taken;
        }
        if (!lengthFits) fits &= ~(1u << i);
        if (unit.gliding && (fits >> i & 1u) != 0) lanes.gliding = true;
    }
    return fits;
}

// Every visited unit in a lane, then those whose block does not fit the
// vectors out of the lanes and through runAlone; then the lanes run and
// the rows are summed.
template <class V>
void runVectorUnits(const VectorUnitJob& job) {
    Lanes<V> lanes;
    RowSums<V> sums;
    const uint32_t visited = job.first < job.end ? (uint32_t)((job.end - job.first + job.stride - 1) / job.stride) : 0;
    lanes.count = visited;
    for (uint32_t row = 0; row < visited; ++row) {
        lanes.index[row] = (uint32_t)(job.first + job.stride * row);
        lanes.row[row] = row;
    }
    lanes.gliding = false;
    if (visited > 0) {
        fillLanes(job, lanes);
        uint32_t kept = 0;
        bool needsReload = false;
        for (uint32_t g = 0; g < lanes.vectors; ++g) {
            const uint32_t fits = fittingLanes(lanes, g, needsReload);
            const uint32_t inUse = visited - g * V::W < V::W ? visited - g * V::W : V::W;
            const uint32_t all = (uint32_t)((uint64_t{1} << inUse) - 1);
            if ((fits & all) == all && kept == g * V::W) {  // the usual case: every lane stays where it is
                kept += inUse;
                continue;
            }
            for (uint32_t i = 0; i < inUse; ++i) {
                const uint32_t k = g * V::W + i;
                if ((fits >> i & 1u) != 0) {
                    lanes.index[kept] = lanes.index[k];
                    lanes.row[kept] = lanes.row[k];
                    ++kept;
                } else {
                    job.runAlone(*job.bank, lanes.index[k], job.input, job.left[k], job.right[k]);
                }
            }
        }
        if (kept < lanes.count || needsReload) {  // close the gaps, refresh the windows
            lanes.count = kept;
            if (kept > 0) fillLanes(job, lanes);
        }
        lanes.everyUnit = lanes.count == visited;
        if (lanes.count > 0) runLanes(job, lanes, sums);
    }
    sums.finish(job, visited);
}

}  // namespace
