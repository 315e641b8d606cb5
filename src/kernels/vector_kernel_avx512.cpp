// The unit bank's vector kernel for CPUs with AVX-512: sixteen units per
// 512-bit vector. Reached only after the CPU check; FMA stays off, so no
// multiply-add is fused.
#if defined(__x86_64__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512vl,avx512dq,avx512bw")
#endif

// GCC 12 warns inside its own AVX-512 headers, whose intrinsics pass a
// deliberately undefined vector as the unused merge source (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "kernels/vector_kernel_avx512.h"

#include "kernels/vector_kernel.h"
#include "kernels/zmm_lanes.h"

void runUnitsAvx512(const VectorUnitJob& job) { runVectorUnits<ZmmLanes>(job); }

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
