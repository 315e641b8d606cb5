// A small in-process host for unit tests: one instance, every port connected
// to buffers the test owns, driven through the same calls the LV2 shell makes.
#pragma once

#include <stdint.h>

#include <vector>

#include "shell/plugin_instance.h"
#include "support/control_rig.h"

struct PluginRig {
    PluginInstance* instance = nullptr;
    float controls[PortCount] = {};  // indices 3..23 are live control values
    std::vector<float> input, left, right;

    explicit PluginRig(double hostRate = 48000.0) {
        instance = createPluginInstance(hostRate);
        setUsualControls(controls);
        for (uint32_t port = PortMix; port < PortCount; ++port) connectPluginPort(*instance, port, &controls[port]);
    }
    ~PluginRig() { destroyPluginInstance(instance); }
    PluginRig(const PluginRig&) = delete;
    PluginRig& operator=(const PluginRig&) = delete;

    // Runs `count` samples of `signal` (starting at `offset`) in one call,
    // appending the outputs to left/right.
    void run(const float* signal, uint32_t count) {
        input.assign(signal, signal + count);
        std::vector<float> l(count), r(count);
        connectPluginPort(*instance, PortAudioIn, input.data());
        connectPluginPort(*instance, PortAudioOutLeft, l.data());
        connectPluginPort(*instance, PortAudioOutRight, r.data());
        runPlugin(*instance, count);
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
    }

    // Renders the whole signal in calls of `callSize` samples.
    void render(const std::vector<float>& signal, uint32_t callSize) {
        for (size_t at = 0; at < signal.size(); at += callSize) {
            const size_t count = signal.size() - at < callSize ? signal.size() - at : callSize;
            run(signal.data() + at, static_cast<uint32_t>(count));
        }
    }
};
