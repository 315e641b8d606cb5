// The unit bank's vector kernel with eight units per AVX2 vector. Reached
// only after the CPU check; FMA stays off, so no multiply-add is fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include <immintrin.h>

#include "kernels/vector_kernel_avx2.h"

#include "kernels/vector_kernel.h"
#include "kernels/ymm_lanes.h"

namespace {

struct Avx2Isa {
    // {lo, hi}[idx] for idx in [0, 16): two 8-entry lookups and a blend.
    static YmmFloats lookup(YmmFloats lo, YmmFloats hi, YmmInts idx) {
        const __m256 a = _mm256_permutevar8x32_ps((__m256)lo, (__m256i)idx);
        const __m256 b = _mm256_permutevar8x32_ps((__m256)hi, (__m256i)idx);
        return (YmmFloats)_mm256_blendv_ps(a, b, _mm256_castsi256_ps(_mm256_cmpgt_epi32((__m256i)idx, _mm256_set1_epi32(7))));
    }
    // The chosen lanes, the others written back as they were (AMD's masked
    // stores are slow).
    static void storeFirst(float* p, YmmFloats v, uint32_t lanes) {
        if (lanes == 0xFFu) return _mm256_storeu_ps(p, (__m256)v);
        _mm256_storeu_ps(p, (__m256)YmmLanes<Avx2Isa>::select(YmmLanes<Avx2Isa>::laneMask(lanes), v,
                                                              (YmmFloats)_mm256_loadu_ps(p)));
    }
};

}  // namespace

void runUnitsAvx2(const VectorUnitJob& job) { runVectorUnits<YmmLanes<Avx2Isa>>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
