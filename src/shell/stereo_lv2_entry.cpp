// The stereo companion's shared object: its one export.
#include <lv2/core/lv2.h>

#include "shell/stereo_descriptor.h"

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? stereoDescriptor() : nullptr;
}
