// One instance of the staged plug-in driven like a host that loads presets:
// controls are set by port symbol (all others at their metadata defaults),
// and a preset is applied through lilv's state API, as hosts do.
#pragma once

#include <lilv/lilv.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "bundle_presets.h"
#include "staged_plugin.h"

// Every preset the staged bundle relates to the plug-in.
inline std::vector<BundlePreset> loadBundlePresets(const StagedPlugin& staged) {
    return readBundlePresets(staged.world, staged.plugin);
}

// Applies a preset the way hosts do: lilv_state_restore hands each port
// value to the host's callback, here `set(symbol, value)`, which sets the
// control. False unless every value was a number that `set` took.
template <typename Setter>
bool applyPresetThroughLilv(const StagedPlugin& staged, LilvInstance* instance, const std::string& presetUri,
                            Setter set) {
    struct Target {
        Setter* set;
        UridTable* urids;
        bool ok;
        static void setValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
            auto* target = static_cast<Target*>(data);
            float number = 0.0f;
            const bool numeric = portValueAsFloat(*target->urids, value, size, type, number);
            target->ok = numeric && (*target->set)(symbol, number) && target->ok;
        }
    };
    UridTable urids;
    LilvNode* node = lilv_new_uri(staged.world, presetUri.c_str());
    lilv_world_load_resource(staged.world, node);
    LilvState* state = lilv_state_new_from_world(staged.world, &urids.map, node);
    lilv_node_free(node);
    if (state == nullptr) return false;
    Target target{&set, &urids, true};
    lilv_state_restore(state, instance, Target::setValue, &target, 0, nullptr);
    lilv_state_free(state);
    return target.ok;
}

// An instance at the metadata defaults, rendered in calls of `callSize`.
struct PresetInstance {
    const StagedPlugin& staged;
    LilvInstance* instance = nullptr;
    float controls[kPortCount] = {};
    uint32_t callSize;
    std::vector<float> in, left, right;

    PresetInstance(const StagedPlugin& plugin, double rate, uint32_t callSamples)
        : staged(plugin), callSize(callSamples), in(callSamples), left(callSamples), right(callSamples) {
        const StagedPlugin::Ranges ranges = staged.ranges();
        for (uint32_t port = 3; port < kPortCount; ++port) controls[port] = ranges.defaults[port];
        instance = lilv_plugin_instantiate(staged.plugin, rate, nullptr);
        if (instance == nullptr) return;
        lilv_instance_connect_port(instance, 0, in.data());
        lilv_instance_connect_port(instance, 1, left.data());
        lilv_instance_connect_port(instance, 2, right.data());
        for (uint32_t port = 3; port < kPortCount; ++port) lilv_instance_connect_port(instance, port, &controls[port]);
        lilv_instance_activate(instance);
    }
    ~PresetInstance() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    PresetInstance(const PresetInstance&) = delete;
    PresetInstance& operator=(const PresetInstance&) = delete;

    // Sets a control by symbol; false when the plug-in has no such input.
    bool set(const std::string& symbol, float value) {
        for (uint32_t port = 3; port < kPortCount; ++port) {
            if (staged.symbol(port) == symbol) {
                controls[port] = value;
                return true;
            }
        }
        return false;
    }

    // Applies a preset the way hosts do (applyPresetThroughLilv).
    bool restore(const std::string& presetUri) {
        return applyPresetThroughLilv(staged, instance, presetUri,
                                      [this](const char* symbol, float value) { return set(symbol, value); });
    }

    // Renders `signal`, appending both outputs.
    void render(const std::vector<float>& signal, std::vector<float>& outLeft, std::vector<float>& outRight) {
        for (size_t at = 0; at < signal.size(); at += callSize) {
            const uint32_t count = static_cast<uint32_t>(std::min<size_t>(callSize, signal.size() - at));
            std::copy(signal.begin() + at, signal.begin() + at + count, in.begin());
            lilv_instance_run(instance, count);
            outLeft.insert(outLeft.end(), left.begin(), left.begin() + count);
            outRight.insert(outRight.end(), right.begin(), right.begin() + count);
        }
    }
};
