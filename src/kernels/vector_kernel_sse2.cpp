// The unit bank's vector kernel with four units per SSE2 vector: the x86-64
// baseline, so it needs no CPU check. SSE2 has no lane lookup: ring reads
// are scalar loads, lane by lane.
#if defined(__x86_64__)

#include <emmintrin.h>

#include "kernels/lane_by_lane.h"
#include "kernels/vector_kernel_sse2.h"

#include "kernels/vector_kernel.h"

namespace {

struct XmmLanes {
    static constexpr uint32_t W = 4;
    static constexpr uint32_t kAllLanes = 0xFu;
    static constexpr uint32_t kFuseGroup = 3;
    static constexpr uint32_t kFeedbackGroup = 3;
    static constexpr bool kLookup = false;
    // The plain vector types (see ymm_lanes.h).
    typedef float F __attribute__((vector_size(16)));
    typedef int32_t I __attribute__((vector_size(16)));

    static F set1(float v) { return (F)_mm_set1_ps(v); }
    static I set1i(int32_t v) { return (I)_mm_set1_epi32(v); }
    static F loadu(const float* p) { return (F)_mm_loadu_ps(p); }
    static void storeu(float* p, F v) { _mm_storeu_ps(p, (__m128)v); }
    static I loadiu(const int32_t* p) { return (I)_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void storeiu(int32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), (__m128i)v); }
    static uint32_t bits(I m) { return (uint32_t)_mm_movemask_ps((__m128)m); }
    static I laneMask(uint32_t b) {
        const __m128i bit = _mm_setr_epi32(1, 2, 4, 8);
        return (I)_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32((int)b), bit), bit);
    }
    static F select(I m, F a, F b) {
        return (F)_mm_or_ps(_mm_and_ps((__m128)m, (__m128)a), _mm_andnot_ps((__m128)m, (__m128)b));
    }
    static I selecti(I m, I a, I b) {
        return (I)_mm_or_si128(_mm_and_si128((__m128i)m, (__m128i)a), _mm_andnot_si128((__m128i)m, (__m128i)b));
    }
    // v >= limit ? v - amount : v.
    static F subWhere(F v, float limit, float amount) {
        const __m128 at = _mm_cmpge_ps((__m128)v, _mm_set1_ps(limit));
        return (F)_mm_sub_ps((__m128)v, _mm_and_ps(at, _mm_set1_ps(amount)));
    }
    static I subWherei(I v, int32_t limit, int32_t amount) {
        const __m128i at = _mm_cmpgt_epi32((__m128i)v, _mm_set1_epi32(limit - 1));
        return (I)_mm_sub_epi32((__m128i)v, _mm_and_si128(at, _mm_set1_epi32(amount)));
    }
    static F abs(F v) { return (F)_mm_andnot_ps(_mm_set1_ps(-0.0f), (__m128)v); }
    static F min(F a, F b) { return (F)_mm_min_ps((__m128)a, (__m128)b); }
    static F max(F a, F b) { return (F)_mm_max_ps((__m128)a, (__m128)b); }
    static I mini(I a, I b) { return selecti(a < b, a, b); }
    static I maxi(I a, I b) { return selecti(a > b, a, b); }
    static I cvtt(F v) { return (I)_mm_cvttps_epi32((__m128)v); }
    static F cvt(I v) { return (F)_mm_cvtepi32_ps((__m128i)v); }

    static F loadLanes(const float* p, uint32_t stride) {
        if (stride == 1) return loadu(p);
        return (F)_mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 4), 0x88);
    }
    static void storeLanes(float* p, uint32_t stride, F v, uint32_t lanes) {
        if (stride == 1) return storeu(p, select(laneMask(lanes), v, loadu(p)));
        const uint32_t low = (lanes & 1u) | (lanes & 2u) << 1, high = (lanes >> 2 & 1u) | (lanes >> 3 & 1u) << 2;
        storeu(p, select(laneMask(low), (F)_mm_unpacklo_ps((__m128)v, (__m128)v), loadu(p)));
        storeu(p + 4, select(laneMask(high), (F)_mm_unpackhi_ps((__m128)v, (__m128)v), loadu(p + 4)));
    }
    static I loadIndexLanes(const uint64_t* p, uint32_t stride, uint32_t& wide) {
        alignas(16) int32_t words[W];
        wide = lowWordsByLane<W>(p, stride, words);
        return loadiu(words);
    }
    static void storeIndexLanes(uint64_t* p, uint32_t stride, I v, uint32_t lanes) {
        storeIndexByLane<W>(p, stride, reinterpret_cast<const int32_t*>(&v), lanes);
    }
    static uint32_t nonZero64(const uint64_t* p, uint32_t stride) { return nonZeroByLane<W>(p, stride); }
    static uint32_t nonZeroBytes(const bool* p, uint32_t stride) { return nonZeroByLane<W>(p, stride); }
    static F gather(const float* base, I idx, uint32_t lanes) {
        alignas(16) float values[W];
        gatherByLane<W>(base, reinterpret_cast<const int32_t*>(&idx), lanes, values);
        return loadu(values);
    }
    static void scatter(float* base, I idx, F v, uint32_t lanes) {
        scatterByLane<W>(base, reinterpret_cast<const int32_t*>(&idx), reinterpret_cast<const float*>(&v), lanes);
    }
    static void gatherPair(const float* base, I idx, uint32_t lanes, F& a, F& b) {
        a = gather(base, idx, lanes);
        b = gather(base + 1, idx, lanes);
    }
    static F lookup(F, F, I) { return F{}; }  // never used: kLookup is false
    static void storeSamples(float* p, F v, uint32_t count) {
        if (count >= W) return storeu(p, v);
        alignas(16) float values[W];
        storeu(values, v);
        for (uint32_t i = 0; i < count; ++i) p[i] = values[i];
    }
    // Rings are padded to whole vectors, so a tap's last run may read past n.
    static F loadSamples(const float* p, uint32_t) { return loadu(p); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_NTA); }
    static void transpose(F* rows) {
        __m128 r0 = (__m128)rows[0], r1 = (__m128)rows[1], r2 = (__m128)rows[2], r3 = (__m128)rows[3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        rows[0] = (F)r0, rows[1] = (F)r1, rows[2] = (F)r2, rows[3] = (F)r3;
    }
};

}  // namespace

void runUnitsSse2(const VectorUnitJob& job) { runVectorUnits<XmmLanes>(job); }

#endif
