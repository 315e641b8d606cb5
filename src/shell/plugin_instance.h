// The LV2 handle: the engine and the records of the two stages of run, the
// control stage's ports and the block loop's smoothers.
#pragma once

#include <stdint.h>

#include "control/control_ports.h"
#include "engine/engine_state.h"
#include "process/block_loop.h"

struct PluginInstance {
    EngineState* engine;
    double sampleRate;  // host's rate, recorded only
    ControlPorts controls;
    BlockLoop loop;
};

// instantiate/cleanup without the LV2 boundary, for the shell and the tests.
PluginInstance* createPluginInstance(double hostRate);
void destroyPluginInstance(PluginInstance* self);
// A new engine with the host's rate recorded, and the two stages of run
// around it fresh; null when memory runs out. Every kind of instance starts
// this way.
EngineState* createInstanceEngine(double hostRate, ControlPorts& controls, BlockLoop& loop);
void connectPluginPort(PluginInstance& self, uint32_t port, void* data);
// The whole audio callback: control stage, then the block loop.
void runPlugin(PluginInstance& self, uint32_t sampleCount);
