// The unit bank's vector kernel with four units per SSE2 vector: the x86-64
// baseline, so it needs no CPU check. SSE2 has no lane lookup, so ring reads
// are scalar loads.
#if defined(__x86_64__)

#include <emmintrin.h>

#include "kernels/vector_kernel.h"

namespace {

struct Sse2 {
    static constexpr uint32_t W = 4;
    static constexpr uint32_t kGroup = 2;
    static constexpr uint32_t kTile = 4;
    static constexpr uint32_t kTable = 0;
    // The plain vector type (see vector_kernel_avx2.cpp).
    typedef float F __attribute__((vector_size(16)));
    typedef int32_t I __attribute__((vector_size(16)));

    static uint32_t laneBits(I m) { return (uint32_t)_mm_movemask_ps((__m128)m); }

    static F load(const float* p) { return _mm_load_ps(p); }
    static F loadu(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, F v) { _mm_store_ps(p, v); }
    static void storeu(float* p, F v) { _mm_storeu_ps(p, v); }
    static F set1(float v) { return _mm_set1_ps(v); }
    static F abs(F v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }
    static void transpose(F* rows) {
        __m128 r0 = rows[0], r1 = rows[1], r2 = rows[2], r3 = rows[3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        rows[0] = r0, rows[1] = r1, rows[2] = r2, rows[3] = r3;
    }
    static void loadColumns8(const float* const* rows, F* cols) {
        for (int i = 0; i < 4; ++i) {
            cols[i] = _mm_loadu_ps(rows[i]);
            cols[4 + i] = _mm_loadu_ps(rows[i] + 4);
        }
        transpose(cols);
        transpose(cols + 4);
    }
    static void storeColumns8(const F* cols, float* const* rows, uint32_t count) {
        F low[4] = {cols[0], cols[1], cols[2], cols[3]};
        F high[4] = {cols[4], cols[5], cols[6], cols[7]};
        transpose(low);
        transpose(high);
        for (uint32_t i = 0; i < count; ++i) {
            _mm_storeu_ps(rows[i], low[i]);
            _mm_storeu_ps(rows[i] + 4, high[i]);
        }
    }
    static F addToLowWord(F v, uint32_t k) {
        return _mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(v), _mm_set1_epi32((int)k)));
    }
    // Positions lie in [1, 32000): truncation is exact and so is r - trunc(r).
    static F split(F r, int32_t* whole) {
        const __m128i i = _mm_cvttps_epi32(r);
        _mm_store_si128(reinterpret_cast<__m128i*>(whole), i);
        return r - _mm_cvtepi32_ps(i);
    }
};

}  // namespace

void runUnitsSse2(const VectorUnitJob& job) { runVectorUnits<Sse2>(job); }

#endif
