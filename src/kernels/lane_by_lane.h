// Loads and stores of a few per-unit fields, and gathers, one lane at a
// time, for the cases an instruction set has no vector form for (64-bit
// fields and flags, at a stride of two; gathers before AVX2). Lane i takes
// the field at p[i * stride]. Internal linkage: the vector translation
// units include this after enabling wider instruction sets.
#pragma once

#include <stdint.h>

namespace {

// The low words of W 64-bit fields into words; returns the lanes whose
// value is 2^31 or more.
template <uint32_t W>
inline uint32_t lowWordsByLane(const uint64_t* p, uint32_t stride, int32_t* words) {
    uint32_t wide = 0;
    for (uint32_t i = 0; i < W; ++i) {
        words[i] = (int32_t)(uint32_t)p[i * stride];
        wide |= (p[i * stride] > INT32_MAX ? 1u : 0u) << i;
    }
    return wide;
}

// Non-negative words into the chosen lanes' 64-bit fields.
template <uint32_t W>
inline void storeIndexByLane(uint64_t* p, uint32_t stride, const int32_t* words, uint32_t lanes) {
    for (uint32_t i = 0; i < W; ++i)
        if ((lanes >> i & 1u) != 0) p[i * stride] = (uint64_t)(uint32_t)words[i];
}

// base[idx[i]] in the chosen lanes, 0 in the others.
template <uint32_t W>
inline void gatherByLane(const float* base, const int32_t* idx, uint32_t lanes, float* values) {
    for (uint32_t i = 0; i < W; ++i) values[i] = (lanes >> i & 1u) != 0 ? base[idx[i]] : 0.0f;
}

// values[i] into base[idx[i]] in the chosen lanes.
template <uint32_t W>
inline void scatterByLane(float* base, const int32_t* idx, const float* values, uint32_t lanes) {
    for (uint32_t m = lanes; m != 0; m &= m - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(m);
        base[idx[i]] = values[i];
    }
}

// One bit per lane whose field is not zero.
template <uint32_t W, class T>
inline uint32_t nonZeroByLane(const T* p, uint32_t stride) {
    uint32_t m = 0;
    for (uint32_t i = 0; i < W; ++i) m |= (p[i * stride] != 0 ? 1u : 0u) << i;
    return m;
}

}  // namespace
