// What a unit's next block of samples can reach, bounded from its state
// before the block. The bounds prove that a block holds no event, so that
// it may skip the per-sample tests (the scalar delay line) or run in the
// vector kernels' lanes.
//
// The tests are written once for a float or for a vector of floats holding
// one unit per lane (with the compiler's vector operators, a comparison
// gives a lane mask), so the vector kernels classify a whole vector of
// units with the very conditions the scalar code uses. They are evaluated
// in float with margins far above the few roundings of their own
// evaluation (each below 2^-24 relative): a block they admit is certain to
// be free of the event, and only blocks within a sample or so of one are
// turned away needlessly. NaN fails every comparison, so it is never
// admitted.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

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

// Writes at writeIndex .. writeIndex + n - 1 need no guard copy and the
// advance after the last one does not wrap.
template <class T>
inline auto writesClear(const BlockStart<T>& s, float n) {
    return (s.writeIndex >= 5.0f) & (s.writeIndex <= 31999.0f - n);
}

// Every read position r of the next n samples lies in [1, 32000) and in
// [readLow, readHigh), and no read-pointer advance reaches 32000, given
// |p| <= 1. Read position: readPhase stays below 32768 here, so each rounded
// advance is off by at most 2^-10 and rp_k <= rp0 + k*(speed + 2^-10). The
// read offset 1 + depth*(1 + |p|) is at most fl(1 + 2*depth) as |p| <= 1.
// One and a half spare samples absorb those roundings (n*2^-10 <= 1/8) and
// those of the sums (below 1/50 here). Below, the offset is at least
// 1 + depth less a rounding, so rp0 + depth bounds every read.
template <class T>
inline auto readsInRing(const BlockStart<T>& s, float n, T& readLow, T& readHigh) {
    readHigh = s.readPhase + n * s.readSpeed + 2.0f * s.modDepth + 2.5f;
    readLow = s.readPhase + s.modDepth;
    return (s.readPhase >= 0.0f) & (s.readSpeed >= 0.0f) & (s.modDepth >= 0.0f) & (readHigh < 32000.0f);
}

// True (or the lanes) where, within the next n samples, the LFO phase does
// not wrap, the reads stay in the ring (readsInRing) and the writes need no
// guard copy or wrap (writesClear). The glide state is not looked at.
template <class T>
inline auto staysInRing(const BlockStart<T>& s, float n, T& readLow, T& readHigh) {
    // LFO: with p0 >= -1 and a step >= 0 the phase only rises, and each
    // rounded sum below 2 is off by at most 2^-24, so p_k <= p0 + k*(step +
    // 2^-24). p0 + (n+1)*step below 1 - 2^-16, even as rounded here, keeps
    // every p_k of the block below 1 (n <= 128, so n*2^-24 <= 2^-17).
    const auto lfo = (s.lfoPhase >= -1.0f) & (s.lfoStep >= 0.0f) &
                     (s.lfoPhase + (n + 1.0f) * s.lfoStep < 1.0f - 0x1p-16f);
    return writesClear(s, n) & lfo & readsInRing(s, n, readLow, readHigh);
}

// The vector kernels' test for a block of n <= 16 samples read in runs of
// `run` samples. As staysInRing, but the LFO may wrap (the lanes model it:
// with 0 <= step <= 2 the phase stays in [-1, 1) and |p| still changes by
// at most the step per sample), and besides:
// - every read sees only values written before the block, as the lanes
//   read the whole block before they write it: the entries read lie wholly
//   before the block's first write, or each sample j reads at or past
//   writeIndex + j, which the block has not reached yet (the read pointer
//   keeps pace with the write position, less 1 - speed per sample when it
//   is slower; a quarter of a sample spares the roundings);
// - each run of `run` samples reads within a window of 2 * run entries:
//   over run - 1 steps the position moves by the pointer advances plus
//   depth times the change of |p|; truncation and the interpolation partner
//   widen the window by two entries, a sample and a half more covers the
//   roundings of this estimate.
template <class T>
inline auto fitsLanes(const BlockStart<T>& s, float n, float run) {
    T readLow, readHigh;
    const auto inRing = writesClear(s, n) & readsInRing(s, n, readLow, readHigh);
    const auto lfo = (s.lfoPhase >= -1.0f) & (s.lfoPhase < 1.0f) & (s.lfoStep >= 0.0f) & (s.lfoStep <= 2.0f) &
                     (s.readSpeed <= 2.0f);
    const auto behind = readHigh + 1.0f <= s.writeIndex;
    const T lead = s.readPhase + s.modDepth - s.writeIndex;
    const auto ahead = (lead >= 0.25f) & (lead >= (n - 1.0f) * (1.004f - s.readSpeed) + 0.25f);
    const float steps = run - 1.0f;
    const T span = steps * (s.readSpeed + 0x1p-8f) + s.modDepth * (steps * (s.lfoStep + 0x1p-21f)) + 3.5f;
    return inRing & lfo & (behind | ahead) & (span <= 2.0f * run - 1.0f);
}

}  // namespace

// staysInRing for unit u.
bool blockStaysInRing(const ChainUnits& units, uint64_t u, uint32_t n);
