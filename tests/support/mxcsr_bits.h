// Fields of the x86 SSE control and status register, for tests that set a
// caller's floating-point mode and read back what the plug-in left.
#pragma once

#include <stdint.h>

constexpr uint32_t kMxcsrStickyFlags = 0x003Fu;
constexpr uint32_t kMxcsrDenormalsAreZero = 0x0040u;
constexpr uint32_t kMxcsrExceptionMasks = 0x1F80u;
constexpr uint32_t kMxcsrDivideByZeroMask = 0x0200u;
constexpr uint32_t kMxcsrRoundingBits = 0x6000u;  // 0 is round to nearest
constexpr uint32_t kMxcsrRoundTowardZero = 0x6000u;
constexpr uint32_t kMxcsrFlushToZero = 0x8000u;

#if defined(__x86_64__) || defined(__SSE2__)
#include <xmmintrin.h>

// Restores the test thread's control word whatever a test does to it.
struct ControlWordGuard {
    uint32_t saved = _mm_getcsr();
    ~ControlWordGuard() { _mm_setcsr(saved); }
};
#endif

// 1e-40: subnormal unless the current mode flushes it to zero.
inline float subnormalProduct() {
    volatile float tiny = 1.0e-30f;
    volatile float scale = 1.0e-10f;
    return tiny * scale;
}
