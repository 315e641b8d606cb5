// Loads the staged bundle the way a host does and drives the plug-in
// through its descriptor.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>

#include "staged_plugin.h"

namespace {

struct PortSpec {
    const char* symbol;
    bool audio;
    bool input;
};

// Index order is the port map the binary's connect_port implements.
const PortSpec kPortMap[kPortCount] = {
    {"in", true, true},
    {"out_left", true, false},
    {"out_right", true, false},
    {"mix", false, true},
    {"decay_first", false, true},
    {"decay_last", false, true},
    {"unit_count", false, true},
    {"size_first", false, true},
    {"size_last", false, true},
    {"size_jitter", false, true},
    {"size_curve", false, true},
    {"diffusion", false, true},
    {"stereo", false, true},
    {"routing", false, true},
    {"input_gain_first", false, true},
    {"input_gain_last", false, true},
    {"cutoff_first", false, true},
    {"cutoff_last", false, true},
    {"filter_type", false, true},
    {"resonance", false, true},
    {"mod_depth_first", false, true},
    {"mod_depth_last", false, true},
    {"mod_rate_first", false, true},
    {"mod_rate_last", false, true},
};

// One instance with its own buffers, every port connected.
struct HostInstance {
    LilvInstance* instance;
    float controls[kPortCount] = {};
    std::vector<float> in, left, right;

    HostInstance(const StagedPlugin& staged, double rate, uint32_t maxBlock)
        : instance(lilv_plugin_instantiate(staged.plugin, rate, nullptr)), in(maxBlock), left(maxBlock),
          right(maxBlock) {
        const StagedPlugin::Ranges r = staged.ranges();
        for (uint32_t p = 3; p < kPortCount; ++p) controls[p] = r.defaults[p];
        if (instance == nullptr) return;
        lilv_instance_connect_port(instance, 0, in.data());
        lilv_instance_connect_port(instance, 1, left.data());
        lilv_instance_connect_port(instance, 2, right.data());
        for (uint32_t p = 3; p < kPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
        lilv_instance_activate(instance);
    }
    ~HostInstance() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    HostInstance(const HostInstance&) = delete;
    HostInstance& operator=(const HostInstance&) = delete;

    void run(uint32_t n) { lilv_instance_run(instance, n); }
};

void fillNoise(std::vector<float>& buffer, uint32_t n, std::mt19937& random) {
    std::uniform_real_distribution<float> amplitude(-0.5f, 0.5f);
    for (uint32_t i = 0; i < n; ++i) buffer[i] = amplitude(random);
}

// Counts the samples that are NaN, infinite or subnormal.
size_t badSamples(const std::vector<float>& buffer, uint32_t n) {
    size_t bad = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (!isfinite(buffer[i]) || (buffer[i] != 0.0f && fabsf(buffer[i]) < 1.17549435e-38f)) ++bad;
    return bad;
}

class HostLoad : public ::testing::Test {
protected:
    StagedPlugin staged;
    void SetUp() override { ASSERT_NE(staged.plugin, nullptr) << "plug-in not found through LV2_PATH"; }
};

TEST_F(HostLoad, DiscoversTheStagedBundle) {
    const std::string bundle = lilv_node_as_uri(lilv_plugin_get_bundle_uri(staged.plugin));
    EXPECT_NE(bundle.find(ZT_BUNDLE_DIR), std::string::npos) << bundle;
    const std::string library = lilv_node_as_uri(lilv_plugin_get_library_uri(staged.plugin));
    EXPECT_NE(library.find("/libzulvamoret-tarnwise.so"), std::string::npos) << library;
    LilvNode* name = lilv_plugin_get_name(staged.plugin);
    EXPECT_STREQ(lilv_node_as_string(name), "Zulvamoret Tarnwise");
    lilv_node_free(name);
    // Asked directly: LV2_PATH holds only the build tree, so lilv has not
    // loaded the class hierarchy that would make this the plug-in's class.
    LilvNode* type = lilv_new_uri(staged.world, "http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    LilvNode* reverb = lilv_new_uri(staged.world, LV2_CORE "ReverbPlugin");
    EXPECT_TRUE(lilv_world_ask(staged.world, lilv_plugin_get_uri(staged.plugin), type, reverb));
    lilv_node_free(reverb);
    lilv_node_free(type);
    EXPECT_TRUE(lilv_plugin_verify(staged.plugin));
}

TEST_F(HostLoad, RequiresNothingAndProcessesInPlace) {
    LilvNodes* required = lilv_plugin_get_required_features(staged.plugin);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
    LilvNode* inPlaceBroken = lilv_new_uri(staged.world, LV2_CORE "inPlaceBroken");
    EXPECT_FALSE(lilv_plugin_has_feature(staged.plugin, inPlaceBroken));
    lilv_node_free(inPlaceBroken);
    // Real-time safe, and a host may keep its periods whole (no split at
    // automation events) for the fastest processing.
    for (const char* optional : {LV2_CORE "hardRTCapable", "http://lv2plug.in/ns/ext/buf-size#coarseBlockLength"}) {
        LilvNode* feature = lilv_new_uri(staged.world, optional);
        EXPECT_TRUE(lilv_plugin_has_feature(staged.plugin, feature)) << optional;
        lilv_node_free(feature);
    }
}

TEST_F(HostLoad, PortsFollowThePortMap) {
    ASSERT_EQ(lilv_plugin_get_num_ports(staged.plugin), kPortCount);
    for (uint32_t i = 0; i < kPortCount; ++i) {
        SCOPED_TRACE(kPortMap[i].symbol);
        ASSERT_NE(staged.port(i), nullptr);
        EXPECT_EQ(lilv_port_get_index(staged.plugin, staged.port(i)), i);
        EXPECT_EQ(staged.symbol(i), kPortMap[i].symbol);
        EXPECT_EQ(staged.portIs(i, LV2_CORE "AudioPort"), kPortMap[i].audio);
        EXPECT_EQ(staged.portIs(i, LV2_CORE "ControlPort"), !kPortMap[i].audio);
        EXPECT_EQ(staged.portIs(i, LV2_CORE "InputPort"), kPortMap[i].input);
        EXPECT_EQ(staged.portIs(i, LV2_CORE "OutputPort"), !kPortMap[i].input);
    }
}

// What a host shows and what it sends: every control has a sane range and
// a default inside it, a comment, and a unit unless it is a switch or a
// list of choices.
TEST_F(HostLoad, ControlMetadataIsComplete) {
    const StagedPlugin::Ranges r = staged.ranges();
    for (uint32_t i = 3; i < kPortCount; ++i) {
        SCOPED_TRACE(staged.symbol(i));
        ASSERT_FALSE(isnan(r.minimum[i]) || isnan(r.maximum[i]) || isnan(r.defaults[i]));
        EXPECT_LT(r.minimum[i], r.maximum[i]);
        EXPECT_LE(r.minimum[i], r.defaults[i]);
        EXPECT_LE(r.defaults[i], r.maximum[i]);
        EXPECT_FALSE(staged.portValue(i, "http://www.w3.org/2000/01/rdf-schema#comment").empty());
        const bool choice = staged.portHasProperty(i, LV2_CORE "toggled") ||
                            staged.portHasProperty(i, LV2_CORE "enumeration");
        if (!choice) {
            EXPECT_FALSE(staged.portValue(i, "http://lv2plug.in/ns/extensions/units#unit").empty());
        }
        if (staged.portHasProperty(i, "http://lv2plug.in/ns/ext/port-props#logarithmic")) {
            EXPECT_GT(r.minimum[i], 0.0f);
        }
    }
}

// Each choice list names every value in its range exactly once.
TEST_F(HostLoad, ChoicesHaveOneLabelPerValue) {
    const StagedPlugin::Ranges r = staged.ranges();
    for (uint32_t i = 3; i < kPortCount; ++i) {
        if (!staged.portHasProperty(i, LV2_CORE "enumeration")) continue;
        SCOPED_TRACE(staged.symbol(i));
        EXPECT_TRUE(staged.portHasProperty(i, LV2_CORE "integer"));
        LilvScalePoints* points = lilv_port_get_scale_points(staged.plugin, staged.port(i));
        ASSERT_NE(points, nullptr);
        std::vector<float> values;
        std::vector<std::string> labels;
        LILV_FOREACH (scale_points, it, points) {
            const LilvScalePoint* point = lilv_scale_points_get(points, it);
            values.push_back(lilv_node_as_float(lilv_scale_point_get_value(point)));
            labels.push_back(lilv_node_as_string(lilv_scale_point_get_label(point)));
        }
        lilv_scale_points_free(points);
        std::sort(values.begin(), values.end());
        std::sort(labels.begin(), labels.end());
        EXPECT_EQ(std::unique(labels.begin(), labels.end()), labels.end());
        ASSERT_EQ(values.size(), static_cast<size_t>(r.maximum[i] - r.minimum[i]) + 1);
        for (size_t k = 0; k < values.size(); ++k) EXPECT_EQ(values[k], r.minimum[i] + static_cast<float>(k));
    }
}

TEST_F(HostLoad, RunsAtEveryRateWithDefaults) {
    std::mt19937 random(7);
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        HostInstance host(staged, rate, 4096);
        ASSERT_NE(host.instance, nullptr);
        for (uint32_t n : {64u, 1u, 7u, 4096u, 0u, 333u}) {
            fillNoise(host.in, n, random);
            host.run(n);
            EXPECT_EQ(badSamples(host.left, n) + badSamples(host.right, n), 0u) << n;
        }
        lilv_instance_deactivate(host.instance);
        lilv_instance_activate(host.instance);
        fillNoise(host.in, 4096, random);
        host.run(4096);
        EXPECT_EQ(badSamples(host.left, 4096) + badSamples(host.right, 4096), 0u);
    }
}

TEST_F(HostLoad, TwoInstancesLiveAndDieIndependently) {
    std::mt19937 random(11);
    std::unique_ptr<HostInstance> first(new HostInstance(staged, 48000.0, 512));
    HostInstance second(staged, 44100.0, 512);
    ASSERT_NE(first->instance, nullptr);
    ASSERT_NE(second.instance, nullptr);
    second.controls[13] = 1.0f;  // two halves in series
    for (int block = 0; block < 20; ++block) {
        fillNoise(first->in, 512, random);
        fillNoise(second.in, 512, random);
        first->run(512);
        second.run(512);
    }
    first.reset();
    for (int block = 0; block < 20; ++block) {
        fillNoise(second.in, 512, random);
        second.run(512);
        ASSERT_EQ(badSamples(second.left, 512) + badSamples(second.right, 512), 0u);
    }
}

// The declared ranges are what keeps the engine stable: every corner of
// them, and random automation inside them, must give clean output.
TEST_F(HostLoad, EveryCornerOfTheRangesGivesCleanOutput) {
    const StagedPlugin::Ranges r = staged.ranges();
    std::mt19937 random(2024);
    HostInstance host(staged, 48000.0, 256);
    ASSERT_NE(host.instance, nullptr);
    auto drive = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            fillNoise(host.in, 256, random);
            host.run(256);
            ASSERT_EQ(badSamples(host.left, 256) + badSamples(host.right, 256), 0u);
        }
    };
    for (const std::vector<float>* corner : {&r.minimum, &r.maximum}) {
        for (uint32_t p = 3; p < kPortCount; ++p) host.controls[p] = (*corner)[p];
        drive(200);
    }
    for (int round = 0; round < 150; ++round) {
        for (uint32_t p = 3; p < kPortCount; ++p) {
            const float t = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
            host.controls[p] = t < 0.2f ? r.minimum[p] : t > 0.8f ? r.maximum[p] : r.minimum[p] + (r.maximum[p] - r.minimum[p]) * t;
        }
        drive(3);
    }
}

// A host may hand the input buffer as an output buffer too.
TEST_F(HostLoad, SharedBuffersGiveTheSameOutput) {
    std::mt19937 random(5);
    std::vector<float> signal(8192);
    fillNoise(signal, 8192, random);
    for (uint32_t shared : {1u, 2u}) {
        SCOPED_TRACE(shared);
        HostInstance separate(staged, 48000.0, 8192);
        HostInstance inPlace(staged, 48000.0, 8192);
        ASSERT_NE(separate.instance, nullptr);
        ASSERT_NE(inPlace.instance, nullptr);
        std::vector<float>& sharedOut = shared == 1 ? inPlace.left : inPlace.right;
        lilv_instance_connect_port(inPlace.instance, 0, sharedOut.data());
        for (uint32_t at = 0; at < 8192; at += 1024) {
            std::copy(signal.begin() + at, signal.begin() + at + 1024, separate.in.begin());
            std::copy(signal.begin() + at, signal.begin() + at + 1024, sharedOut.begin());
            separate.run(1024);
            inPlace.run(1024);
            ASSERT_EQ(memcmp(separate.left.data(), inPlace.left.data(), 1024 * sizeof(float)), 0) << at;
            ASSERT_EQ(memcmp(separate.right.data(), inPlace.right.data(), 1024 * sizeof(float)), 0) << at;
        }
    }
}

}  // namespace
