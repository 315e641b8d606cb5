#include "shell/plugin_instance.h"

#include <stdlib.h>

#include "kernels/kernel_path.h"
#include "shell/diagnostic_log.h"
#include "shell/float_mode.h"

namespace {

PluginInstance* createInEngineMode(double hostRate) {
    openDiagnosticLog();
    const KernelPathChoice choice = kernelPathChoice();
    if (choice.requested != nullptr && !choice.honoured)
        logMessage(0, "%s=%s: no such path on this CPU; using %s", kKernelPathVariable, choice.requested,
                   kernelPathName(choice.path));
    else if (choice.requested != nullptr)
        logMessage(1, "%s=%s: kernel path %s", kKernelPathVariable, choice.requested, kernelPathName(choice.path));
    PluginInstance* self = static_cast<PluginInstance*>(calloc(1, sizeof(PluginInstance)));
    if (self == nullptr) return nullptr;
    self->engine = createInstanceEngine(hostRate, self->controls, self->loop);
    if (self->engine == nullptr) {
        free(self);
        return nullptr;
    }
    self->sampleRate = hostRate;
    return self;
}

}  // namespace

// The defaults are computed in the engine's mode whatever the caller's, so
// that every instance starts from the same bits.
PluginInstance* createPluginInstance(double hostRate) {
    const FloatModeSave save = enterEngineFloatMode();
    PluginInstance* self = createInEngineMode(hostRate);
    leaveEngineFloatMode(save);
    return self;
}

EngineState* createInstanceEngine(double hostRate, ControlPorts& controls, BlockLoop& loop) {
    EngineState* engine = createEngineState();
    if (engine == nullptr) return nullptr;
    engine->sampleRate = static_cast<float>(hostRate);
    loop = kFreshBlockLoop;
    initControlPorts(controls, loop);
    return engine;
}

void destroyPluginInstance(PluginInstance* self) {
    if (self == nullptr) return;
    destroyEngineState(self->engine);
    free(self);
}

void connectPluginPort(PluginInstance& self, uint32_t port, void* data) { connectPort(self.controls, port, data); }

void runPlugin(PluginInstance& self, uint32_t sampleCount) {
    const FloatModeSave save = enterEngineFloatMode();
    EngineState& engine = *self.engine;
    applyControlChanges(self.controls, engine, self.loop);
    float* const* ports = self.controls.port;
    runBlockLoop(self.loop, engine, ports[PortAudioIn], ports[PortAudioOutLeft], ports[PortAudioOutRight],
                 sampleCount);
    leaveEngineFloatMode(save);
}
