// The LV2 boundary: one descriptor and its callbacks.
#include <lv2/core/lv2.h>

#include "shell/plugin_instance.h"

#define ZT_PLUGIN_URI "http://zulvamoret.org/plugins/zulvamoret-tarnwise"

namespace {

// Instantiation class.
LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
    return createPluginInstance(sampleRate);
}

// Audio class.
void connect_port(LV2_Handle instance, uint32_t port, void* data) {
    connectPluginPort(*static_cast<PluginInstance*>(instance), port, data);
}

// Instantiation class. Rings, glides, smoothers and caches carry on as they were.
void activate(LV2_Handle) {}

// Audio class.
void run(LV2_Handle instance, uint32_t sampleCount) { runPlugin(*static_cast<PluginInstance*>(instance), sampleCount); }

// Instantiation class.
void deactivate(LV2_Handle) {}

// Instantiation class.
void cleanup(LV2_Handle instance) { destroyPluginInstance(static_cast<PluginInstance*>(instance)); }

// Discovery class. No extension is offered.
const void* extension_data(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    ZT_PLUGIN_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
