// A random generator owned by one instance that gives, seed for seed, the
// very sequence of the C library's srand/rand (glibc's additive feedback
// generator), so that the unit lengths and taps stay what they were while
// no instance touches the process-wide generator, its lock or its state.
#pragma once

#include <stdint.h>

constexpr uint32_t kRandomWords = 31;

struct RandomGenerator {
    uint32_t words[kRandomWords];
    uint32_t front;  // the word 31 draws old, which the next draw replaces
    uint32_t rear;   // the word 3 draws old, which it adds to it
};

// As srand(seed); seed 0 counts as 1. A generator never seeded must be
// seeded with 1, as the C library's starts.
void seedRandom(RandomGenerator& generator, uint32_t seed);
// As rand(): 0 .. 2^31 - 1.
int32_t nextRandom(RandomGenerator& generator);
