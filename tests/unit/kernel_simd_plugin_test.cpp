#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "kernels/kernel_path.h"
#include "support/plugin_rig.h"

namespace {

// Makes every instance take `path` while it lives.
struct KernelPathScope {
    explicit KernelPathScope(KernelPath path) { overrideKernelPath(path); }
    ~KernelPathScope() { clearKernelPathOverride(); }
};

// A setting, and the ports it changes at a third and at two thirds of the
// render: lengths (glides), unit count, filter type, routing, modulation.
struct Setting {
    const char* name;
    void (*start)(float* c);
    void (*later)(float* c, int third);
};

void mediumHall(float* c) {
    c[PortDecayFirst] = 2000.0f;
    c[PortDecayLast] = 2000.0f;
    c[PortSizeLast] = 60.0f;
    c[PortSizeJitter] = 20.0f;
    c[PortDiffusion] = 0.6f;
    c[PortStereo] = 1.0f;
    c[PortCutoffFirst] = 12000.0f;
    c[PortCutoffLast] = 4000.0f;
    c[PortFilterType] = 4.0f;
    c[PortModDepthFirst] = 2.0f;
    c[PortModDepthLast] = 4.0f;
    c[PortModRateFirst] = 0.4f;
    c[PortModRateLast] = 0.7f;
}

const Setting kSettings[] = {
    {"plain", [](float*) {},
     [](float* c, int third) {
         c[PortSizeFirst] = third == 1 ? 3.0f : 2.5f;
         c[PortFilterType] = third == 1 ? 1.0f : 7.0f;
     }},
    {"medium hall", mediumHall,
     [](float* c, int third) {
         c[PortSizeLast] = third == 1 ? 58.0f : 64.0f;
         c[PortUnitCount] = third == 1 ? 41.0f : 33.0f;
         c[PortFilterType] = third == 1 ? 5.0f : 2.0f;
     }},
    {"heavy", [](float* c) {
         mediumHall(c);
         c[PortUnitCount] = 70.0f;
         c[PortFilterType] = 3.0f;
         c[PortResonance] = 20.0f;
         c[PortRouting] = 2.0f;
         c[PortDiffusion] = 0.7f;
         c[PortModDepthFirst] = 60.0f;
         c[PortModDepthLast] = 100.0f;
         c[PortModRateFirst] = 3.0f;
         c[PortModRateLast] = 10.0f;
         c[PortSizeJitter] = 40.0f;
     },
     [](float* c, int third) {
         c[PortRouting] = third == 1 ? 1.0f : 0.0f;
         c[PortFilterType] = third == 1 ? 6.0f : 3.0f;
         c[PortSizeFirst] = third == 1 ? 1.0f : 5.0f;
     }},
    {"short loops, deep modulation", [](float* c) {
         c[PortSizeFirst] = 0.5f;
         c[PortSizeLast] = 4.0f;
         c[PortModDepthFirst] = 100.0f;
         c[PortModDepthLast] = 50.0f;
         c[PortModRateFirst] = 10.0f;
         c[PortModRateLast] = 0.1f;
         c[PortFilterType] = 6.0f;
         c[PortResonance] = 40.0f;
     },
     [](float* c, int third) {
         c[PortRouting] = third == 1 ? 2.0f : 1.0f;
         c[PortSizeLast] = third == 1 ? 2.0f : 8.0f;
     }},
};

// The render of one setting: noise with gaps of silence, in host calls of
// varying size (mostly whole blocks, some that split them).
std::vector<float> render(const Setting& setting, KernelPath path, uint32_t seconds) {
    KernelPathScope scope(path);
    PluginRig rig;
    setting.start(rig.controls);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    const uint32_t total = seconds * 48000;
    std::vector<float> signal(total);
    for (uint32_t i = 0; i < total; ++i) signal[i] = (i / 24000) % 3 == 2 ? 0.0f : noise(rng);
    const uint32_t sizes[] = {256, 256, 256, 100, 256, 1, 37, 512};
    uint32_t done = 0;
    for (uint32_t call = 0; done < total; ++call) {
        if (done >= total / 3 && done - total / 3 < 512) setting.later(rig.controls, 1);
        if (done >= 2 * total / 3 && done - 2 * total / 3 < 512) setting.later(rig.controls, 2);
        const uint32_t count = std::min(sizes[call % 8], total - done);
        rig.run(signal.data() + done, count);
        done += count;
    }
    std::vector<float> out(rig.left);
    out.insert(out.end(), rig.right.begin(), rig.right.end());
    return out;
}

}  // namespace

// Whole renders through the plug-in, from the first run with its glides
// from the engine's start lengths, through control changes: every path the
// CPU has gives the oracle's output bits.
TEST(KernelSimdPlugin, EveryPathRendersTheOraclesBits) {
    for (const Setting& setting : kSettings) {
        const std::vector<float> oracle = render(setting, KernelPath::Oracle, 3);
        bool audible = false;
        for (float x : oracle) audible = audible || (x != 0.0f && x == x);
        EXPECT_TRUE(audible) << setting.name;
        for (KernelPath path : {KernelPath::Scalar, KernelPath::Sse2, KernelPath::Avx2, KernelPath::Avx512}) {
            if (!kernelPathSupported(path)) continue;
            const std::vector<float> out = render(setting, path, 3);
            ASSERT_EQ(out.size(), oracle.size());
            const size_t differ = memcmp(out.data(), oracle.data(), out.size() * sizeof(float));
            EXPECT_EQ(differ, 0u) << setting.name << " on " << kernelPathName(path);
        }
    }
}

TEST(KernelSimdPlugin, OverrideIsProcessWideAndClears) {
    const KernelPath chosen = activeKernelPath();
    EXPECT_TRUE(kernelPathSupported(chosen));
    EXPECT_TRUE(kernelPathSupported(KernelPath::Oracle));
    EXPECT_TRUE(kernelPathSupported(KernelPath::Scalar));
    {
        KernelPathScope scope(KernelPath::Oracle);
        EXPECT_EQ(activeKernelPath(), KernelPath::Oracle);
    }
    EXPECT_EQ(activeKernelPath(), chosen);
#if defined(__x86_64__)
    // Every x86-64 CPU has SSE2, and the load-time choice is the widest path
    // the CPU has.
    EXPECT_TRUE(kernelPathSupported(KernelPath::Sse2));
    const KernelPath widest = kernelPathSupported(KernelPath::Avx512) ? KernelPath::Avx512
                              : kernelPathSupported(KernelPath::Avx2) ? KernelPath::Avx2
                                                                      : KernelPath::Sse2;
    EXPECT_EQ(chosen, widest);
#else
    EXPECT_EQ(chosen, KernelPath::Scalar);
#endif
}

// What ZT_KERNEL_PATH's value chooses: the path it names when the CPU has
// it, else (an unknown name, a path the CPU lacks, nothing) the fastest.
TEST(KernelSimdPlugin, EnvironmentChoosesANamedPathTheCpuHas) {
    const KernelPath fastest = chooseKernelPath(nullptr).path;
    struct Case {
        const char* value;
        KernelPath want;
        bool honoured;
    };
    const bool avx512 = kernelPathSupported(KernelPath::Avx512);
    const Case cases[] = {
        {nullptr, fastest, true},
        {"", fastest, true},
        {"oracle", KernelPath::Oracle, true},
        {"scalar", KernelPath::Scalar, true},
        {"avx512", avx512 ? KernelPath::Avx512 : fastest, avx512},
        {"AVX2", fastest, false},  // names are lower case
        {"gpu", fastest, false},
    };
    for (const Case& c : cases) {
        const KernelPathChoice choice = chooseKernelPath(c.value);
        EXPECT_EQ(choice.path, c.want) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(choice.honoured, c.honoured) << (c.value ? c.value : "(unset)");
    }
}
