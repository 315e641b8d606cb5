// A decaying tail passes through the subnormal range on its way to zero,
// where every operation on x86 costs a hundred times more. run() computes
// with flush-to-zero on whatever the host thread's mode, so no subnormal
// may reach the output, a ring or a filter state.
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "support/plugin_rig.h"
#include "unit/harden_engine_scan.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <xmmintrin.h>

#include "support/mxcsr_bits.h"

namespace {

struct Case {
    float routing, filter, decay;
};

TEST(HardenDenormals, ImpulseThenSilenceNeverLeavesASubnormalAnywhere) {
    ControlWordGuard guard;
    _mm_setcsr(kMxcsrExceptionMasks);  // the host computes with subnormals: no flush, no denormals-are-zero
    ASSERT_NE(subnormalProduct(), 0.0f) << "the test thread must really keep subnormals";

    const Case cases[] = {{0, 4, 50}, {1, 3, 200}, {2, 6, 50}, {0, 5, 200}, {1, 2, 50}, {2, 1, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "routing " << c.routing << " filter " << c.filter);
        PluginRig rig;
        rig.controls[PortRouting] = c.routing;
        rig.controls[PortFilterType] = c.filter;
        rig.controls[PortDecayFirst] = c.decay;
        rig.controls[PortDecayLast] = c.decay;
        rig.controls[PortDiffusion] = 0.9f;
        rig.controls[PortResonance] = 50.0f;
        rig.controls[PortCutoffLast] = 20.0f;  // the slowest ladder decay
        rig.controls[PortModDepthLast] = 30.0f;
        rig.controls[PortModRateLast] = 3.0f;
        rig.controls[PortStereo] = 1.0f;
        std::vector<float> impulse(4096, 0.0f);
        impulse[0] = 1.0f;
        rig.render(impulse, 4096);
        const std::vector<float> silence(4096, 0.0f);
        float quietest = INFINITY;  // smallest non-zero output magnitude of the tail
        bool silent = false;
        for (int chunk = 0; chunk < 72 && !silent; ++chunk) {  // up to 6 s
            rig.left.clear();
            rig.right.clear();
            rig.render(silence, 4096);
            ASSERT_NE(subnormalProduct(), 0.0f) << "run hands the host's mode back";
            const StateTally left = tallySamples(rig.left), right = tallySamples(rig.right);
            ASSERT_EQ(left.subnormal + right.subnormal, 0u) << "chunk " << chunk;
            for (float y : rig.left) quietest = y != 0.0f ? fminf(quietest, fabsf(y)) : quietest;
            ASSERT_EQ(tallyEngineState(*rig.instance->engine).subnormal, 0u) << "chunk " << chunk;
            silent = left.nonZero + right.nonZero == 0;
        }
        // The tail went down through the edge of the normal range, where
        // products and differences would have been subnormal without the
        // flush, to exact silence.
        EXPECT_LT(quietest, 1e-36f);
        EXPECT_TRUE(silent);
    }
}

}  // namespace

#endif
