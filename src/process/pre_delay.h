// A mono delay line of a whole number of samples, whose length can change
// while audio runs: the change crossfades from the old tap to the new one,
// so that moving it never clicks.
#pragma once

#include <stdint.h>

struct PreDelay {
    float* ring;
    uint32_t capacity;     // longest delay + 1
    uint32_t write;        // where the next sample goes
    uint32_t delay;        // samples; during a crossfade, the tap faded from
    uint32_t target;       // the delay asked for
    uint32_t fadeTo;       // the tap a crossfade moves to
    uint32_t fadeLeft;     // samples of the crossfade still to run, 0: none
    uint32_t fadeLength;
    float fadeStep;        // 1 / fadeLength
};

// Memory for delays of up to maxDelay samples, all silent, delay 0.
bool initPreDelay(PreDelay& line, uint32_t maxDelay, uint32_t fadeLength);
void freePreDelay(PreDelay& line);

// The delay in samples for a time in ms at `rate`: rounded to the nearest
// sample, within 0 .. the line's longest (NaN gives 0).
uint32_t preDelaySamples(const PreDelay& line, float milliseconds, double rate);

// Asks for a new delay: a crossfade starts at once, or when the one running
// ends.
inline void setPreDelayTarget(PreDelay& line, uint32_t delay) { line.target = delay; }
// Takes a delay at once, without a crossfade (before audio begins).
void jumpPreDelay(PreDelay& line, uint32_t delay);

// Delays n samples of x in place.
void runPreDelay(PreDelay& line, float* x, uint32_t n);
