// Instances run from two threads at once, as a host with parallel
// processing does. Instances share nothing, so each must give exactly the
// output it gives alone. Built with -DZT_SANITIZE=thread this is the race
// check.
#include <gtest/gtest.h>
#include <math.h>
#include <pthread.h>
#include <string.h>

#include <thread>
#include <vector>

#include "support/plugin_rig.h"

namespace {

std::vector<float> noise(size_t count, uint32_t seed) {
    std::vector<float> x(count);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = 0.4f * static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return x;
}

// Automation on every port but the unit count and the sizes (6..10).
void automate(PluginRig& rig, int step, float flavour) {
    rig.controls[PortMix] = 20.0f + static_cast<float>(step % 7) * 10.0f;
    rig.controls[PortDecayFirst] = 500.0f + flavour * static_cast<float>(step % 5) * 300.0f;
    rig.controls[PortCutoffLast] = 200.0f + static_cast<float>(step % 3) * 2000.0f;
    rig.controls[PortResonance] = static_cast<float>(step % 4) * 10.0f;
    rig.controls[PortModDepthLast] = flavour * 10.0f;
    rig.controls[PortModRateLast] = static_cast<float>(step % 2) * 2.0f;
    rig.controls[PortDiffusion] = step % 6 == 0 ? 0.0f : 0.6f;
    rig.controls[PortFilterType] = static_cast<float>(step % 8);
    rig.controls[PortRouting] = static_cast<float>(step % 3);
    rig.controls[PortStereo] = static_cast<float>(step % 2);
}

void setUp(PluginRig& rig, float flavour) {
    rig.controls[PortUnitCount] = flavour > 1.0f ? 70.0f : 23.0f;
    rig.controls[PortSizeJitter] = 30.0f * flavour;
    rig.run(nullptr, 0);  // applies every port, ports 6..10 among them, on this thread
}

void play(PluginRig& rig, const std::vector<float>& signal, float flavour) {
    for (int step = 0; step < 40; ++step) {
        automate(rig, step, flavour);
        rig.run(signal.data() + step * 1000, 1000);
    }
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(HardenThreads, TwoInstancesOnTwoThreadsGiveTheirOwnOutputs) {
    const std::vector<float> signalA = noise(40000, 1), signalB = noise(40000, 2);
    PluginRig aloneA, aloneB;
    setUp(aloneA, 1.0f);
    setUp(aloneB, 2.0f);
    play(aloneA, signalA, 1.0f);
    play(aloneB, signalB, 2.0f);

    PluginRig a, b;
    setUp(a, 1.0f);
    setUp(b, 2.0f);
    std::thread first([&] { play(a, signalA, 1.0f); });
    std::thread second([&] { play(b, signalB, 2.0f); });
    first.join();
    second.join();
    EXPECT_TRUE(sameBits(a.left, aloneA.left) && sameBits(a.right, aloneA.right));
    EXPECT_TRUE(sameBits(b.left, aloneB.left) && sameBits(b.right, aloneB.right));
}

// Every instance changes the unit count and the sizes (ports 6..10) in the
// same moments as the others, a count of 1 among them (which draws its taps
// without reseeding): the random draws behind the lengths and taps are each
// instance's own, so each gives its lone output.
TEST(HardenThreads, InstancesChangingSizesAtOnceGiveTheirLoneOutputs) {
    constexpr int kInstances = 4, kSteps = 40;
    constexpr uint32_t kRun = 256;
    const std::vector<float> signal = noise(kRun, 3);
    auto change = [](PluginRig& rig, int instance, int step) {
        uint32_t seed = static_cast<uint32_t>(instance * 1000 + step) * 2654435761u;
        seed = seed * 1664525u + 1013904223u;
        rig.controls[PortUnitCount] = (step + instance) % 3 == 0 ? 1.0f : static_cast<float>(2 + seed % 69);
        rig.controls[PortSizeFirst] = static_cast<float>(seed % 50) + 0.5f;
        rig.controls[PortSizeLast] = static_cast<float>(seed % 220) + 0.5f;
        rig.controls[PortSizeJitter] = static_cast<float>(seed % 100);
        rig.controls[PortSizeCurve] = static_cast<float>(seed % 3) - 1.0f;
    };
    PluginRig alone[kInstances];
    for (int i = 0; i < kInstances; ++i) {
        for (int step = 0; step < kSteps; ++step) {
            change(alone[i], i, step);
            alone[i].run(signal.data(), kRun);
        }
    }

    PluginRig together[kInstances];
    pthread_barrier_t sameMoment;
    pthread_barrier_init(&sameMoment, nullptr, 2);
    auto play = [&](int firstInstance) {  // two instances per thread
        for (int step = 0; step < kSteps; ++step) {
            pthread_barrier_wait(&sameMoment);
            for (int i = firstInstance; i < firstInstance + 2; ++i) {
                change(together[i], i, step);
                together[i].run(signal.data(), kRun);
            }
        }
    };
    std::thread first(play, 0);
    std::thread second(play, 2);
    first.join();
    second.join();
    pthread_barrier_destroy(&sameMoment);
    for (int i = 0; i < kInstances; ++i) {
        EXPECT_TRUE(sameBits(together[i].left, alone[i].left) && sameBits(together[i].right, alone[i].right))
            << "instance " << i;
    }
}

}  // namespace
