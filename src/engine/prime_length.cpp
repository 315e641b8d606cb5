#include "engine/prime_length.h"

#include <math.h>
#include <string.h>

#include "engine/float_to_int.h"

bool isPrimeCandidate(uint64_t n) {
    const uint64_t limit = static_cast<uint64_t>(sqrt(static_cast<double>(n)));
    if (limit <= 4) return true;
    if (n % 5 == 0 || n % 7 == 0) return false;
    for (uint64_t i = 5;; i += 6) {
        if (limit < i + 6) return true;
        if (n % (i + 6) == 0 || n % (i + 8) == 0) return false;
    }
}

uint64_t nextPrimeLength(float samples, uint64_t lowerBound, uint64_t upperBound) {
    const uint64_t start = truncateToU64(samples);
    uint64_t candidate = start < 101 ? 101 : (start | 1u);
    if (candidate > upperBound) return upperBound;  // searching could only go further up
    while (!isPrimeCandidate(candidate)) candidate += 2;
    if (candidate > upperBound) candidate = upperBound;
    if (candidate < lowerBound) candidate = lowerBound;
    return candidate;
}

void sizeDiffuser(Diffuser& diffuser) {
    const float samples = diffuser.sizingRate * (diffuser.delayMs * 0.001f);
    diffuser.length = nextPrimeLength(samples, kDiffuserLengthMin, kDiffuserLengthMax);
    memset(diffuser.ring, 0, sizeof diffuser.ring);
}
