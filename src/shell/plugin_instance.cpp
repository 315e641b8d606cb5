#include "shell/plugin_instance.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "control/apply_controls.h"
#include "engine/float_bits.h"
#include "process/block_loop.h"
#include "shell/diagnostic_log.h"
#include "shell/float_mode.h"

PluginInstance* createPluginInstance(double hostRate) {
    openDiagnosticLog();
    PluginInstance* self = static_cast<PluginInstance*>(calloc(1, sizeof(PluginInstance)));
    if (self == nullptr) return nullptr;
    EngineState* engine = createEngineState();
    if (engine == nullptr) {
        free(self);
        return nullptr;
    }
    self->engine = engine;
    self->diffusionSmoother.target = 0.0f;
    self->diffusionSmoother.current = 0.0f;
    self->mixSmoother.interval = 1;
    self->diffusionSmoother.interval = 1;
    // The mix starts far outside what port 3 can give, so the first block
    // always computes the gains.
    self->mixSmoother.target = 50.0f;
    self->mixSmoother.current = floatFromBits(0x4247FAE1u);    // 49.995
    self->mixSmoother.step = floatFromBits(0x3F2AAAABu);       // 0.6666667
    self->diffusionSmoother.step = floatFromBits(0x3BDA740Eu); // 0.006666667
    self->mixSmoother.counter = 0;
    self->diffusionSmoother.counter = 0;
    for (ControlSlot& slot : self->slotsDecayToCurve) slot.cached = NAN;
    for (ControlSlot& slot : self->slotsStereoToModRate) slot.cached = NAN;
    self->blockPhase = 0;
    self->sampleRate = hostRate;
    engine->sampleRate = static_cast<float>(hostRate);
    return self;
}

void destroyPluginInstance(PluginInstance* self) {
    if (self == nullptr) return;
    destroyEngineState(self->engine);
    free(self);
}

void connectPluginPort(PluginInstance& self, uint32_t port, void* data) {
    float* buffer = static_cast<float*>(data);
    switch (port) {
        case PortAudioIn: self.audioIn = buffer; break;
        case PortAudioOutLeft: self.audioOutLeft = buffer; break;
        case PortAudioOutRight: self.audioOutRight = buffer; break;
        case PortMix: self.mixPort = buffer; break;
        case PortDiffusion: self.diffusionPort = buffer; break;
        default: {
            ControlSlot* slot = port < PortCount ? controlSlot(self, port) : nullptr;
            if (slot != nullptr) slot->port = buffer;
            break;
        }
    }
}

void runPlugin(PluginInstance& self, uint32_t sampleCount) {
    const FloatModeSave save = enterEngineFloatMode();
    applyControlChanges(self);
    runBlockLoop(self, sampleCount);
    leaveEngineFloatMode(save);
}
