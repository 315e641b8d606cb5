// The unit bank's vector kernel with eight units per AVX2 vector. Reached
// only after the CPU check; FMA stays off, so no multiply-add is fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include <immintrin.h>

#include "kernels/vector_kernel.h"
#include "kernels/ymm_lanes.h"

namespace {

// window[idx] for idx in [0, 16): two 8-entry lookups and a blend.
struct TwoPermutes {
    static __m256 lookup(const float* window, __m256i idx) {
        const __m256 low = _mm256_permutevar8x32_ps(_mm256_loadu_ps(window), idx);
        const __m256 high = _mm256_permutevar8x32_ps(_mm256_loadu_ps(window + 8), idx);
        const __m256i upper = _mm256_cmpgt_epi32(idx, _mm256_set1_epi32(7));
        return _mm256_blendv_ps(low, high, _mm256_castsi256_ps(upper));
    }
};

struct Avx2 : YmmLanes<TwoPermutes> {
    static constexpr uint32_t kGroup = 2;
};

}  // namespace

void runUnitsAvx2(const VectorUnitJob& job) { runVectorUnits<Avx2>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
