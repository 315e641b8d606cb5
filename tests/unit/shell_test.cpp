#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "shell/plugin_instance.h"
#include "support/plugin_rig.h"

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

const LV2_Descriptor& descriptor() {
    const LV2_Descriptor* d = lv2_descriptor(0);
    EXPECT_NE(d, nullptr);
    return *d;
}

// Raw copy of an instance and its engine, to prove a call changed nothing.
struct Snapshot {
    std::vector<unsigned char> instance, engine;
    explicit Snapshot(const PluginInstance& self)
        : instance(reinterpret_cast<const unsigned char*>(&self),
                   reinterpret_cast<const unsigned char*>(&self) + sizeof self),
          engine(reinterpret_cast<const unsigned char*>(self.engine),
                 reinterpret_cast<const unsigned char*>(self.engine) + sizeof(EngineState)) {}
    bool operator==(const Snapshot& other) const { return instance == other.instance && engine == other.engine; }
};

std::vector<float> noise(size_t count) {
    std::vector<float> out(count);
    uint32_t state = 12345;
    for (float& x : out) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
    }
    return out;
}

}  // namespace

TEST(Shell, OneDescriptorAtIndexZero) {
    const LV2_Descriptor* d = lv2_descriptor(0);
    ASSERT_NE(d, nullptr);
    const char* uri = d->URI;
    ASSERT_NE(uri, nullptr);
    EXPECT_EQ(strncmp(uri, "http://", 7), 0) << uri;
    const char* path = strchr(uri + 7, '/');
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "/plugins/zulvamoret-tarnwise");
    for (uint32_t index : {1u, 2u, 1000u, UINT32_MAX}) EXPECT_EQ(lv2_descriptor(index), nullptr) << index;
    for (const char* ext : {"", "http://lv2plug.in/ns/ext/state#interface", "http://lv2plug.in/ns/ext/options#interface"})
        EXPECT_EQ(d->extension_data(ext), nullptr) << ext;
}

TEST(Shell, InstantiateNeedsNoFeatureAndStartsFresh) {
    const LV2_Descriptor& d = descriptor();
    LV2_Handle handle = d.instantiate(&d, 44100.0, "/nonexistent/bundle/", nullptr);
    ASSERT_NE(handle, nullptr);
    const PluginInstance& self = *static_cast<PluginInstance*>(handle);
    EXPECT_EQ(self.sampleRate, 44100.0);
    EXPECT_EQ(self.engine->sampleRate, 44100.0f);

    const BlockLoop& loop = self.loop;
    EXPECT_EQ(loop.mixSmoother.interval, 1u);
    EXPECT_EQ(loop.mixSmoother.counter, 0u);
    EXPECT_EQ(loop.mixSmoother.target, 50.0f);
    EXPECT_EQ(bitsOf(loop.mixSmoother.current), 0x4247FAE1u);  // 49.995
    EXPECT_EQ(bitsOf(loop.mixSmoother.step), 0x3F2AAAABu);     // 0.6666667
    EXPECT_EQ(loop.diffusionSmoother.interval, 1u);
    EXPECT_EQ(loop.diffusionSmoother.counter, 0u);
    EXPECT_EQ(loop.diffusionSmoother.target, 0.0f);
    EXPECT_EQ(loop.diffusionSmoother.current, 0.0f);
    EXPECT_EQ(bitsOf(loop.diffusionSmoother.step), 0x3BDA740Eu);  // 0.006666667
    EXPECT_EQ(loop.blockPhase, 0u);

    // No control port holds an applied value, so the first run applies every
    // one, but for the mix and the diffusion, whose smoothers' targets count
    // as applied.
    for (uint32_t port = PortMix; port < PortCount; ++port) {
        const float applied = self.controls.applied[port];
        if (port == PortMix) {
            EXPECT_EQ(applied, loop.mixSmoother.target);
        } else if (port == PortDiffusion) {
            EXPECT_EQ(applied, loop.diffusionSmoother.target);
        } else {
            EXPECT_TRUE(isnan(applied)) << port;
        }
    }
    d.cleanup(handle);
}

TEST(Shell, ConnectPortStoresEachPointerAndIgnoresUnknownIndices) {
    const LV2_Descriptor& d = descriptor();
    LV2_Handle handle = d.instantiate(&d, 48000.0, "", nullptr);
    ASSERT_NE(handle, nullptr);
    PluginInstance& self = *static_cast<PluginInstance*>(handle);
    float buffers[PortCount] = {};
    for (uint32_t port = 0; port < PortCount; ++port) d.connect_port(handle, port, &buffers[port]);
    for (uint32_t port = 0; port < PortCount; ++port) EXPECT_EQ(self.controls.port[port], &buffers[port]) << port;

    const Snapshot before(self);
    float stray = 1.0f;
    d.connect_port(handle, PortCount, &stray);
    d.connect_port(handle, 1000, &stray);
    d.connect_port(handle, UINT32_MAX, &stray);
    EXPECT_TRUE(Snapshot(self) == before);
    d.cleanup(handle);
}

// activate and deactivate keep rings, glides, smoothers and caches: a
// render with a deactivate/activate pair in the middle equals one without.
TEST(Shell, ActivateAndDeactivateChangeNothing) {
    const LV2_Descriptor& d = descriptor();
    const std::vector<float> signal = noise(4096);
    std::vector<float> plainLeft, plainRight;
    {
        PluginRig rig;
        rig.render(signal, 512);
        plainLeft = rig.left;
        plainRight = rig.right;
    }
    PluginRig rig;
    rig.render(std::vector<float>(signal.begin(), signal.begin() + 2048), 512);
    const Snapshot before(*rig.instance);
    d.deactivate(rig.instance);
    d.activate(rig.instance);
    EXPECT_TRUE(Snapshot(*rig.instance) == before);
    rig.render(std::vector<float>(signal.begin() + 2048, signal.end()), 512);
    ASSERT_EQ(rig.left.size(), plainLeft.size());
    EXPECT_EQ(memcmp(rig.left.data(), plainLeft.data(), plainLeft.size() * sizeof(float)), 0);
    EXPECT_EQ(memcmp(rig.right.data(), plainRight.data(), plainRight.size() * sizeof(float)), 0);
}

TEST(Shell, InstancesAreIndependent) {
    const std::vector<float> signal = noise(2048);
    PluginRig a, b, alone;
    a.controls[PortDecayFirst] = 5000.0f;
    a.controls[PortUnitCount] = 13.0f;
    a.controls[PortStereo] = 1.0f;
    // a and b run interleaved; alone runs by itself with b's settings.
    for (size_t at = 0; at < signal.size(); at += 256) {
        a.run(signal.data() + at, 256);
        b.run(signal.data() + at, 256);
    }
    alone.render(signal, 256);
    EXPECT_EQ(memcmp(b.left.data(), alone.left.data(), signal.size() * sizeof(float)), 0);
    EXPECT_EQ(memcmp(b.right.data(), alone.right.data(), signal.size() * sizeof(float)), 0);
}
