// Delay lengths that are odd and free of small factors, so that the loops of
// the diffusers and the unit bank share as few resonances as possible.
#pragma once

#include <stdint.h>

constexpr uint64_t kUnitLengthMin = 301;
constexpr uint64_t kUnitLengthMax = 31999;
constexpr uint64_t kDiffuserLengthMin = 5;
constexpr uint64_t kDiffuserLengthMax = 600;

// Trial division by 5, 7 and the pairs 6m+5, 6m+7; 2 and 3 are never tried.
bool isPrimeCandidate(uint64_t n);

// Smallest candidate at or above max(trunc(samples), 101), odd, clamped to
// lowerBound..upperBound after the search.
uint64_t nextPrimeLength(float samples, uint64_t lowerBound, uint64_t upperBound);
