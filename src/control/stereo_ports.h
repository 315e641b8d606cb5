// The stereo companion's ports: two audio inputs and outputs, the 21
// controls of the mono-input plug-in with the same symbols (each one index
// above its place there), and the companion's own pre-delay, width and
// host bypass.
#pragma once

#include <stdint.h>

#include "control/control_ports.h"

struct StereoTargets;

enum StereoPortIndex : uint32_t {
    StereoInLeft = 0,
    StereoInRight = 1,
    StereoOutLeft = 2,
    StereoOutRight = 3,
    StereoFirstEngineControl = 4,  // PortMix
    StereoLastEngineControl = 24,  // PortModRateLast
    StereoPreDelay = 25,
    StereoWidth = 26,
    StereoEnabled = 27,
    StereoPortCount = 28
};
static_assert(StereoLastEngineControl - StereoFirstEngineControl == PortModRateLast - PortMix,
              "every control of the mono-input plug-in, in its order");

struct StereoPorts {
    float* audio[4];  // in left, in right, out left, out right
    float* preDelay;
    float* width;
    float* enabled;
};

// Stores a port's buffer: the engine's controls into `controls` at their
// own index, the rest into `ports`; indices from StereoPortCount on are
// ignored.
void connectStereoPort(StereoPorts& ports, ControlPorts& controls, uint32_t port, void* data);

// The companion's own controls, and the mix the control stage has set as
// the block loop's target.
StereoTargets readStereoTargets(const StereoPorts& ports, float mixTarget);
