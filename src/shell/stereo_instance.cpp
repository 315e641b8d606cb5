#include "shell/stereo_instance.h"

#include <stdlib.h>

#include "shell/diagnostic_log.h"
#include "shell/float_mode.h"
#include "shell/plugin_instance.h"

namespace {

StereoInstance* createInEngineMode(double hostRate) {
    openDiagnosticLog();
    StereoInstance* self = static_cast<StereoInstance*>(calloc(1, sizeof(StereoInstance)));
    if (self == nullptr) return nullptr;
    if (!initStereoLoop(self->stereo, hostRate)) {
        logMessage(0, "stereo: no instance at a host rate of %g Hz", hostRate);
        free(self);
        return nullptr;
    }
    if (!self->stereo.bridge.converting && hostRate != kEngineRate) {
        logMessage(0, "stereo: %g Hz is not converted to 48 kHz; the room scales with the rate", hostRate);
    }
    self->engine = createInstanceEngine(hostRate, self->controls, self->loop);
    if (self->engine == nullptr) {
        freeStereoLoop(self->stereo);
        free(self);
        return nullptr;
    }
    self->sampleRate = hostRate;
    return self;
}

}  // namespace

// In the engine's floating-point mode, as the mono-input plug-in's
// instances, so that the converters' taps and the defaults are the same
// bits whatever the caller's mode.
StereoInstance* createStereoInstance(double hostRate) {
    const FloatModeSave save = enterEngineFloatMode();
    StereoInstance* self = createInEngineMode(hostRate);
    leaveEngineFloatMode(save);
    return self;
}

void destroyStereoInstance(StereoInstance* self) {
    if (self == nullptr) return;
    destroyEngineState(self->engine);
    freeStereoLoop(self->stereo);
    free(self);
}

void connectStereoInstancePort(StereoInstance& self, uint32_t port, void* data) {
    connectStereoPort(self.ports, self.controls, port, data);
}

void runStereoInstance(StereoInstance& self, uint32_t sampleCount) {
    const FloatModeSave save = enterEngineFloatMode();
    EngineState& engine = *self.engine;
    applyControlChanges(self.controls, engine, self.loop);
    const StereoTargets targets = readStereoTargets(self.ports, self.loop.mixSmoother.target);
    if (!self.started) {
        startAtControlValues(self.loop, engine);
        startStereoLoop(self.stereo, targets);
        self.started = true;
    }
    float* const* audio = self.ports.audio;
    runStereoLoop(self.stereo, self.loop, engine, targets, audio[StereoInLeft], audio[StereoInRight],
                  audio[StereoOutLeft], audio[StereoOutRight], sampleCount);
    leaveEngineFloatMode(save);
}
