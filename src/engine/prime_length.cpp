#include "engine/prime_length.h"

#include <math.h>

#include "engine/float_to_int.h"

namespace {

// The rule itself; limit is floor(sqrt(n)).
constexpr bool candidateByTrialDivision(uint64_t n, uint64_t limit) {
    if (limit <= 4) return true;
    if (n % 5 == 0 || n % 7 == 0) return false;
    for (uint64_t i = 5;; i += 6) {
        if (limit < i + 6) return true;
        if (n % (i + 6) == 0 || n % (i + 8) == 0) return false;
    }
}

constexpr uint64_t floorSqrt(uint64_t n) {
    uint64_t root = 0;
    while ((root + 1) * (root + 1) <= n) ++root;
    return root;
}

// The answer for every odd n below 2^16, worked out by the compiler: every
// unit length and its search fall in there, and a control change searches
// lengths for the whole bank, so the trial divisions are kept off that path.
// The table is sieved: each divisor the rule tries strikes its odd multiples
// from the first n whose root reaches the divisor's turn (25 for 5 and 7,
// (6m+5)^2 for the pair 6m+5, 6m+7). The tests hold it to the rule itself.
constexpr uint64_t kTabledBelow = 1u << 16;
struct OddCandidates {
    uint64_t bits[kTabledBelow / 128];
};

constexpr void strikeOddMultiples(OddCandidates& table, uint64_t divisor, uint64_t from) {
    uint64_t n = (from + divisor - 1) / divisor * divisor;
    if (n % 2 == 0) n += divisor;
    for (; n < kTabledBelow; n += 2 * divisor) table.bits[n / 128] &= ~(uint64_t{1} << (n / 2 % 64));
}

constexpr OddCandidates tabulateOddCandidates() {
    OddCandidates table{};
    for (uint64_t& word : table.bits) word = ~uint64_t{0};
    strikeOddMultiples(table, 5, 25);
    strikeOddMultiples(table, 7, 25);
    for (uint64_t first = 11; first * first < kTabledBelow; first += 6) {
        strikeOddMultiples(table, first, first * first);
        strikeOddMultiples(table, first + 2, first * first);
    }
    return table;
}

constexpr OddCandidates kOddCandidates = tabulateOddCandidates();

constexpr bool tabled(uint64_t n) { return (kOddCandidates.bits[n / 128] >> (n / 2 % 64) & 1u) != 0; }
static_assert(tabled(211) && tabled(291) && !tabled(121) && !tabled(169) && tabled(24 * 24 + 1) &&
                  candidateByTrialDivision(211, floorSqrt(211)) && !candidateByTrialDivision(121, floorSqrt(121)),
              "sieve and trial division");

}  // namespace

bool isPrimeCandidate(uint64_t n) {
    if (n < kTabledBelow && n % 2 == 1) return tabled(n);
    return candidateByTrialDivision(n, static_cast<uint64_t>(sqrt(static_cast<double>(n))));
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
