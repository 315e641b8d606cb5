// The unit bank's vector kernel with eight units per AVX2 vector. Reached
// only after the CPU check; FMA stays off, so no multiply-add is fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include <immintrin.h>

#include "kernels/transpose8x8.h"
#include "kernels/unit_pack_kernel.h"

namespace {

struct Avx2 {
    static constexpr uint32_t W = 8;
    static constexpr uint32_t kTile = 8;
    static constexpr uint32_t kTable = 16;
    // The plain vector type: __m256 itself would lose its may_alias attribute
    // as a template argument, which the compiler warns about.
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

    // window[idx] for idx in [0, 16): two 8-entry lookups and a blend.
    static F lookup(const float* window, __m256i idx) {
        const F low = _mm256_permutevar8x32_ps(_mm256_loadu_ps(window), idx);
        const F high = _mm256_permutevar8x32_ps(_mm256_loadu_ps(window + 8), idx);
        const __m256i upper = _mm256_cmpgt_epi32(idx, _mm256_set1_epi32(7));
        return _mm256_blendv_ps(low, high, _mm256_castsi256_ps(upper));
    }

    static F interpolate(const float* window, F r, int32_t base) {
        const __m256i whole = _mm256_cvttps_epi32(r);
        const F frac = r - _mm256_cvtepi32_ps(whole);
        const __m256i idx = _mm256_sub_epi32(whole, _mm256_set1_epi32(base));
        const F a = lookup(window, idx);
        const F b = lookup(window + 1, idx);
        return a + frac * (b - a);
    }
};

}  // namespace

void runUnitsAvx2(const VectorUnitJob& job) { runVectorUnits<Avx2>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
