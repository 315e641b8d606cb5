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

// The vector kernels' test for a block of n <= 16 samples. The lanes model
// the LFO wrap, the read pointer's and the read position's wraps at the
// ring's end, and the writes' wrap and guard copies; what they cannot model
// is a read of an entry the block itself has written, as they read the
// whole block before they write it. On the ring's circle, measured from
// the block's first write position w0, sample j writes at j and reads the
// two entries at and after the read position, which lies between readPhase
// + 1 + depth and readPhase + 1 + 2 * depth, readPhase having advanced by j
// speeds. Sample j must read at or past j and no further than the entry
// before w0 (31999): the entries written in this block are then all behind
// the read, or all after it. Let m be readPhase + depth - w0 on the circle:
// - the lowest read of sample j is at least m + 1 + j * speed, which stays
//   at or past j while m >= (n - 1) * (1 - speed) (the read pointer keeps
//   pace with the writes, less 1 - speed per sample when it is slower);
// - the highest entry read is at most m + 2 + (n - 1) * speed + depth.
// The sums stay below 32768 and below 2^15 steps, so each of the few
// roundings of readPhase's advance and of this estimate is below 2^-9; a
// quarter of a sample and one and a half samples cover them. Every lane
// state must lie in the ranges that keep the positions in the ring: with
// readPhase in [0, 32000), depth in [0, 300] and steps in [0, 2] every read
// position lies below 32000 + 601 before its single wrap, and the LFO phase
// stays in [-1, 1).
template <class T>
inline auto fitsLanes(const BlockStart<T>& s, float n) {
    const auto sane = (s.writeIndex >= 0.0f) & (s.writeIndex < 32000.0f) & (s.readPhase >= 0.0f) &
                      (s.readPhase < 32000.0f) & (s.readSpeed >= 0.0f) & (s.readSpeed <= 2.0f) &
                      (s.modDepth >= 0.0f) & (s.modDepth <= 300.0f) & (s.lfoPhase >= -1.0f) & (s.lfoPhase < 1.0f) &
                      (s.lfoStep >= 0.0f) & (s.lfoStep <= 2.0f);
    const T lowest = s.readPhase + s.modDepth - s.writeIndex;  // m, within a whole turn
    const T slow = (n - 1.0f) * (1.004f - s.readSpeed) + 0.25f;
    const T reach = n * s.readSpeed + s.modDepth + 3.5f;
    // m is lowest, lowest + 32000 or lowest - 32000, whichever lies on the
    // circle [0, 32000); the bounds hold only there.
    const auto clear = [&](T m) { return (m >= 0.25f) & (m >= slow) & (m + reach <= 32000.0f); };
    return sane & (clear(lowest) | clear(lowest + 32000.0f) | clear(lowest - 32000.0f));
}

// Whether the read pointer or a read position may reach the ring's end
// within the next n samples (then the lanes take the wraps sample by sample).
template <class T>
inline auto mayWrapReads(const BlockStart<T>& s, float n) {
    return s.readPhase + n * s.readSpeed + 2.0f * s.modDepth + 3.0f >= 32000.0f;
}

}  // namespace

// staysInRing for unit u.
bool blockStaysInRing(const ChainUnits& units, uint64_t u, uint32_t n);
