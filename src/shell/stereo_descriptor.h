// The stereo companion's LV2 descriptor, for its own shared object's entry
// point and for the tests that drive it as a host would.
#pragma once

#include <lv2/core/lv2.h>

const LV2_Descriptor* stereoDescriptor();
