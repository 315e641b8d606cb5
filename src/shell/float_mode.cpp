#include "shell/float_mode.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <xmmintrin.h>

namespace {
constexpr uint32_t kExceptionMasks = 0x1F80u;  // all six exceptions masked
constexpr uint32_t kFlushToZero = 0x8000u;      // FTZ; DAZ (0x40) stays off, rounding bits 0 = nearest
}  // namespace

uint32_t engineFloatModeWord() { return kExceptionMasks | kFlushToZero; }

FloatModeSave enterEngineFloatMode() {
    FloatModeSave save{_mm_getcsr()};
    // Keep the caller's sticky exception flags; they are status, not mode.
    _mm_setcsr(engineFloatModeWord() | (save.saved & 0x3Fu));
    return save;
}

void leaveEngineFloatMode(FloatModeSave save) { _mm_setcsr(save.saved); }

#else
// Elsewhere the default floating-point environment is used as it is.
uint32_t engineFloatModeWord() { return 0; }
FloatModeSave enterEngineFloatMode() { return FloatModeSave{0}; }
void leaveEngineFloatMode(FloatModeSave) {}
#endif
