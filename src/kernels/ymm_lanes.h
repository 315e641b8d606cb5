// Eight units per 256-bit vector: the lane traits (see vector_kernel.h)
// that the AVX2 and the AVX-512 kernels share. Isa supplies what differs:
// lookup(lo, hi, idx), and stores of chosen lanes, storeFirst(p, v, bits).
// Include only after
// enabling AVX2; internal linkage keeps it out of the baseline code.
#pragma once

#include <immintrin.h>
#include <stdint.h>

#include "kernels/lane_by_lane.h"

namespace {

typedef float YmmFloats __attribute__((vector_size(32)));
typedef int32_t YmmInts __attribute__((vector_size(32)));

template <class Isa>
struct YmmLanes {
    static constexpr uint32_t W = 8;
    static constexpr uint32_t kAllLanes = 0xFFu;
    static constexpr uint32_t kFuseGroup = 5;
    static constexpr uint32_t kFeedbackGroup = 5;
    static constexpr bool kLookup = true;
    // The plain vector types: __m256 itself would lose its may_alias
    // attribute as a template argument, which the compiler warns about.
    typedef YmmFloats F;
    typedef YmmInts I;

    static F set1(float v) { return (F)_mm256_set1_ps(v); }
    static I set1i(int32_t v) { return (I)_mm256_set1_epi32(v); }
    static F loadu(const float* p) { return (F)_mm256_loadu_ps(p); }
    static void storeu(float* p, F v) { _mm256_storeu_ps(p, (__m256)v); }
    static I loadiu(const int32_t* p) { return (I)_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void storeiu(int32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), (__m256i)v); }
    static uint32_t bits(I m) { return (uint32_t)_mm256_movemask_ps((__m256)m); }
    static I laneMask(uint32_t b) {
        const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
        return (I)_mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32((int)b), bit), bit);
    }
    static F select(I m, F a, F b) { return (F)_mm256_blendv_ps((__m256)b, (__m256)a, (__m256)m); }
    static I selecti(I m, I a, I b) { return (I)_mm256_blendv_epi8((__m256i)b, (__m256i)a, (__m256i)m); }
    // v >= limit ? v - amount : v.
    static F subWhere(F v, float limit, float amount) {
        const __m256 at = _mm256_cmp_ps((__m256)v, _mm256_set1_ps(limit), _CMP_GE_OQ);
        return (F)_mm256_sub_ps((__m256)v, _mm256_and_ps(at, _mm256_set1_ps(amount)));
    }
    static I subWherei(I v, int32_t limit, int32_t amount) {
        const __m256i at = _mm256_cmpgt_epi32((__m256i)v, _mm256_set1_epi32(limit - 1));
        return (I)_mm256_sub_epi32((__m256i)v, _mm256_and_si256(at, _mm256_set1_epi32(amount)));
    }
    static F abs(F v) { return (F)_mm256_andnot_ps(_mm256_set1_ps(-0.0f), (__m256)v); }
    static F min(F a, F b) { return (F)_mm256_min_ps((__m256)a, (__m256)b); }
    static F max(F a, F b) { return (F)_mm256_max_ps((__m256)a, (__m256)b); }
    static I mini(I a, I b) { return (I)_mm256_min_epi32((__m256i)a, (__m256i)b); }
    static I maxi(I a, I b) { return (I)_mm256_max_epi32((__m256i)a, (__m256i)b); }
    static I cvtt(F v) { return (I)_mm256_cvttps_epi32((__m256)v); }
    static F cvt(I v) { return (F)_mm256_cvtepi32_ps((__m256i)v); }

    // Lanes i = 0..7 from p[i * stride], stride 1 or 2.
    static F loadLanes(const float* p, uint32_t stride) {
        if (stride == 1) return loadu(p);
        const __m256 even = _mm256_shuffle_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8), 0x88);
        return (F)_mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(even), 0xD8));
    }
    static void storeLanes(float* p, uint32_t stride, F v, uint32_t lanes) {
        if (stride == 1) return Isa::storeFirst(p, v, lanes);
        const __m256i low = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
        const __m256i high = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
        Isa::storeFirst(p, (F)_mm256_permutevar8x32_ps((__m256)v, low), spreadToEven(lanes & 0xFu));
        Isa::storeFirst(p + 8, (F)_mm256_permutevar8x32_ps((__m256)v, high), spreadToEven(lanes >> 4));
    }
    static uint32_t spreadToEven(uint32_t m) { return (m & 1u) | (m & 2u) << 1 | (m & 4u) << 2 | (m & 8u) << 3; }
    // The low words of 64-bit fields; `wide` gets the lanes of 2^31 and above.
    static I loadIndexLanes(const uint64_t* p, uint32_t stride, uint32_t& wide) {
        if (stride == 1) {
            const __m256 a = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
            const __m256 b = _mm256_loadu_ps(reinterpret_cast<const float*>(p + 4));
            const __m256i low = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88)), 0xD8);
            const __m256i high = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8);
            const __m256i zero = _mm256_setzero_si256();
            const __m256i big = _mm256_or_si256(_mm256_cmpgt_epi32(zero, low),
                                                _mm256_andnot_si256(_mm256_cmpeq_epi32(high, zero), _mm256_set1_epi32(-1)));
            wide = (uint32_t)_mm256_movemask_ps(_mm256_castsi256_ps(big));
            return (I)low;
        }
        alignas(32) int32_t words[W];
        wide = lowWordsByLane<W>(p, stride, words);
        return loadiu(words);
    }
    // Non-negative words into the chosen lanes' 64-bit fields.
    static void storeIndexLanes(uint64_t* p, uint32_t stride, I v, uint32_t lanes) {
        if (stride != 1 || lanes != kAllLanes) return storeIndexByLane<W>(p, stride, reinterpret_cast<const int32_t*>(&v), lanes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_cvtepu32_epi64(_mm256_castsi256_si128((__m256i)v)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 4), _mm256_cvtepu32_epi64(_mm256_extracti128_si256((__m256i)v, 1)));
    }
    static uint32_t nonZero64(const uint64_t* p, uint32_t stride) {
        if (stride == 1) {
            const __m256i zero = _mm256_setzero_si256();
            const __m256i a = _mm256_cmpeq_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), zero);
            const __m256i b = _mm256_cmpeq_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 4)), zero);
            const uint32_t zeros = (uint32_t)_mm256_movemask_pd(_mm256_castsi256_pd(a)) |
                                   (uint32_t)_mm256_movemask_pd(_mm256_castsi256_pd(b)) << 4;
            return ~zeros & 0xFFu;
        }
        return nonZeroByLane<W>(p, stride);
    }
    static uint32_t nonZeroBytes(const bool* p, uint32_t stride) {
        if (stride == 1) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
            return ~(uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) & 0xFFu;
        }
        return nonZeroByLane<W>(p, stride);
    }
    // base[idx] in the chosen lanes, 0 in the others (which load nothing).
    static F gather(const float* base, I idx, uint32_t lanes) {
        return (F)_mm256_mask_i32gather_ps(_mm256_setzero_ps(), base, (__m256i)idx, (__m256)laneMask(lanes), 4);
    }
    // v into base[idx] in the chosen lanes (no two of which share an index).
    static void scatter(float* base, I idx, F v, uint32_t lanes) {
        scatterByLane<W>(base, reinterpret_cast<const int32_t*>(&idx), reinterpret_cast<const float*>(&v), lanes);
    }
    // base[idx] into a and base[idx + 1] into b: each pair in one 64-bit
    // element, so half as many elements as two gathers.
    static void gatherPair(const float* base, I idx, uint32_t lanes, F& a, F& b) {
        const __m256i wide = _mm256_cvtepi32_epi64(_mm256_castsi256_si128((__m256i)laneMask(lanes)));
        const __m256i wider = _mm256_cvtepi32_epi64(_mm256_extracti128_si256((__m256i)laneMask(lanes), 1));
        const long long* pairs = reinterpret_cast<const long long*>(base);
        const __m256 low = _mm256_castsi256_ps(_mm256_mask_i32gather_epi64(
            _mm256_setzero_si256(), pairs, _mm256_castsi256_si128((__m256i)idx), wide, 4));
        const __m256 high = _mm256_castsi256_ps(_mm256_mask_i32gather_epi64(
            _mm256_setzero_si256(), pairs, _mm256_extracti128_si256((__m256i)idx, 1), wider, 4));
        // Per 128-bit half: a0 a1 a4 a5 | a2 a3 a6 a7, then the quarters in order.
        a = (F)_mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(low, high, 0x88)), 0xD8));
        b = (F)_mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(low, high, 0xDD)), 0xD8));
    }
    static F lookup(F lo, F hi, I idx) { return Isa::lookup(lo, hi, idx); }
    static void storeSamples(float* p, F v, uint32_t count) {
        if (count >= W) return storeu(p, v);
        Isa::storeFirst(p, v, (1u << count) - 1u);
    }
    // Rings are padded to whole vectors, so a tap's last run may read past n.
    static F loadSamples(const float* p, uint32_t) { return loadu(p); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_NTA); }

    __attribute__((always_inline)) static void transpose(F* rows) {
        __m256* r = reinterpret_cast<__m256*>(rows);
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
};

}  // namespace
