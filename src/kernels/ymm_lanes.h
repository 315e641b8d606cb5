// Eight units per 256-bit vector: what the AVX2 and the AVX-512 kernels
// share. Include only after enabling AVX2; internal linkage keeps it out of
// the baseline code.
#pragma once

#include <immintrin.h>
#include <stdint.h>

namespace {

__attribute__((always_inline)) inline void transpose8x8(__m256* r) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    // s[c]: element c (and c + 4) of rows 0..3, then of rows 4..7.
    const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

// The vector traits of vector_kernel.h for eight lanes, but for the
// ring lookup (lookup(window, idx): window[idx] for idx in [0, 16)), which
// the instruction set at hand supplies in Lookup.
template <class Lookup>
struct YmmLanes {
    static constexpr uint32_t W = 8;
    static constexpr uint32_t kTile = 8;
    static constexpr uint32_t kTable = 16;
    // The plain vector types: __m256 itself would lose its may_alias
    // attribute as a template argument, which the compiler warns about.
    typedef float F __attribute__((vector_size(32)));
    typedef int32_t I __attribute__((vector_size(32)));

    static uint32_t laneBits(I m) { return (uint32_t)_mm256_movemask_ps((__m256)m); }

    static F load(const float* p) { return _mm256_load_ps(p); }
    static F loadu(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, F v) { _mm256_store_ps(p, v); }
    static void storeu(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F set1(float v) { return _mm256_set1_ps(v); }
    static F abs(F v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }

    __attribute__((always_inline)) static void transpose(F* r) { transpose8x8(reinterpret_cast<__m256*>(r)); }
    static void loadColumns8(const float* const* rows, F* cols) {
        for (int i = 0; i < 8; ++i) cols[i] = _mm256_loadu_ps(rows[i]);
        transpose(cols);
    }
    static void storeColumns8(const F* cols, float* const* rows, uint32_t count) {
        F r[8] = {cols[0], cols[1], cols[2], cols[3], cols[4], cols[5], cols[6], cols[7]};
        transpose(r);
        for (uint32_t i = 0; i < count; ++i) _mm256_storeu_ps(rows[i], r[i]);
    }
    static F addToLowWord(F v, uint32_t k) {
        return _mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(v), _mm256_set1_epi32((int)k)));
    }
    static void truncate(F r, int32_t* whole) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(whole), _mm256_cvttps_epi32(r));
    }
    // Positions lie in [1, 32000): truncation is exact and so is r - trunc(r).
    static F split(F r, int32_t* whole) {
        const __m256i i = _mm256_cvttps_epi32(r);
        _mm256_store_si256(reinterpret_cast<__m256i*>(whole), i);
        return r - _mm256_cvtepi32_ps(i);
    }

    static F interpolate(const float* window, F r, int32_t base) {
        const __m256i whole = _mm256_cvttps_epi32(r);
        const F frac = r - _mm256_cvtepi32_ps(whole);
        const __m256i idx = _mm256_sub_epi32(whole, _mm256_set1_epi32(base));
        const F a = Lookup::lookup(window, idx);
        const F b = Lookup::lookup(window + 1, idx);
        return a + frac * (b - a);
    }
};

}  // namespace
