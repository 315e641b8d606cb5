// A small LV2 host for the benchmarks: one instance made through
// lv2_descriptor(0), every port connected to buffers of its own, and the
// named control settings the benchmarks run.
#pragma once

#include <lv2/core/lv2.h>
#include <stdint.h>

#include "shell/plugin_instance.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

constexpr uint32_t kCallSize = 256;  // samples per run call
constexpr double kHostRate = 48000.0;

struct BenchHost {
    const LV2_Descriptor* descriptor;
    LV2_Handle handle;
    float controls[PortCount] = {};
    float input[kCallSize] = {};
    float left[kCallSize] = {};
    float right[kCallSize] = {};

    explicit BenchHost(const float* controlValues);
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    void run(uint32_t samples = kCallSize) { descriptor->run(handle, samples); }
    // No active unit glides or waits to start a glide.
    bool settled() const;
    // Runs calls of noise (or silence) until settled, at most maxSeconds of audio.
    void settle(bool noise, double maxSeconds = 20.0);
    PluginInstance& instance() { return *static_cast<PluginInstance*>(handle); }
};

// Deterministic noise in [-0.5, 0.5), the same sequence in every run.
void fillNoise(float* x, uint32_t n);

// Control settings, ports 3..23 (index = port number).
struct BenchConfig {
    const char* name;
    void (*set)(float* controls);
};

// The engine's own defaults: 40 units, no filter, parallel routing, no
// diffusion, no modulation, mono.
void setLightControls(float* controls);
// The lv2:default values of the bundle's metadata.
void setDefaultControls(float* controls);
// 70 units, filter type 3, routing 2, diffusion 0.7, every unit modulated,
// size jitter, stereo.
void setHeavyControls(float* controls);
// The largest bank the ranges allow: 70 units of 210 to 220 m, jitter 100.
void setLargestControls(float* controls);
// A large bank (70 units, 150 to 200 m), and a second one that differs in
// every port from 6 to 10, for hosts that automate the size.
void setLargeControls(float* controls);
void setLargeAlternative(float* controls);
// The default settings with shorter decays, for the impulse-and-silence runs.
void setTailControls(float* controls);
// The default settings' second state for automation: every control port
// moved a little (the unit count by one, the switches flipped).
void setAutomationAlternative(float* controls);

// The stereo companion at its defaults, named stereo/default/<host rate>.
void registerStereoBenchmarks();
