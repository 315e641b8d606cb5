// The stereo companion loaded through lilv as a host loads it: controls at
// their metadata defaults, set by symbol, audio rendered in calls of a
// fixed size.
#pragma once

#include <lilv/lilv.h>

#include <algorithm>
#include <string>
#include <vector>

#include "staged_plugin.h"

constexpr uint32_t kStereoPortCount = 28;
constexpr uint32_t kStereoFirstControl = 4;

struct StereoHost {
    const StagedPlugin& staged;
    LilvInstance* instance = nullptr;
    float controls[kStereoPortCount] = {};
    uint32_t callSize;
    std::vector<float> inLeft, inRight, outLeft, outRight;

    StereoHost(const StagedPlugin& plugin, double rate, uint32_t callSamples = 256)
        : staged(plugin), callSize(callSamples), inLeft(callSamples), inRight(callSamples),
          outLeft(callSamples), outRight(callSamples) {
        const StagedPlugin::Ranges ranges = staged.ranges();
        for (uint32_t port = kStereoFirstControl; port < kStereoPortCount; ++port) controls[port] = ranges.defaults[port];
        instance = lilv_plugin_instantiate(staged.plugin, rate, nullptr);
        if (instance == nullptr) return;
        float* audio[] = {inLeft.data(), inRight.data(), outLeft.data(), outRight.data()};
        for (uint32_t port = 0; port < kStereoFirstControl; ++port) lilv_instance_connect_port(instance, port, audio[port]);
        for (uint32_t port = kStereoFirstControl; port < kStereoPortCount; ++port)
            lilv_instance_connect_port(instance, port, &controls[port]);
        lilv_instance_activate(instance);
    }
    ~StereoHost() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    StereoHost(const StereoHost&) = delete;
    StereoHost& operator=(const StereoHost&) = delete;

    // Sets a control by symbol; false when there is no such input.
    bool set(const std::string& symbol, float value) {
        for (uint32_t port = kStereoFirstControl; port < kStereoPortCount; ++port) {
            if (staged.symbol(port) == symbol) {
                controls[port] = value;
                return true;
            }
        }
        return false;
    }

    // Renders the two inputs (of equal length), appending to the outputs.
    void render(const std::vector<float>& left, const std::vector<float>& right, std::vector<float>& toLeft,
                std::vector<float>& toRight) {
        for (size_t at = 0; at < left.size(); at += callSize) {
            const uint32_t count = static_cast<uint32_t>(std::min<size_t>(callSize, left.size() - at));
            std::copy(left.begin() + at, left.begin() + at + count, inLeft.begin());
            std::copy(right.begin() + at, right.begin() + at + count, inRight.begin());
            lilv_instance_run(instance, count);
            toLeft.insert(toLeft.end(), outLeft.begin(), outLeft.begin() + count);
            toRight.insert(toRight.end(), outRight.begin(), outRight.begin() + count);
        }
    }
};
