// A unit's loop gain: the factor per trip around its loop that makes it fall
// by 60 dB in its decay time, kept below 1 so that the loop never grows.
// The control stage sets it after a port change, the kernels when a glide
// reaches its new length.
#pragma once

#include <math.h>
#include <stdint.h>

constexpr float kLoopGainLimit = 0x1.fffffap-1f;
static_assert(kLoopGainLimit == 1.0f - 3 * 0x1p-24f, "three units in the last place below 1");
constexpr float kMillisecond = 0.001f;    // seconds per millisecond
constexpr float kSixtyDecibels = 0.001f;  // the amplitude ratio of -60 dB

// Held inside [-kLoopGainLimit, kLoopGainLimit]; NaN gives the upper limit.
inline float clampLoopGain(float gain) {
    if (gain < -kLoopGainLimit) return -kLoopGainLimit;
    if (gain <= kLoopGainLimit) return gain;
    return kLoopGainLimit;
}

// The same gain computed twice, as 0.001^(length / samples in the decay
// time). The two products of the decay time round differently and give
// another float for about one (decay, length) pair in nine; each stays as
// it is because the gain a unit ends with is whichever of the two ran last,
// and either order changed would change the output.

// The control stage's: samples in the decay time as rate * 0.001 * decayMs.
inline float controlLoopGain(uint64_t length, float sampleRate, float decayMs) {
    const float loopsPerDecay = static_cast<float>(length) / (sampleRate * kMillisecond * decayMs);
    return clampLoopGain(powf(kSixtyDecibels, loopsPerDecay));
}

// The glide end's: samples in the decay time as decayMs * rate * 0.001.
inline float glideEndLoopGain(uint64_t length, float sampleRate, float decayMs) {
    const float loopsPerDecay = static_cast<float>(length) / (decayMs * sampleRate * kMillisecond);
    return clampLoopGain(powf(kSixtyDecibels, loopsPerDecay));
}
