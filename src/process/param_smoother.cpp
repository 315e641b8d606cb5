#include "process/param_smoother.h"

bool tickSmoother(ParamSmoother& smoother) {
    smoother.counter += 1;
    if (smoother.counter < smoother.interval) return false;
    smoother.counter = 0;
    if (smoother.current == smoother.target) return false;
    // A NaN target fails every comparison and so always takes the downward
    // branch: current keeps falling instead of being poisoned.
    if (smoother.current < smoother.target) {
        const float candidate = smoother.current + smoother.step;
        smoother.current = candidate < smoother.target ? candidate : smoother.target;
    } else {
        const float candidate = smoother.current - smoother.step;
        smoother.current = smoother.target >= candidate ? smoother.target : candidate;
    }
    return true;
}
