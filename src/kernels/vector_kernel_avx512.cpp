// The unit bank's vector kernel for CPUs with AVX-512: eight units per
// 256-bit vector, with AVX-512's two-table lookup and masked stores, and its
// 32 registers. Sixteen lanes of 512 bits measured slower on the
// development machines: their 16 x 16 transposes cost more than they save.
// Reached only after the CPU check; FMA stays off, so no multiply-add is
// fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512vl")
#endif

#include <immintrin.h>

#include "kernels/vector_kernel_avx512.h"

#include "kernels/vector_kernel.h"
#include "kernels/ymm_lanes.h"

namespace {

struct Avx512Isa {
    // {lo, hi}[idx] for idx in [0, 16) in one instruction.
    static YmmFloats lookup(YmmFloats lo, YmmFloats hi, YmmInts idx) {
        return (YmmFloats)_mm256_permutex2var_ps((__m256)lo, (__m256i)idx, (__m256)hi);
    }
    static void storeFirst(float* p, YmmFloats v, uint32_t lanes) {
        _mm256_mask_storeu_ps(p, (__mmask8)lanes, (__m256)v);
    }
};

}  // namespace

void runUnitsAvx512(const VectorUnitJob& job) { runVectorUnits<YmmLanes<Avx512Isa>>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
