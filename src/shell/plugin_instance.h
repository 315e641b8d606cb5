// The LV2 handle: port pointers, the last applied control values and the two
// block-rate smoothers. Everything else lives in the EngineState.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"
#include "process/param_smoother.h"

enum PortIndex : uint32_t {
    PortAudioIn = 0,
    PortAudioOutLeft = 1,
    PortAudioOutRight = 2,
    PortMix = 3,
    PortDecayFirst = 4,
    PortDecayLast = 5,
    PortUnitCount = 6,
    PortSizeFirst = 7,
    PortSizeLast = 8,
    PortSizeJitter = 9,
    PortSizeCurve = 10,
    PortDiffusion = 11,
    PortStereo = 12,
    PortRouting = 13,
    PortInputGainFirst = 14,
    PortInputGainLast = 15,
    PortCutoffFirst = 16,
    PortCutoffLast = 17,
    PortFilterType = 18,
    PortResonance = 19,
    PortModDepthFirst = 20,
    PortModDepthLast = 21,
    PortModRateFirst = 22,
    PortModRateLast = 23,
    PortCount = 24
};

// A control port and the value last applied from it. A NaN cache never
// compares equal, so an empty slot (NaN) makes the next run apply the port.
struct ControlSlot {
    const float* port;
    float cached;
};

struct PluginInstance {
    EngineState* engine;
    double sampleRate;  // host's rate, recorded only
    const float* audioIn;
    float* audioOutLeft;
    float* audioOutRight;
    const float* mixPort;
    ParamSmoother mixSmoother;
    ControlSlot slotsDecayToCurve[7];  // ports 4..10
    const float* diffusionPort;
    ParamSmoother diffusionSmoother;
    ControlSlot slotsStereoToModRate[12];  // ports 12..23
    // Samples of the current 16-sample block already processed by earlier
    // run calls, so that a call may start or end inside a block.
    uint32_t blockPhase;
};

// The slot of a control port that has one (4..10, 12..23), else null.
inline ControlSlot* controlSlot(PluginInstance& self, uint32_t port) {
    if (port >= PortDecayFirst && port <= PortSizeCurve) return &self.slotsDecayToCurve[port - PortDecayFirst];
    if (port >= PortStereo && port <= PortModRateLast) return &self.slotsStereoToModRate[port - PortStereo];
    return nullptr;
}

// instantiate/cleanup without the LV2 boundary, for the shell and the tests.
PluginInstance* createPluginInstance(double hostRate);
void destroyPluginInstance(PluginInstance* self);
void connectPluginPort(PluginInstance& self, uint32_t port, void* data);
// The whole audio callback: control stage, then the block loop.
void runPlugin(PluginInstance& self, uint32_t sampleCount);
