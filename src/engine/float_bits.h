// Floats given by their exact bit patterns, for constants whose last bit
// matters more than their decimal spelling.
#pragma once

#include <stdint.h>
#include <string.h>

inline float floatFromBits(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}
