#include "process/routing.h"

#include <string.h>

#include "engine/engine_state.h"
#include "kernels/unit_kernel.h"

void routeUnitBank(UnitBank& bank, float* left, float* right, uint32_t n) {
    const uint64_t count = bank.unitCount;
    switch (bank.routingMode) {
        case RoutingParallel:
            processUnits(bank, 0, count, left, left, right, n);
            break;
        case RoutingSeries: {  // an odd unit goes to the second half
            const uint64_t half = count / 2;
            processUnits(bank, 0, half, left, left, right, n);
            // Fold the first half's pair into the second half's input.
            for (uint32_t k = 0; k < n; ++k) left[k] = (left[k] + right[k]) * 6.0f;
            processUnits(bank, half, count, left, left, right, n);
            break;
        }
        case RoutingEvenOdd:  // the odd units take the even units' right output
            processAlternateUnits(bank, 0, count, left, left, left, n);
            processAlternateUnits(bank, 1, count, left, right, right, n);
            break;
        default:
            // No arrangement: the bank is bypassed and the input stage's
            // signal stands for both processed channels, so the image stays
            // centred and the right output never carries stale host memory.
            memcpy(right, left, n * sizeof(float));
            break;
    }
}
