// The unit bank's vector kernel, written once over a vector-traits type V
// and instantiated by one translation unit per instruction set, after that
// unit's target pragma. Everything here has internal linkage, so that no
// function compiled for a wider instruction set can stand in for a baseline
// one at link time.
//
// Layout: the recurrences (ladder, LFO, read pointer, DC blocker) run with
// one unit per lane, sample after sample, so that every lane does exactly
// the scalar operations of its unit in the same order. Ring reads, ring
// writes and taps run per unit over the block's contiguous samples, after a
// transpose. A pack holds G vectors of units, which gives the out-of-order
// core G independent chains to interleave.
//
// V provides: W (lanes), kTable (lookup window, 0 for none), F (float
// vector, with the compiler's + - * operators), load/store (aligned),
// loadu/storeu, set1, abs, min, transpose (W x W, in place),
// loadColumns8(rows, cols) (eight consecutive floats from each of W row
// pointers, as eight lane vectors), and, when
// kTable > 0, interpolate(window, r, base): window[i - base] + f *
// (window[i + 1 - base] - window[i - base]) per lane, with i = trunc(r) and
// f = r - i; when kTable is 0, split(r, whole) storing trunc(r) in whole
// and returning r - trunc(r).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/engine_state.h"
#include "kernels/ladder_step.h"
#include "kernels/ring_taps.h"
#include "kernels/unit_constants.h"
#include "kernels/vector_unit_job.h"

namespace {

constexpr uint32_t kPackSamples = kBlockLength;

template <class V, uint32_t G>
struct UnitPack {
    static constexpr uint32_t kLanes = V::W * G;
    uint32_t count;  // lanes in use; the rest compute on zeros and are never stored
    uint32_t index[kLanes];
    uint32_t slot[kLanes];
    ChainUnit* unit[kLanes];
};

template <class V, uint32_t G>
using LaneVectors = typename V::F[G];

template <class V, uint32_t G>
using LaneBlock = typename V::F[G][kPackSamples];

// One float per lane from each unit in use, zero elsewhere. For fields
// without a neighbourhood worth a transpose.
template <class V, uint32_t G, class Get>
void loadLanes(const UnitPack<V, G>& pack, LaneVectors<V, G>& out, Get get) {
    alignas(64) float values[UnitPack<V, G>::kLanes];
    for (uint32_t k = 0; k < UnitPack<V, G>::kLanes; ++k) values[k] = k < pack.count ? get(k) : 0.0f;
    for (uint32_t g = 0; g < G; ++g) out[g] = V::load(values + g * V::W);
}

// Eight consecutive floats of a record per lane, as eight lane vectors:
// cols[g][f] holds float f of the record of each unit of vector g. Lanes
// not in use repeat the first unit, so that they compute on real numbers.
template <class V, uint32_t G, class RowOf>
void loadColumns(const UnitPack<V, G>& pack, typename V::F (&cols)[G][8], RowOf rowOf) {
    for (uint32_t g = 0; g < G; ++g) {
        const float* rows[V::W];
        for (uint32_t i = 0; i < V::W; ++i) {
            const uint32_t k = g * V::W + i;
            rows[i] = rowOf(k < pack.count ? k : 0);
        }
        V::loadColumns8(rows, cols[g]);
    }
}

template <class V, uint32_t G, class Put>
void storeLanes(const UnitPack<V, G>& pack, const LaneVectors<V, G>& in, Put put) {
    alignas(64) float values[UnitPack<V, G>::kLanes];
    for (uint32_t g = 0; g < G; ++g) V::store(values + g * V::W, in[g]);
    for (uint32_t k = 0; k < pack.count; ++k) put(k, values[k]);
}

// The record windows the kernel reads through loadColumns. The floats
// between the fields it uses are read and ignored.
template <class T>
const float* floatsAt(const T& record, size_t offset) {
    return reinterpret_cast<const float*>(reinterpret_cast<const char*>(&record) + offset);
}
// ChainUnit from feedback: feedback, readPhase, ...
constexpr size_t kLoopWindow = offsetof(ChainUnit, feedback);
constexpr uint32_t kFeedbackColumn = 0, kReadPhaseColumn = 1;
static_assert(offsetof(ChainUnit, readPhase) == kLoopWindow + 4 * kReadPhaseColumn, "loop window");
// ChainUnit from readSpeed: readSpeed, ringGain, modDepth, lfoIncrement,
// lfoPhase, dcState, then the first two ring entries.
constexpr size_t kMotionWindow = offsetof(ChainUnit, readSpeed);
constexpr uint32_t kSpeedColumn = 0, kRingGainColumn = 1, kDepthColumn = 2, kLfoStepColumn = 3,
                   kLfoPhaseColumn = 4, kDcColumn = 5;
static_assert(offsetof(ChainUnit, ringGain) == kMotionWindow + 4 * kRingGainColumn &&
                  offsetof(ChainUnit, modDepth) == kMotionWindow + 4 * kDepthColumn &&
                  offsetof(ChainUnit, lfoIncrement) == kMotionWindow + 4 * kLfoStepColumn &&
                  offsetof(ChainUnit, lfoPhase) == kMotionWindow + 4 * kLfoPhaseColumn &&
                  offsetof(ChainUnit, dcState) == kMotionWindow + 4 * kDcColumn &&
                  kMotionWindow + 32 <= sizeof(ChainUnit),
              "motion window");
// LadderRecord: the first eight floats, and the last eight.
static_assert(sizeof(LadderRecord) == 48 && offsetof(LadderRecord, lastOutput) == 0 &&
                  offsetof(LadderRecord, resonance) == 4 && offsetof(LadderRecord, inputCompensation) == 8 &&
                  offsetof(LadderRecord, feedbackScale) == 12 && offsetof(LadderRecord, pole1) == 16 &&
                  offsetof(LadderRecord, state1) == 20 && offsetof(LadderRecord, pole2) == 24 &&
                  offsetof(LadderRecord, state2) == 28 && offsetof(LadderRecord, pole3) == 32 &&
                  offsetof(LadderRecord, state3) == 36 && offsetof(LadderRecord, pole4) == 40 &&
                  offsetof(LadderRecord, state4) == 44,
              "ladder record layout");

// One ladder set over the block in place, lanes = units.
template <class V, uint32_t G, class Mix>
void runLadderLanes(UnitBank& bank, unsigned set, const UnitPack<V, G>& pack, LaneBlock<V, G>& x, Mix mix) {
    using F = typename V::F;
    const auto record = [&](uint32_t k) -> LadderRecord& { return bank.ladderSets[set][pack.index[k]]; };
    // Columns of the first half: lastOutput, resonance, inputCompensation,
    // feedbackScale, pole1, state1, pole2, state2; of the second half:
    // pole1, state1, pole2, state2, pole3, state3, pole4, state4.
    F head[G][8], tail[G][8];
    loadColumns(pack, head, [&](uint32_t k) { return floatsAt(record(k), 0); });
    loadColumns(pack, tail, [&](uint32_t k) { return floatsAt(record(k), offsetof(LadderRecord, pole1)); });
    LadderCoefficients<F> c[G];
    LadderMemory<F> m[G];
    for (uint32_t g = 0; g < G; ++g) {
        c[g] = {1.0f + head[g][1] * head[g][2], head[g][1] * head[g][3], tail[g][0], tail[g][2], tail[g][4], tail[g][6]};
        m[g] = {head[g][0], tail[g][1], tail[g][3], tail[g][5], tail[g][7]};
    }
    for (uint32_t j = 0; j < kPackSamples; ++j) {
#pragma GCC unroll 4
        for (uint32_t g = 0; g < G; ++g) x[g][j] = mix(ladderStep(c[g], m[g], x[g][j]));
    }
    LaneVectors<V, G> last, s1, s2, s3, s4;
    for (uint32_t g = 0; g < G; ++g) {
        last[g] = m[g].last;
        s1[g] = m[g].s1;
        s2[g] = m[g].s2;
        s3[g] = m[g].s3;
        s4[g] = m[g].s4;
    }
    storeLanes(pack, last, [&](uint32_t k, float v) { record(k).lastOutput = v; });
    storeLanes(pack, s1, [&](uint32_t k, float v) { record(k).state1 = v; });
    storeLanes(pack, s2, [&](uint32_t k, float v) { record(k).state2 = v; });
    storeLanes(pack, s3, [&](uint32_t k, float v) { record(k).state3 = v; });
    storeLanes(pack, s4, [&](uint32_t k, float v) { record(k).state4 = v; });
}

// Input gain and input filter: x[g][j] holds unit lane's filtered input.
template <class V, uint32_t G>
void filterInputLanes(const VectorUnitJob& job, const UnitPack<V, G>& pack, LaneBlock<V, G>& x) {
    UnitBank& bank = *job.bank;
    LaneVectors<V, G> gain;
    loadLanes(pack, gain, [&](uint32_t k) { return bank.unitInputGain[pack.index[k]]; });
    for (uint32_t j = 0; j < kPackSamples; ++j) {
        const typename V::F in = V::set1(job.input[j]);
        for (uint32_t g = 0; g < G; ++g) x[g][j] = in * gain[g];
    }
    if (bank.filterType == 0) {
        for (uint32_t g = 0; g < G; ++g)
            for (uint32_t j = 0; j < kPackSamples; ++j) x[g][j] = x[g][j] * 0.25f;
        return;
    }
    forEachLadderPass(bank.filterType, [&](unsigned set, auto mix) { runLadderLanes(bank, set, pack, x, mix); });
}

// Interpolated ring reads at the positions r, lanes = units in and out.
template <class V, uint32_t G>
void readRingLanes(const UnitPack<V, G>& pack, const LaneBlock<V, G>& r, LaneBlock<V, G>& v) {
    using F = typename V::F;
    constexpr uint32_t W = V::W;
    if constexpr (V::kTable > 0) {
        // Per unit and tile of W samples, a window of kTable entries from the
        // lowest read position on, looked up by lane.
        for (uint32_t g = 0; g < G; ++g) {
            for (uint32_t t = 0; t < kPackSamples / W; ++t) {
                F tile[W];
                F lowest = r[g][t * W];
                for (uint32_t i = 0; i < W; ++i) {
                    tile[i] = r[g][t * W + i];
                    lowest = V::min(lowest, tile[i]);
                }
                alignas(64) float low[W];
                V::store(low, lowest);
                V::transpose(tile);  // tile[i]: lane i's W positions
                for (uint32_t i = 0; i < W; ++i) {
                    const uint32_t k = g * W + i;
                    if (k >= pack.count) break;
                    // Positions lie in [1, 32000); keep the window inside the storage.
                    int32_t base = (int32_t)low[i];
                    if (base > (int32_t)(kUnitRingStorage - V::kTable)) base = (int32_t)(kUnitRingStorage - V::kTable);
                    tile[i] = V::interpolate(pack.unit[k]->ring + base, tile[i], base);
                }
                V::transpose(tile);
                for (uint32_t i = 0; i < W; ++i) v[g][t * W + i] = tile[i];
            }
        }
    } else {
        // No lookup instruction: one scalar load per entry, the arithmetic in vectors.
        for (uint32_t j = 0; j < kPackSamples; ++j) {
            for (uint32_t g = 0; g < G; ++g) {
                alignas(64) int32_t whole[W];
                alignas(64) float a[W];
                alignas(64) float b[W];
                const F frac = V::split(r[g][j], whole);
                for (uint32_t i = 0; i < W; ++i) {
                    const uint32_t k = g * W + i;
                    const float* ring = k < pack.count ? pack.unit[k]->ring : nullptr;
                    a[i] = ring ? ring[whole[i]] : 0.0f;
                    b[i] = ring ? ring[whole[i] + 1] : 0.0f;
                }
                const F fa = V::load(a);
                v[g][j] = fa + frac * (V::load(b) - fa);
            }
        }
    }
}

// The ring entries of a tap for the block, contiguous when they do not wrap.
template <class V>
void readTapBlock(const float* ring, uint64_t base, float* tap) {
    if (base <= UINT64_MAX - kPackSamples) {
        const uint64_t i = base % kUnitRingLength;
        if (i <= kUnitRingLength - kPackSamples) {
            for (uint32_t j = 0; j < kPackSamples; j += V::W) V::store(tap + j, V::loadu(ring + i + j));
            return;
        }
    }
    readTap(ring, base, kPackSamples, tap);
}

// Each block of a unit touches fresh cache lines of its ring in four places
// (the write, the read window, the two taps). Too many units run for the
// hardware to follow every stream, so ask for the next block's lines now;
// they arrive while the rest of the bank runs. Only addresses inside the
// ring are named.
inline void prefetchNextBlock(const ChainUnit& unit, uint64_t tapA, uint64_t tapB) {
    const float* ring = unit.ring;
    const uint64_t next = kPackSamples;
    const uint64_t write = unit.writeIndex;  // already advanced past this block
    const uint64_t read = (uint64_t)unit.readPhase + 1 + (uint64_t)unit.modDepth;
    __builtin_prefetch(ring + (write + next) % kUnitRingLength);
    __builtin_prefetch(ring + (read + next) % kUnitRingLength);
    __builtin_prefetch(ring + (read + 2 * next) % kUnitRingLength);
    __builtin_prefetch(ring + (tapA + 2 * next) % kUnitRingLength);
    __builtin_prefetch(ring + (tapB + 2 * next) % kUnitRingLength);
}

// The block of one pack of units, each with the same results as the
// per-sample procedure for a block that blockFitsVectors admitted.
template <class V, uint32_t G>
void runUnitPack(const VectorUnitJob& job, const UnitPack<V, G>& pack) {
    using F = typename V::F;
    constexpr uint32_t W = V::W;
    constexpr uint32_t kLanes = UnitPack<V, G>::kLanes;
    UnitBank& bank = *job.bank;

    LaneBlock<V, G> x;
    filterInputLanes(job, pack, x);

    // LFO and read pointer: the read position of every sample.
    F loop[G][8], motion[G][8];
    loadColumns(pack, loop, [&](uint32_t k) { return floatsAt(*pack.unit[k], kLoopWindow); });
    loadColumns(pack, motion, [&](uint32_t k) { return floatsAt(*pack.unit[k], kMotionWindow); });
    LaneVectors<V, G> phase, readPhase, lastReadPhase;
    for (uint32_t g = 0; g < G; ++g) {
        phase[g] = motion[g][kLfoPhaseColumn];
        readPhase[g] = loop[g][kReadPhaseColumn];
    }
    LaneBlock<V, G> r;
    for (uint32_t j = 0; j < kPackSamples; ++j) {
#pragma GCC unroll 4
        for (uint32_t g = 0; g < G; ++g) {
            phase[g] = phase[g] + motion[g][kLfoStepColumn];
            r[g][j] = readPhase[g] + (1.0f + motion[g][kDepthColumn] * (1.0f + V::abs(phase[g])));
            lastReadPhase[g] = readPhase[g];
            readPhase[g] = readPhase[g] + motion[g][kSpeedColumn];
        }
    }

    LaneBlock<V, G> v;
    readRingLanes(pack, r, v);

    // DC blocker, feedback and the value each sample writes.
    LaneVectors<V, G> dc;
    for (uint32_t g = 0; g < G; ++g) dc[g] = motion[g][kDcColumn];
    LaneBlock<V, G>& out = r;  // the read positions are spent
    LaneBlock<V, G>& written = v;
    for (uint32_t j = 0; j < kPackSamples; ++j) {
#pragma GCC unroll 4
        for (uint32_t g = 0; g < G; ++g) {
            const F y = kDcBlockerInputGain * v[g][j] + kDcBlockerPole * dc[g];
            const F o = y - dc[g];
            dc[g] = y;
            out[g][j] = o;
            written[g][j] = (x[g][j] + o * loop[g][kFeedbackColumn]) * motion[g][kRingGainColumn];
        }
    }

    // Running state back into the units. writeIndex stays below 32000 - 16
    // in an admitted block, so it advances without a wrap.
    uint64_t blockStart[kLanes];
    for (uint32_t k = 0; k < pack.count; ++k) blockStart[k] = pack.unit[k]->writeIndex;
    alignas(64) float phases[kLanes], readPhases[kLanes], dcs[kLanes], lastReads[kLanes];
    for (uint32_t g = 0; g < G; ++g) {
        V::store(phases + g * W, phase[g]);
        V::store(readPhases + g * W, readPhase[g]);
        V::store(dcs + g * W, dc[g]);
        V::store(lastReads + g * W, lastReadPhase[g]);
    }
    for (uint32_t k = 0; k < pack.count; ++k) {
        ChainUnit& unit = *pack.unit[k];
        unit.lfoPhase = phases[k];
        unit.readPhase = readPhases[k];
        unit.dcState = dcs[k];
        const uint64_t w = blockStart[k] + kPackSamples;
        unit.writeIndex = w;
        // A glide measures the loop every sample; the last measure stays.
        const float rp = lastReads[k];
        if (unit.gliding) unit.length = w + ((float)w > rp ? 0 : kUnitRingLength) - (uint64_t)rp;
    }

    // Ring writes per unit, all before any tap reads.
    for (uint32_t g = 0; g < G; ++g) {
        for (uint32_t t = 0; t < kPackSamples / W; ++t) {
            F tile[W];
            for (uint32_t i = 0; i < W; ++i) tile[i] = written[g][t * W + i];
            V::transpose(tile);
            for (uint32_t i = 0; i < W && g * W + i < pack.count; ++i) {
                const uint32_t k = g * W + i;
                V::storeu(pack.unit[k]->ring + blockStart[k] + t * W, tile[i]);
            }
        }
    }

    // Main outputs per unit, then each unit's contribution to the sums.
    alignas(64) float mainOut[kLanes][kPackSamples];
    for (uint32_t g = 0; g < G; ++g) {
        for (uint32_t t = 0; t < kPackSamples / W; ++t) {
            F tile[W];
            for (uint32_t i = 0; i < W; ++i) tile[i] = out[g][t * W + i];
            V::transpose(tile);
            for (uint32_t i = 0; i < W; ++i) V::store(mainOut[g * W + i] + t * W, tile[i]);
        }
    }
    for (uint32_t k = 0; k < pack.count; ++k) {
        const ChainUnit& unit = *pack.unit[k];
        const uint32_t u = pack.index[k];
        // The oracle's W + 64000 - n with W the write position after the block.
        const uint64_t start = blockStart[k] + 2 * kUnitRingLength;
        prefetchNextBlock(unit, start - bank.tapOffsetA[u], start - bank.tapOffsetB[u]);
        alignas(64) float tapA[kPackSamples];
        alignas(64) float tapB[kPackSamples];
        readTapBlock<V>(unit.ring, start - bank.tapOffsetA[u], tapA);
        readTapBlock<V>(unit.ring, start - bank.tapOffsetB[u], tapB);
        float* left = job.left[pack.slot[k]];
        float* right = job.right[pack.slot[k]];
        for (uint32_t j = 0; j < kPackSamples; j += W) {
            const F m = V::load(mainOut[k] + j);
            V::store(left + j, m + V::load(tapA + j));
            V::store(right + j, m + V::load(tapB + j));
        }
    }
}

// Runs the next pack of up to G vectors from the job's unit `done` on.
template <class V, uint32_t G>
uint32_t runNextPack(const VectorUnitJob& job, uint32_t done) {
    UnitPack<V, G> pack;
    const uint32_t rest = job.count - done;
    pack.count = rest < UnitPack<V, G>::kLanes ? rest : UnitPack<V, G>::kLanes;
    for (uint32_t k = 0; k < pack.count; ++k) {
        pack.index[k] = job.units[done + k];
        pack.slot[k] = job.slots[done + k];
        pack.unit[k] = &job.bank->units[pack.index[k]];
    }
    runUnitPack(job, pack);
    return pack.count;
}

// The rows in order with alternating signs, one vector of samples at a time.
template <class V>
void sumRows(const VectorUnitJob& job) {
    using F = typename V::F;
    for (uint32_t j = 0; j < kPackSamples; j += V::W) {
        F left = V::set1(0.0f);
        F right = V::set1(0.0f);
        for (uint32_t row = 0; row < job.rows; ++row) {
            const F l = V::load(job.left[row] + j);
            const F r = V::load(job.right[row] + j);
            if (row % 2 == 0) {
                left = l + left;
                right = r + right;
            } else {
                left = left - l;
                right = right - r;
            }
        }
        V::store(job.sumLeft + j, left);
        V::store(job.sumRight + j, right);
    }
}

// Splits the job into packs of up to GMax vectors (GMax <= 3), no more
// vectors than the units need, then sums the rows.
template <class V, uint32_t GMax>
void runVectorUnits(const VectorUnitJob& job) {
    static_assert(GMax >= 1 && GMax <= 3, "packs of one to three vectors");
    uint32_t done = 0;
    while (done < job.count) {
        const uint32_t rest = job.count - done;
        const uint32_t vectors = (rest + V::W - 1) / V::W;
        if (GMax >= 3 && vectors >= 3) {
            done += runNextPack<V, (GMax >= 3 ? 3 : 1)>(job, done);
        } else if (GMax >= 2 && vectors >= 2) {
            done += runNextPack<V, (GMax >= 2 ? 2 : 1)>(job, done);
        } else {
            done += runNextPack<V, 1>(job, done);
        }
    }
    sumRows<V>(job);
}

}  // namespace
