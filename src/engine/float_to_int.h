// Float-to-integer conversions for values that come from host ports. A plain
// C++ cast of NaN, infinity or an out-of-range float is undefined behaviour;
// these truncate toward zero and saturate at the type's limits instead.
#pragma once

#include <stdint.h>

// Truncation toward zero; negative values and NaN give 0; values at or above
// 2^64 give the largest uint64_t.
inline uint64_t truncateToU64(float v) {
    if (!(v > 0.0f)) return 0;                   // negatives, zero and NaN
    if (v >= 18446744073709551616.0f) return UINT64_MAX;  // 2^64
    return static_cast<uint64_t>(v);
}

// Truncation toward zero, saturating at INT32_MIN and INT32_MAX; NaN gives 0.
inline int32_t truncateToI32(float v) {
    if (v != v) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;    // 2^31
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}
