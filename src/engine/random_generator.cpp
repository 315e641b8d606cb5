#include "engine/random_generator.h"

namespace {

constexpr uint32_t kWordsApart = 3;  // each draw adds the words 31 and 3 draws old
constexpr int kDiscardedDraws = 10 * kRandomWords;

}  // namespace

void seedRandom(RandomGenerator& generator, uint32_t seed) {
    if (seed == 0) seed = 1;
    // 16807 * word mod (2^31 - 1) without overflow (Schrage), on the seed
    // taken as a signed 32-bit word as the library takes it.
    int32_t word = static_cast<int32_t>(seed);
    generator.words[0] = seed;
    for (uint32_t i = 1; i < kRandomWords; ++i) {
        const int64_t hi = word / 127773;
        const int64_t lo = word % 127773;
        word = static_cast<int32_t>(16807 * lo - 2836 * hi);
        if (word < 0) word += 2147483647;
        generator.words[i] = static_cast<uint32_t>(word);
    }
    generator.front = kWordsApart;
    generator.rear = 0;
    for (int k = 0; k < kDiscardedDraws; ++k) (void)nextRandom(generator);
}

int32_t nextRandom(RandomGenerator& generator) {
    const uint32_t sum = generator.words[generator.front] += generator.words[generator.rear];
    generator.front = generator.front + 1 == kRandomWords ? 0 : generator.front + 1;
    generator.rear = generator.rear + 1 == kRandomWords ? 0 : generator.rear + 1;
    return static_cast<int32_t>(sum >> 1);
}
