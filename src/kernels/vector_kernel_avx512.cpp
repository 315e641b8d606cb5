// The unit bank's vector kernel for CPUs with AVX-512: eight units per
// 256-bit vector, with AVX-512's two-table lookup and its 32 registers.
// Sixteen lanes of 512 bits measured slower on the development machines
// (AMD Zen 4 runs each 512-bit operation as two 256-bit halves, so wider
// lanes only add 16 x 16 transposes and loads that straddle cache lines).
// Reached only after the CPU check; FMA stays off, so no multiply-add is
// fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512vl")
#endif

#include <immintrin.h>

#include "kernels/vector_kernel.h"
#include "kernels/ymm_lanes.h"

namespace {

// window[idx] for idx in [0, 16) in one instruction.
struct TwoTablePermute {
    static __m256 lookup(const float* window, __m256i idx) {
        return _mm256_permutex2var_ps(_mm256_loadu_ps(window), idx, _mm256_loadu_ps(window + 8));
    }
};

struct Avx512 : YmmLanes<TwoTablePermute> {
    static constexpr uint32_t kGroup = 3;
};

}  // namespace

void runUnitsAvx512(const VectorUnitJob& job) { runVectorUnits<Avx512>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
