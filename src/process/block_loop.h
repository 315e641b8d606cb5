// Second stage of run: the audio in 16-sample blocks.
#pragma once

#include <stdint.h>

struct PluginInstance;

void runBlockLoop(PluginInstance& self, uint32_t sampleCount);
