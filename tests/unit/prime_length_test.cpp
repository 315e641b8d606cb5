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
