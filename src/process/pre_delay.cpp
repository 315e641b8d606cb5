#include "process/pre_delay.h"

#include <stdlib.h>

namespace {

inline float tap(const PreDelay& line, uint32_t delay) {
    const uint32_t at = line.write >= delay ? line.write - delay : line.write + line.capacity - delay;
    return line.ring[at];
}

}  // namespace

bool initPreDelay(PreDelay& line, uint32_t maxDelay, uint32_t fadeLength) {
    line = PreDelay{};
    line.ring = static_cast<float*>(calloc(static_cast<size_t>(maxDelay) + 1, sizeof(float)));
    if (line.ring == nullptr) return false;
    line.capacity = maxDelay + 1;
    line.fadeLength = fadeLength == 0 ? 1 : fadeLength;
    line.fadeStep = 1.0f / static_cast<float>(line.fadeLength);
    return true;
}

void freePreDelay(PreDelay& line) {
    free(line.ring);
    line = PreDelay{};
}

uint32_t preDelaySamples(const PreDelay& line, float milliseconds, double rate) {
    const double samples = static_cast<double>(milliseconds) * 0.001 * rate + 0.5;
    const uint32_t longest = line.capacity - 1;
    if (!(samples >= 1.0)) return 0;  // NaN too
    return samples >= static_cast<double>(longest) ? longest : static_cast<uint32_t>(samples);
}

void jumpPreDelay(PreDelay& line, uint32_t delay) {
    line.delay = line.target = line.fadeTo = delay;
    line.fadeLeft = 0;
}

void runPreDelay(PreDelay& line, float* x, uint32_t n) {
    if (line.fadeLeft == 0 && line.target == line.delay) {
        // Steady: each sample in, the one `delay` samples older out.
        for (uint32_t k = 0; k < n; ++k) {
            line.ring[line.write] = x[k];
            x[k] = tap(line, line.delay);
            line.write = line.write + 1 == line.capacity ? 0 : line.write + 1;
        }
        return;
    }
    for (uint32_t k = 0; k < n; ++k) {
        line.ring[line.write] = x[k];
        if (line.fadeLeft == 0 && line.target != line.delay) {
            line.fadeTo = line.target;
            line.fadeLeft = line.fadeLength;
        }
        if (line.fadeLeft == 0) {
            x[k] = tap(line, line.delay);
        } else {
            const float from = tap(line, line.delay);
            const float share = static_cast<float>(line.fadeLength - line.fadeLeft + 1) * line.fadeStep;
            x[k] = from + share * (tap(line, line.fadeTo) - from);
            if (--line.fadeLeft == 0) line.delay = line.fadeTo;
        }
        line.write = line.write + 1 == line.capacity ? 0 : line.write + 1;
    }
}
