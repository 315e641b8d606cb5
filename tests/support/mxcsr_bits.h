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
