#include <gtest/gtest.h>

#include <vector>

#include "shell/float_mode.h"
#include "shell/plugin_instance.h"
#include "support/plugin_rig.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <xmmintrin.h>

#include "support/mxcsr_bits.h"

// A caller whose mode differs in every respect the engine cares about:
// rounding toward zero, denormals-are-zero on, flush-to-zero off, one
// exception unmasked and some sticky flags raised.
TEST(FloatMode, EnterSetsTheEngineModeAndLeaveRestoresTheCallersExactly) {
    ControlWordGuard guard;
    const uint32_t caller = (kMxcsrExceptionMasks & ~kMxcsrDivideByZeroMask) | kMxcsrDenormalsAreZero | kMxcsrRoundTowardZero | 0x21u;
    _mm_setcsr(caller);
    const FloatModeSave save = enterEngineFloatMode();
    const uint32_t inside = _mm_getcsr();
    EXPECT_EQ(inside & kMxcsrExceptionMasks, kMxcsrExceptionMasks) << std::hex << inside;
    EXPECT_EQ(inside & kMxcsrFlushToZero, kMxcsrFlushToZero);
    EXPECT_EQ(inside & kMxcsrDenormalsAreZero, 0u);
    EXPECT_EQ(inside & kMxcsrRoundingBits, 0u) << "round to nearest";
    EXPECT_EQ(inside & kMxcsrStickyFlags, caller & kMxcsrStickyFlags) << "status flags are the caller's";
    EXPECT_EQ(inside & ~kMxcsrStickyFlags, engineFloatModeWord());
    EXPECT_EQ(subnormalProduct(), 0.0f);
    leaveEngineFloatMode(save);
    EXPECT_EQ(_mm_getcsr(), caller);
}

// run enters the engine mode itself: a division by a zero cutoff inside the
// control stage would trap with the caller's unmasked exception, and the
// caller gets its exact control word back afterwards.
TEST(FloatMode, RunComputesMaskedAndHandsTheCallersModeBack) {
    PluginRig rig;
    rig.controls[PortCutoffFirst] = 0.0f;
    rig.controls[PortDecayFirst] = 0.0f;
    const float input[64] = {1.0f};
    ControlWordGuard guard;
    const uint32_t caller = (kMxcsrExceptionMasks & ~kMxcsrDivideByZeroMask) | kMxcsrDenormalsAreZero | kMxcsrRoundTowardZero;
    _mm_setcsr(caller);
    rig.run(input, 64);
    rig.run(input, 0);
    const uint32_t after = _mm_getcsr();
    _mm_setcsr(guard.saved);
    EXPECT_EQ(after, caller) << std::hex << after;
}

// Loading the library sets no mode, so instantiate computes its defaults in
// the engine's mode itself: every caller's mode gives the same engine bits
// (a host rate that rounds up to the next float included) and is handed
// back exactly.
TEST(FloatMode, InstantiateGivesTheSameStateInAnyCallersModeAndHandsItBack) {
    ControlWordGuard guard;
    const uint32_t callers[] = {
        kMxcsrExceptionMasks,
        engineFloatModeWord(),
        (kMxcsrExceptionMasks & ~kMxcsrDivideByZeroMask) | kMxcsrDenormalsAreZero | kMxcsrRoundTowardZero | 0x21u,
    };
    std::vector<unsigned char> reference;
    for (uint32_t caller : callers) {
        SCOPED_TRACE(caller);
        _mm_setcsr(caller);
        PluginInstance* self = createPluginInstance(48000.003);
        const uint32_t after = _mm_getcsr();
        _mm_setcsr(guard.saved);
        ASSERT_NE(self, nullptr);
        EXPECT_EQ(after, caller) << std::hex << after;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(self->engine);
        const std::vector<unsigned char> state(bytes, bytes + sizeof(EngineState));
        destroyPluginInstance(self);
        if (reference.empty()) reference = state;
        EXPECT_TRUE(state == reference) << "the engine differs from the one made in the first mode";
    }
}

#else

TEST(FloatMode, EnterAndLeaveAreHarmlessWithoutAControlWord) {
    const FloatModeSave save = enterEngineFloatMode();
    leaveEngineFloatMode(save);
    EXPECT_EQ(engineFloatModeWord(), 0u);
}

#endif
