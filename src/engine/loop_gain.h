// The largest loop gain a unit may have, shared by the control stage and the
// kernels' glide end, which each compute a gain for -60 dB after the decay
// time and must keep the loop's gain below 1.
#pragma once

constexpr float kLoopGainLimit = 0.99999982f;  // 0x3F7FFFFD: three units in the last place below 1

// Held inside [-kLoopGainLimit, kLoopGainLimit]; NaN gives the upper limit.
inline float clampLoopGain(float gain) {
    if (gain < -kLoopGainLimit) return -kLoopGainLimit;
    if (gain <= kLoopGainLimit) return gain;
    return kLoopGainLimit;
}
