// Sixteen units per 512-bit vector: the lane traits (see vector_kernel.h)
// of the AVX-512 kernel. Include only after enabling AVX-512 (F, VL, DQ,
// BW); internal linkage keeps it out of the baseline code.
#pragma once

#include <immintrin.h>
#include <stdint.h>

#include "kernels/lane_by_lane.h"

namespace {

typedef float ZmmFloats __attribute__((vector_size(64)));
typedef int32_t ZmmInts __attribute__((vector_size(64)));

struct ZmmLanes {
    static constexpr uint32_t W = 16;
    static constexpr uint32_t kAllLanes = 0xFFFFu;
    static constexpr uint32_t kFuseGroup = 3;
    static constexpr uint32_t kFeedbackGroup = 3;
    static constexpr bool kLookup = true;
    typedef ZmmFloats F;
    typedef ZmmInts I;

    static F set1(float v) { return (F)_mm512_set1_ps(v); }
    static I set1i(int32_t v) { return (I)_mm512_set1_epi32(v); }
    static F loadu(const float* p) { return (F)_mm512_loadu_ps(p); }
    static void storeu(float* p, F v) { _mm512_storeu_ps(p, (__m512)v); }
    static I loadiu(const int32_t* p) { return (I)_mm512_loadu_si512(p); }
    static void storeiu(int32_t* p, I v) { _mm512_storeu_si512(p, (__m512i)v); }
    static uint32_t bits(I m) { return (uint32_t)_mm512_movepi32_mask((__m512i)m); }
    static I laneMask(uint32_t b) { return (I)_mm512_movm_epi32((__mmask16)b); }
    static F select(I m, F a, F b) { return (F)_mm512_mask_blend_ps(_mm512_movepi32_mask((__m512i)m), (__m512)b, (__m512)a); }
    static I selecti(I m, I a, I b) {
        return (I)_mm512_mask_blend_epi32(_mm512_movepi32_mask((__m512i)m), (__m512i)b, (__m512i)a);
    }
    // v >= limit ? v - amount : v, in two instructions.
    static F subWhere(F v, float limit, float amount) {
        const __mmask16 at = _mm512_cmp_ps_mask((__m512)v, _mm512_set1_ps(limit), _CMP_GE_OQ);
        return (F)_mm512_mask_sub_ps((__m512)v, at, (__m512)v, _mm512_set1_ps(amount));
    }
    static I subWherei(I v, int32_t limit, int32_t amount) {
        const __mmask16 at = _mm512_cmpge_epi32_mask((__m512i)v, _mm512_set1_epi32(limit));
        return (I)_mm512_mask_sub_epi32((__m512i)v, at, (__m512i)v, _mm512_set1_epi32(amount));
    }
    static F abs(F v) { return (F)_mm512_abs_ps((__m512)v); }
    static F min(F a, F b) { return (F)_mm512_min_ps((__m512)a, (__m512)b); }
    static F max(F a, F b) { return (F)_mm512_max_ps((__m512)a, (__m512)b); }
    static I mini(I a, I b) { return (I)_mm512_min_epi32((__m512i)a, (__m512i)b); }
    static I maxi(I a, I b) { return (I)_mm512_max_epi32((__m512i)a, (__m512i)b); }
    static I cvtt(F v) { return (I)_mm512_cvttps_epi32((__m512)v); }
    static F cvt(I v) { return (F)_mm512_cvtepi32_ps((__m512i)v); }

    // Lanes i = 0..15 from p[i * stride], stride 1 or 2.
    static F loadLanes(const float* p, uint32_t stride) {
        if (stride == 1) return loadu(p);
        const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        return (F)_mm512_permutex2var_ps(_mm512_loadu_ps(p), even, _mm512_loadu_ps(p + 16));
    }
    static void storeLanes(float* p, uint32_t stride, F v, uint32_t lanes) {
        // Every lane: a plain store, which the masked one costs more than.
        if (stride == 1 && lanes == kAllLanes) return storeu(p, v);
        if (stride == 1) return _mm512_mask_storeu_ps(p, (__mmask16)lanes, (__m512)v);
        const __m512i low = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
        const __m512i high = _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
        _mm512_mask_storeu_ps(p, (__mmask16)spreadToEven(lanes & 0xFFu), _mm512_permutexvar_ps(low, (__m512)v));
        _mm512_mask_storeu_ps(p + 16, (__mmask16)spreadToEven(lanes >> 8), _mm512_permutexvar_ps(high, (__m512)v));
    }
    static uint32_t spreadToEven(uint32_t m) {
        m = (m | m << 4) & 0x0F0Fu;
        m = (m | m << 2) & 0x3333u;
        return (m | m << 1) & 0x5555u;
    }
    static uint32_t evenBits(uint32_t m) {
        m &= 0x55555555u;
        m = (m | m >> 1) & 0x33333333u;
        m = (m | m >> 2) & 0x0F0F0F0Fu;
        m = (m | m >> 4) & 0x00FF00FFu;
        return (m | m >> 8) & 0x0000FFFFu;
    }
    // The low words of 64-bit fields; `wide` gets the lanes of 2^31 and above.
    static I loadIndexLanes(const uint64_t* p, uint32_t stride, uint32_t& wide) {
        __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + 8);
        if (stride != 1) {
            const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
            a = _mm512_permutex2var_epi64(a, even, b);
            b = _mm512_permutex2var_epi64(_mm512_loadu_si512(p + 16), even, _mm512_loadu_si512(p + 24));
        }
        const __m512i limit = _mm512_set1_epi64(INT32_MAX);
        wide = (uint32_t)_mm512_cmpgt_epu64_mask(a, limit) | (uint32_t)_mm512_cmpgt_epu64_mask(b, limit) << 8;
        return (I)_mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi64_epi32(a)), _mm512_cvtepi64_epi32(b), 1);
    }
    // Non-negative words into the chosen lanes' 64-bit fields.
    static void storeIndexLanes(uint64_t* p, uint32_t stride, I v, uint32_t lanes) {
        if (stride != 1) return storeIndexByLane<W>(p, stride, reinterpret_cast<const int32_t*>(&v), lanes);
        const __m512i words = (__m512i)v;
        if (lanes == kAllLanes) {
            _mm512_storeu_si512(p, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(words)));
            return _mm512_storeu_si512(p + 8, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(words, 1)));
        }
        _mm512_mask_storeu_epi64(p, (__mmask8)lanes, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(words)));
        _mm512_mask_storeu_epi64(p + 8, (__mmask8)(lanes >> 8), _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(words, 1)));
    }
    static uint32_t nonZero64(const uint64_t* p, uint32_t stride) {
        const uint32_t low = (uint32_t)_mm512_test_epi64_mask(_mm512_loadu_si512(p), _mm512_loadu_si512(p));
        const uint32_t high = (uint32_t)_mm512_test_epi64_mask(_mm512_loadu_si512(p + 8), _mm512_loadu_si512(p + 8));
        if (stride == 1) return low | high << 8;
        const uint32_t higher = (uint32_t)_mm512_test_epi64_mask(_mm512_loadu_si512(p + 16), _mm512_loadu_si512(p + 16));
        const uint32_t highest = (uint32_t)_mm512_test_epi64_mask(_mm512_loadu_si512(p + 24), _mm512_loadu_si512(p + 24));
        return evenBits(low | high << 8 | higher << 16 | highest << 24);
    }
    static uint32_t nonZeroBytes(const bool* p, uint32_t stride) {
        if (stride == 1) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            return (uint32_t)_mm_test_epi8_mask(bytes, bytes);
        }
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        return evenBits((uint32_t)_mm256_test_epi8_mask(bytes, bytes));
    }
    // {lo, hi}[idx] for idx in [0, 32).
    static F lookup(F lo, F hi, I idx) { return (F)_mm512_permutex2var_ps((__m512)lo, (__m512i)idx, (__m512)hi); }
    // base[idx] in the chosen lanes, 0 in the others (which load nothing).
    static F gather(const float* base, I idx, uint32_t lanes) {
        return (F)_mm512_mask_i32gather_ps(_mm512_setzero_ps(), (__mmask16)lanes, (__m512i)idx, base, 4);
    }
    // v into base[idx] in the chosen lanes (no two of which share an index).
    static void scatter(float* base, I idx, F v, uint32_t lanes) {
        _mm512_mask_i32scatter_ps(base, (__mmask16)lanes, (__m512i)idx, (__m512)v, 4);
    }
    // base[idx] into a and base[idx + 1] into b: each pair in one 64-bit
    // element, so half as many elements as two gathers.
    static void gatherPair(const float* base, I idx, uint32_t lanes, F& a, F& b) {
        const __m512i zero = _mm512_setzero_si512();
        const __m512i low =
            _mm512_mask_i32gather_epi64(zero, (__mmask8)lanes, _mm512_castsi512_si256((__m512i)idx), base, 4);
        const __m512i high =
            _mm512_mask_i32gather_epi64(zero, (__mmask8)(lanes >> 8), _mm512_extracti64x4_epi64((__m512i)idx, 1), base, 4);
        const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
        a = (F)_mm512_permutex2var_ps(_mm512_castsi512_ps(low), even, _mm512_castsi512_ps(high));
        b = (F)_mm512_permutex2var_ps(_mm512_castsi512_ps(low), odd, _mm512_castsi512_ps(high));
    }
    static void storeSamples(float* p, F v, uint32_t count) {
        if (count >= W) return storeu(p, v);
        _mm512_mask_storeu_ps(p, (__mmask16)((1u << count) - 1u), (__m512)v);
    }
    // Rings are padded to whole vectors, so a tap's last run may read past n.
    static F loadSamples(const float* p, uint32_t) { return loadu(p); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_NTA); }

    // 16 x 16 in place: pairs of rows interleaved by floats, then by pairs,
    // then by 128-bit quarters twice.
    __attribute__((always_inline)) static void transpose(F* rows) {
        __m512* r = reinterpret_cast<__m512*>(rows);
        __m512 t[16], u[16];
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            t[2 * k] = _mm512_unpacklo_ps(r[2 * k], r[2 * k + 1]);
            t[2 * k + 1] = _mm512_unpackhi_ps(r[2 * k], r[2 * k + 1]);
        }
        // u[4k + c]: element c + 4m of rows 4k .. 4k + 3 in quarter m.
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            const __m512d a = _mm512_castps_pd(t[4 * k]), b = _mm512_castps_pd(t[4 * k + 1]);
            const __m512d c = _mm512_castps_pd(t[4 * k + 2]), d = _mm512_castps_pd(t[4 * k + 3]);
            u[4 * k] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
            u[4 * k + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
            u[4 * k + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
            u[4 * k + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
        }
#pragma GCC unroll 4
        for (int c = 0; c < 4; ++c) {
            const __m512 v0 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0x88);
            const __m512 v1 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0xDD);
            const __m512 v2 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0x88);
            const __m512 v3 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0xDD);
            r[c] = _mm512_shuffle_f32x4(v0, v2, 0x88);
            r[c + 8] = _mm512_shuffle_f32x4(v0, v2, 0xDD);
            r[c + 4] = _mm512_shuffle_f32x4(v1, v3, 0x88);
            r[c + 12] = _mm512_shuffle_f32x4(v1, v3, 0xDD);
        }
    }
};

}  // namespace
