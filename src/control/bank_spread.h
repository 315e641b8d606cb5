// How a pair of values for the first and the last unit is spread over the
// active units of the bank. Unit 0 always receives the first value exactly;
// with one unit the last value has no effect and nothing divides by zero.
#pragma once

#include <math.h>
#include <stdint.h>

#include "control/control_constants.h"

// Straight line: first + (last - first) * (k * (1 / (count - 1))).
inline float spreadLinear(float first, float last, uint64_t k, uint64_t count) {
    if (count < 2) return first;
    const float step = 1.0f / static_cast<float>(count - 1);
    return fmaf(last - first, static_cast<float>(k) * step, first);
}

// Power curve: the fraction (k / (count - 1))^exponent of the way. The power
// is taken in double precision, the fraction by a true division.
inline float spreadCurved(float first, float last, float exponent, uint64_t k, uint64_t count) {
    if (count < 2) return first;
    const float t = static_cast<float>(k) / static_cast<float>(count - 1);
    const float p = static_cast<float>(pow(static_cast<double>(t), static_cast<double>(exponent)));
    return fmaf(last - first, p, first);
}

// Equal ratios between neighbouring units: first * (last / first)^(k / (count - 1)),
// formed as octaveBase^(k * octaves) with octaveBase = 2^(1 / (count - 1)).
struct GeometricSpread {
    float first;
    float octaveBase;
    float octaves;  // from the first to the last value
    uint64_t count;
};

inline GeometricSpread makeGeometricSpread(float first, float last, uint64_t count) {
    GeometricSpread spread = {first, 1.0f, 0.0f, count};
    if (count < 2) return spread;
    spread.octaveBase = powf(2.0f, 1.0f / static_cast<float>(count - 1));
    spread.octaves = logf(last / first) * kOctavesPerNepers;
    return spread;
}

inline float geometricSpreadAt(const GeometricSpread& spread, uint64_t k) {
    if (spread.count < 2) return spread.first;
    const float exponent = static_cast<float>(k) * spread.octaves;
    const double ratio = pow(static_cast<double>(spread.octaveBase), static_cast<double>(exponent));
    return static_cast<float>(ratio * static_cast<double>(spread.first));
}
