#include <gtest/gtest.h>
#include <math.h>

#include "engine/prime_length.h"

TEST(PrimeLength, CandidateTestTriesNeitherTwoNorThree) {
    for (uint64_t n : {211u, 163u, 563u, 409u, 101u, 111u, 291u}) EXPECT_TRUE(isPrimeCandidate(n)) << n;
    for (uint64_t n : {105u, 121u, 169u, 625u}) EXPECT_FALSE(isPrimeCandidate(n)) << n;
}

TEST(PrimeLength, SearchThenClamp) {
    EXPECT_EQ(nextPrimeLength(0.0f, 301, 31999), 301u);
    EXPECT_EQ(nextPrimeLength(290.9f, 301, 31999), 301u);
    EXPECT_EQ(nextPrimeLength(1454.5f, 301, 31999), 1459u);
    EXPECT_EQ(nextPrimeLength(40000.0f, 301, 31999), 31999u);
    EXPECT_EQ(nextPrimeLength(700.0f, 5, 600), 600u);
    EXPECT_EQ(nextPrimeLength(100.0f, 5, 600), 101u);
    EXPECT_EQ(nextPrimeLength(102.0f, 5, 600), 103u);
}

TEST(PrimeLength, NonFiniteCountsStayInBounds) {
    EXPECT_EQ(nextPrimeLength(-5.0f, 301, 31999), 301u);
    EXPECT_EQ(nextPrimeLength(NAN, 301, 31999), 301u);
    EXPECT_EQ(nextPrimeLength(INFINITY, 301, 31999), 31999u);
    EXPECT_EQ(nextPrimeLength(-INFINITY, 5, 600), 101u);
}

TEST(PrimeLength, TabledAnswersMatchTrialDivisionAcrossTheTableEdge) {
    // 5 and 7 whenever the root passes 4, then each pair 6m+5, 6m+7 whose
    // first member is within the root.
    const auto byDivision = [](uint64_t n) {
        const uint64_t limit = static_cast<uint64_t>(sqrt(static_cast<double>(n)));
        if (limit <= 4) return true;
        if (n % 5 == 0 || n % 7 == 0) return false;
        for (uint64_t d = 11; d <= limit; d += 6)
            if (n % d == 0 || n % (d + 2) == 0) return false;
        return true;
    };
    uint64_t candidates = 0;
    for (uint64_t n = 0; n < (1u << 17); ++n) {
        ASSERT_EQ(isPrimeCandidate(n), byDivision(n)) << n;
        candidates += isPrimeCandidate(n);
    }
    EXPECT_GT(candidates, 20000u);
}
