#include <gtest/gtest.h>
#include <stdlib.h>

#include "control_test_bank.h"
#include "engine/random_generator.h"

namespace {

// The first `count` draws of the C library after srand(seed) against ours.
// Returns the index of the first difference, or count.
int firstDifference(uint32_t seed, int count, RandomGenerator& ours) {
    srand(seed);
    for (int k = 0; k < count; ++k)
        if (nextRandom(ours) != rand()) return k;
    return count;
}

}  // namespace

// Seeds at the edges (0 counts as 1; those at or above 2^31 enter the
// seeding as negative words) and a spread of others, each over a long run.
TEST(RandomGenerator, GivesTheCLibrarySequenceForEverySeed) {
    std::vector<uint32_t> seeds = {0, 1, 2, 3, 40, 70, 127773, 2147483646u, 2147483647u, 2147483648u, 4294967295u};
    uint32_t spread = 7;
    for (int i = 0; i < 300; ++i) seeds.push_back(spread = spread * 2654435761u + 12345u);
    for (uint32_t seed : seeds) {
        RandomGenerator ours;
        seedRandom(ours, seed);
        const int count = seed < 71 ? 3000000 : 5000;
        ASSERT_EQ(firstDifference(seed, count, ours), count) << "seed " << seed;
    }
}

// A new engine's generator starts where the C library's does before any
// srand (as seeded with 1), and reseeding forgets everything drawn before.
TEST(RandomGenerator, StartsAsSeededWithOneAndReseedsCleanly) {
    EnginePtr engine = freshEngine();
    RandomGenerator& ours = engine->bank.random;
    ASSERT_EQ(firstDifference(1, 1000, ours), 1000);
    seedRandom(ours, 40);
    ASSERT_EQ(firstDifference(40, 1000, ours), 1000);
}
