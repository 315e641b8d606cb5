// The stereo companion's descriptor and its callbacks; its shared object
// exports it through stereo_lv2_entry.cpp.
#include "shell/stereo_descriptor.h"

#include "shell/stereo_instance.h"

#define ZT_STEREO_PLUGIN_URI "http://zulvamoret.org/plugins/zulvamoret-tarnwise-stereo"

namespace {

// Instantiation class.
LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
    return createStereoInstance(sampleRate);
}

// Audio class.
void connect_port(LV2_Handle instance, uint32_t port, void* data) {
    connectStereoInstancePort(*static_cast<StereoInstance*>(instance), port, data);
}

// Instantiation class. The tail, the pre-delay and the converters carry on
// as they were, as in the mono-input plug-in.
void activate(LV2_Handle) {}

// Audio class.
void run(LV2_Handle instance, uint32_t sampleCount) {
    runStereoInstance(*static_cast<StereoInstance*>(instance), sampleCount);
}

// Instantiation class.
void deactivate(LV2_Handle) {}

// Instantiation class.
void cleanup(LV2_Handle instance) { destroyStereoInstance(static_cast<StereoInstance*>(instance)); }

// Discovery class. No extension is offered.
const void* extension_data(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    ZT_STEREO_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

}  // namespace

const LV2_Descriptor* stereoDescriptor() { return &kDescriptor; }
