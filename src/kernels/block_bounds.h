// What a unit's next block of samples can reach, bounded from its state
// before the block. The bounds prove that a block holds no event, so that
// it may skip the per-sample tests or run in vectors.
//
// The tests are written once for a float or for a vector of floats holding
// one unit per lane (with the compiler's vector operators, a comparison
// gives a lane mask), so the vector kernels classify a whole vector of
// units with the very conditions the scalar code uses. They are evaluated
// in float with margins far above the few roundings of their own
// evaluation (each below 2^-24 relative): a block they admit is certain to
// be quiet, and only blocks within a sample or so of an event are turned
// away needlessly. NaN fails every comparison, so it is never admitted.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

// The fields of a glide the glide tests read.
struct GlideStart {
    uint64_t writeIndex;
    float readPhase;
    float readSpeed;
    uint64_t targetLength;
};

// Internal linkage: the vector translation units instantiate these with
// their own vector types after enabling wider instruction sets.
namespace {

// The fields of a unit the tests read; writeIndex as a float (exact below
// 2^24, and any larger value still compares above the ring).
template <class T>
struct BlockStart {
    T writeIndex;
    T lfoPhase;
    T lfoStep;
    T readPhase;
    T readSpeed;
    T modDepth;
};

// True (or the lanes) where, within the next n samples, the LFO phase does
// not wrap, every read position r lies in [1, 32000) and in [readLow,
// readHigh), no read-pointer advance reaches 32000, and the write position
// needs no guard copy and does not wrap. The glide state is not looked at.
template <class T>
inline auto staysInRing(const BlockStart<T>& s, float n, T& readLow, T& readHigh) {
    // Writes at writeIndex .. writeIndex + n - 1 need no guard copy and the
    // advance after the last one does not wrap.
    const auto writes = (s.writeIndex >= 5.0f) & (s.writeIndex <= 31999.0f - n);
    // LFO: with p0 >= -1 and a step >= 0 the phase only rises, and each
    // rounded sum below 2 is off by at most 2^-24, so p_k <= p0 + k*(step +
    // 2^-24). p0 + (n+1)*step below 1 - 2^-16, even as rounded here, keeps
    // every p_k of the block below 1 (n <= 128, so n*2^-24 <= 2^-17).
    const auto lfo = (s.lfoPhase >= -1.0f) & (s.lfoStep >= 0.0f) &
                     (s.lfoPhase + (n + 1.0f) * s.lfoStep < 1.0f - 0x1p-16f);
    // Read position: readPhase stays below 32768 here, so each rounded
    // advance is off by at most 2^-10 and rp_k <= rp0 + k*(speed + 2^-10).
    // The read offset 1 + depth*(1 + |p|) is at most fl(1 + 2*depth) as
    // |p| <= 1. One and a half spare samples absorb those roundings
    // (n*2^-10 <= 1/8) and those of the sums (below 1/50 here). Below, the
    // offset is at least 1 + depth less a rounding, so rp0 + depth bounds
    // every read.
    readHigh = s.readPhase + n * s.readSpeed + 2.0f * s.modDepth + 2.5f;
    readLow = s.readPhase + s.modDepth;
    const auto reads = (s.readPhase >= 0.0f) & (s.readSpeed >= 0.0f) & (s.modDepth >= 0.0f) &
                       (readHigh < 32000.0f);
    return writes & lfo & reads;
}

// staysInRing, and every read sees only values written before the block,
// since the vector form reads the whole block before it writes; with
// table > 0, the reads of any `tile` consecutive samples also fall in a
// window of `table` ring entries (the kernels' lookup tables).
template <class T>
inline auto fitsVectors(const BlockStart<T>& s, float n, float tile, float table) {
    T readLow, readHigh;
    const auto inRing = staysInRing(s, n, readLow, readHigh);
    // Entries writeIndex .. writeIndex + n - 1 change during the block: the
    // reads (and their interpolation partners) must lie wholly before them,
    // or wholly at or after them.
    const auto clear = (readHigh + 1.0f <= s.writeIndex) | (readLow >= s.writeIndex + n);
    if (table == 0.0f) return inRing & clear;
    // Over `tile` consecutive samples the read position moves by the pointer
    // advances plus depth times the change of |p|, which is at most the
    // change of p; a whole sample covers the roundings. Truncation and the
    // interpolation partner widen the window by two entries, and half an
    // entry more covers this estimate's own roundings.
    const float steps = tile - 1.0f;
    const T span = steps * (s.readSpeed + 0x1p-8f) + s.modDepth * (steps * (s.lfoStep + 0x1p-21f)) + 1.0f;
    return inRing & clear & (span + 2.5f <= table - 1.0f);
}

inline GlideStart glideStartOf(const ChainUnit& unit) {
    return {unit.writeIndex, unit.readPhase, unit.readSpeed, unit.targetLength};
}

// A cheap sufficient test that a running glide cannot end within the next
// n samples (n <= 128): its target lies outside every loop length the block
// can measure. Sample j measures d_j = w0 + 1 + j + behind - trunc(rp_j),
// where behind is 32000 while the read pointer is not below the write
// position; the block must stay clear of the point where that switches.
// With rp0 <= rp_j <= rp0 + j*(speed + 2^-8) and trunc within one below,
// every d_j lies in [low, high]; one more sample on each side spares the
// roundings (below 1/50 here).
inline bool glideFarFromTarget(const GlideStart& glide, uint32_t n) {
    const float speed = glide.readSpeed;
    if (!(speed >= 0.0f && speed <= 2.0f) || glide.writeIndex >= 32000) return false;
    const float w0 = (float)glide.writeIndex;
    const float rp0 = glide.readPhase;
    const float steps = (float)(n - 1);
    float behind;
    if (rp0 + (float)n * (speed + 0x1p-8f) < w0) {
        behind = 0.0f;
    } else if (rp0 >= w0 + (float)n + 1.0f) {
        behind = 32000.0f;
    } else {
        return false;  // also for a NaN read position
    }
    const float first = w0 + 1.0f + behind - rp0;
    const float last = first + steps;
    const float slowest = last - steps * (speed + 0x1p-8f);
    const float low = (slowest < first ? slowest : first) - 1.0f;
    const float high = last + 1.0f;
    const float target = (float)glide.targetLength;
    return target < low || target > high;
}

inline BlockStart<float> blockStartOf(const ChainUnit& unit) {
    return {(float)unit.writeIndex, unit.lfoPhase, unit.lfoIncrement, unit.readPhase, unit.readSpeed, unit.modDepth};
}

}  // namespace

// staysInRing for one unit.
bool blockStaysInRing(const ChainUnit& unit, uint32_t n);

// The exact test: the glide's own steps over the block never measure the
// target. For the blocks near a glide's end, where glideFarFromTarget
// cannot tell.
bool glideMissesTarget(const GlideStart& glide, uint32_t n);

// True when a running glide cannot end within the next n samples.
bool glideOutlastsBlock(const ChainUnit& unit, uint32_t n);

// A request waiting in pendingLength is taken in the block's first sample,
// and any glide it starts runs from that sample's pointer advance on: the
// block is then the block of a glide. When that glide outlasts the block
// and the block fits the vector kernels at the new speed, this takes the
// request now, as the first sample would, and returns true; otherwise it
// leaves the unit alone.
bool takeRequestForVectors(ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table);

// Everything a unit's next n samples need to run in the vector kernels as
// they stand (a waiting request counts against them).
bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table);
