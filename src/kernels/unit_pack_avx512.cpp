// The unit bank's vector kernel with sixteen units per AVX-512 vector.
// Reached only after the CPU check; FMA stays off, so no multiply-add is
// fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC target("avx512f")
#endif

// GCC 12's AVX-512 intrinsics start from _mm512_undefined_ps(), a variable
// initialised from itself, which its uninitialised-use warnings flag once
// the intrinsics are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "kernels/transpose8x8.h"
#include "kernels/unit_pack_kernel.h"

namespace {

struct Avx512 {
    static constexpr uint32_t W = 16;
    static constexpr uint32_t kTile = 16;
    static constexpr uint32_t kTable = 32;
    // The plain vector type (see unit_pack_avx2.cpp).
    typedef float F __attribute__((vector_size(64)));
    typedef int32_t I __attribute__((vector_size(64)));

    static uint32_t laneBits(I m) { return (uint32_t)_mm512_test_epi32_mask((__m512i)m, (__m512i)m); }

    static F load(const float* p) { return _mm512_load_ps(p); }
    static F loadu(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, F v) { _mm512_store_ps(p, v); }
    static void storeu(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F set1(float v) { return _mm512_set1_ps(v); }
    static F abs(F v) { return _mm512_abs_ps(v); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }

    __attribute__((always_inline)) static void transpose(F* r) {
        F t[16];
        for (int i = 0; i < 8; ++i) {
            t[2 * i] = _mm512_unpacklo_ps(r[2 * i], r[2 * i + 1]);
            t[2 * i + 1] = _mm512_unpackhi_ps(r[2 * i], r[2 * i + 1]);
        }
        // u[4q + c] holds element c (+4, +8, +12) of rows 4q .. 4q + 3.
        F u[16];
        for (int q = 0; q < 4; ++q) {
            u[4 * q + 0] = _mm512_shuffle_ps(t[4 * q], t[4 * q + 2], 0x44);
            u[4 * q + 1] = _mm512_shuffle_ps(t[4 * q], t[4 * q + 2], 0xEE);
            u[4 * q + 2] = _mm512_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0x44);
            u[4 * q + 3] = _mm512_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0xEE);
        }
        for (int c = 0; c < 4; ++c) {
            const F v0 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0x88);
            const F v1 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0xDD);
            const F v2 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0x88);
            const F v3 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0xDD);
            r[c] = _mm512_shuffle_f32x4(v0, v2, 0x88);
            r[c + 8] = _mm512_shuffle_f32x4(v0, v2, 0xDD);
            r[c + 4] = _mm512_shuffle_f32x4(v1, v3, 0x88);
            r[c + 12] = _mm512_shuffle_f32x4(v1, v3, 0xDD);
        }
    }

    // Two 8 x 8 transposes of 256-bit rows, then the halves side by side.
    static void loadColumns8(const float* const* rows, F* cols) {
        __m256 low[8], high[8];
        for (int i = 0; i < 8; ++i) {
            low[i] = _mm256_loadu_ps(rows[i]);
            high[i] = _mm256_loadu_ps(rows[8 + i]);
        }
        transpose8x8(low);
        transpose8x8(high);
        for (int f = 0; f < 8; ++f) {
            const __m512d wide = _mm512_castps_pd(_mm512_castps256_ps512(low[f]));
            cols[f] = _mm512_castpd_ps(_mm512_insertf64x4(wide, _mm256_castps_pd(high[f]), 1));
        }
    }

    static void storeColumns8(const F* cols, float* const* rows, uint32_t count) {
        __m256 low[8], high[8];
        for (int f = 0; f < 8; ++f) {
            low[f] = _mm512_castps512_ps256(cols[f]);
            high[f] = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(cols[f]), 1));
        }
        transpose8x8(low);
        transpose8x8(high);
        for (uint32_t i = 0; i < count && i < 8; ++i) _mm256_storeu_ps(rows[i], low[i]);
        for (uint32_t i = 8; i < count; ++i) _mm256_storeu_ps(rows[i], high[i - 8]);
    }
    static F addToLowWord(F v, uint32_t k) {
        return _mm512_castsi512_ps(_mm512_add_epi32(_mm512_castps_si512(v), _mm512_set1_epi32((int)k)));
    }
    static void truncate(F r, int32_t* whole) {
        _mm512_store_si512(whole, _mm512_cvttps_epi32(r));
    }

    static F interpolate(const float* window, F r, int32_t base) {
        const __m512i whole = _mm512_cvttps_epi32(r);
        const F frac = r - _mm512_cvtepi32_ps(whole);
        const __m512i idx = _mm512_sub_epi32(whole, _mm512_set1_epi32(base));
        const F low = _mm512_loadu_ps(window);
        const F high = _mm512_loadu_ps(window + 16);
        const F a = _mm512_permutex2var_ps(low, idx, high);
        const F b = _mm512_permutex2var_ps(low, _mm512_add_epi32(idx, _mm512_set1_epi32(1)), high);
        return a + frac * (b - a);
    }
};

}  // namespace

void runUnitsAvx512(const VectorUnitJob& job) { runVectorUnits<Avx512>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
