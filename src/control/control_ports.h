// The plug-in's ports and the first stage of every run: apply each control
// port whose value changed since it was last applied.
#pragma once

#include <stdint.h>

struct BlockLoop;
struct EngineState;

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

struct ControlPorts {
    // The host's buffer of every port, as connect_port gave it.
    float* port[PortCount];
    // Per control port, the value last applied from it (the mix already
    // scaled by 0.01). A NaN never compares equal, so it makes the next run
    // apply the port. Unused for the audio ports.
    float applied[PortCount];
};

// No port connected and none applied yet, except that the mix and the
// diffusion count as applied at their smoothers' start targets.
void initControlPorts(ControlPorts& controls, const BlockLoop& loop);

// Stores the buffer of a port below PortCount; other indices are ignored.
void connectPort(ControlPorts& controls, uint32_t port, void* data);

// Reads every control port and applies those that changed, in ascending
// order: into the engine's fields and per-unit values, and the mix and the
// diffusion into their smoothers' targets.
void applyControlChanges(ControlPorts& controls, EngineState& engine, BlockLoop& loop);
