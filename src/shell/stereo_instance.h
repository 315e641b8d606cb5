// The stereo companion's LV2 handle: the same engine, control stage and
// block loop as the mono-input plug-in, and its own audio path around them.
#pragma once

#include <stdint.h>

#include "control/control_ports.h"
#include "control/stereo_ports.h"
#include "engine/engine_state.h"
#include "process/block_loop.h"
#include "process/stereo_loop.h"

struct StereoInstance {
    EngineState* engine;
    double sampleRate;  // host's rate
    ControlPorts controls;
    StereoPorts ports;
    BlockLoop loop;
    StereoLoop stereo;
    bool started;  // the first run starts everything at the controls' values
};

// instantiate/cleanup without the LV2 boundary. Null for a rate outside
// 1 Hz .. 768 kHz or when memory is short.
StereoInstance* createStereoInstance(double hostRate);
void destroyStereoInstance(StereoInstance* self);
void connectStereoInstancePort(StereoInstance& self, uint32_t port, void* data);
// The whole audio callback: control stage, then the companion's audio path.
void runStereoInstance(StereoInstance& self, uint32_t sampleCount);
