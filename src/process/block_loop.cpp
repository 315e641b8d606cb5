#include "process/block_loop.h"

#include "shell/plugin_instance.h"

// Placeholder until the audio path lands.
void runBlockLoop(PluginInstance&, uint32_t) {}
