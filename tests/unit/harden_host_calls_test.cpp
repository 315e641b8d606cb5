// Host habits that must not change the sound: moving control ports to other
// memory between runs, and runs of no samples in between.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "support/plugin_rig.h"

namespace {

std::vector<float> clicksAndNoise(size_t count) {
    std::vector<float> x(count, 0.0f);
    uint32_t seed = 77;
    for (size_t k = 0; k < count; ++k) {
        seed = seed * 1664525u + 1013904223u;
        x[k] = k % 3000 == 5 ? 1.0f : 0.2f * static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return x;
}

void useBusySetting(PluginRig& rig) {
    rig.controls[PortRouting] = 1.0f;
    rig.controls[PortDiffusion] = 0.6f;
    rig.controls[PortFilterType] = 6.0f;
    rig.controls[PortModDepthLast] = 20.0f;
    rig.controls[PortModRateLast] = 2.0f;
    rig.controls[PortStereo] = 1.0f;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(HardenHostCalls, ControlPortsMovedBetweenRunsAndEmptyRunsChangeNothing) {
    const std::vector<float> signal = clicksAndNoise(20000);
    PluginRig reference;
    useBusySetting(reference);
    reference.render(signal, 500);

    PluginRig moved;
    useBusySetting(moved);
    float homes[2][PortCount];
    for (size_t at = 0, call = 0; at < signal.size(); at += 500, ++call) {
        // Every control port to fresh memory holding the same value, and a
        // run of no samples before and after the real one.
        float* home = homes[call % 2];
        for (uint32_t port = PortMix; port < PortCount; ++port) {
            home[port] = moved.controls[port];
            connectPluginPort(*moved.instance, port, &home[port]);
        }
        runPlugin(*moved.instance, 0);
        moved.run(signal.data() + at, 500);
        runPlugin(*moved.instance, 0);
    }
    EXPECT_TRUE(sameBits(moved.left, reference.left));
    EXPECT_TRUE(sameBits(moved.right, reference.right));

    // A value written to the new home is what the next run applies.
    homes[0][PortMix] = -100.0f;  // dry only, once the smoother gets there
    for (uint32_t port = PortMix; port < PortCount; ++port) connectPluginPort(*moved.instance, port, &homes[0][port]);
    moved.left.clear();
    moved.run(signal.data(), 4000);
    EXPECT_FLOAT_EQ(moved.left.back(), signal[3999]);
}

}  // namespace
