// The corners of the declared control ranges, through the staged binary:
// every routing x filter type x stereo combination, crossed with a design
// that sets the other eighteen ports to their minimum or maximum so that
// every pair of them meets in all four min/max combinations. Loud noise and
// clicks must give finite output of bounded level at every corner.
#include <gtest/gtest.h>
#include <math.h>

#include <random>
#include <vector>

#include "preset_instance.h"
#include "staged_plugin.h"

namespace {

constexpr uint32_t kStereoPort = 12, kRoutingPort = 13, kFilterPort = 18;

// Rows of a covering array of strength 2 for `factors` two-level factors:
// row 0 is all minimum; column j is the j-th 4-element subset of rows 1..7
// (any two such subsets overlap and neither holds the other, so every pair
// of columns shows 00, 01, 10 and 11); a last row is all maximum.
std::vector<std::vector<bool>> pairwiseDesign(size_t factors) {
    std::vector<std::vector<bool>> rows(9, std::vector<bool>(factors, false));
    size_t column = 0;
    for (unsigned subset = 0; subset < 128 && column < factors; ++subset) {
        if (__builtin_popcount(subset) != 4) continue;
        for (unsigned row = 1; row <= 7; ++row) rows[row][column] = (subset >> (row - 1)) & 1u;
        ++column;
    }
    rows[8].assign(factors, true);
    return rows;
}

bool coversEveryPair(const std::vector<std::vector<bool>>& rows) {
    const size_t factors = rows[0].size();
    for (size_t a = 0; a < factors; ++a) {
        for (size_t b = a + 1; b < factors; ++b) {
            unsigned seen = 0;
            for (const auto& row : rows) seen |= 1u << (row[a] * 2 + row[b]);
            if (seen != 15u) return false;
        }
    }
    return true;
}

// Full-scale noise, then clicks.
std::vector<float> loudSignal() {
    std::mt19937 random(99);
    std::uniform_real_distribution<float> full(-1.0f, 1.0f);
    std::vector<float> signal(14400, 0.0f);
    for (size_t k = 0; k < 9600; ++k) signal[k] = full(random);
    for (size_t k = 9600; k < signal.size(); k += 1200) signal[k] = 1.0f;
    return signal;
}

TEST(HardenCornerSweep, EveryCornerOfTheRangesGivesFiniteBoundedOutput) {
    StagedPlugin staged;
    ASSERT_NE(staged.plugin, nullptr);
    const StagedPlugin::Ranges ranges = staged.ranges();
    std::vector<uint32_t> twoLevelPorts;
    for (uint32_t port = 3; port < kPortCount; ++port) {
        if (port != kStereoPort && port != kRoutingPort && port != kFilterPort) twoLevelPorts.push_back(port);
    }
    const std::vector<std::vector<bool>> design = pairwiseDesign(twoLevelPorts.size());
    ASSERT_TRUE(coversEveryPair(design));

    const std::vector<float> signal = loudSignal();
    // Far below where float arithmetic overflows, far above what the ranges
    // give (the loudest corners peak near 135 on this signal and stay near
    // 100 over seconds of full-scale noise): a loop that runs away passes it
    // within the render.
    const float bound = 1e4f;
    float loudest = 0.0f;
    size_t corners = 0;
    for (float routing = ranges.minimum[kRoutingPort]; routing <= ranges.maximum[kRoutingPort]; routing += 1.0f) {
        for (float filter = ranges.minimum[kFilterPort]; filter <= ranges.maximum[kFilterPort]; filter += 1.0f) {
            for (float stereo : {ranges.minimum[kStereoPort], ranges.maximum[kStereoPort]}) {
                for (size_t r = 0; r < design.size(); ++r) {
                    SCOPED_TRACE(testing::Message() << "routing " << routing << " filter " << filter << " stereo "
                                                    << stereo << " design row " << r);
                    PresetInstance host(staged, 48000.0, 512);
                    ASSERT_NE(host.instance, nullptr);
                    host.controls[kRoutingPort] = routing;
                    host.controls[kFilterPort] = filter;
                    host.controls[kStereoPort] = stereo;
                    for (size_t f = 0; f < twoLevelPorts.size(); ++f) {
                        const uint32_t port = twoLevelPorts[f];
                        host.controls[port] = design[r][f] ? ranges.maximum[port] : ranges.minimum[port];
                    }
                    std::vector<float> left, right;
                    host.render(signal, left, right);
                    float peak = 0.0f;
                    for (size_t k = 0; k < left.size(); ++k) {
                        ASSERT_TRUE(isfinite(left[k]) && isfinite(right[k])) << "sample " << k;
                        peak = fmaxf(peak, fmaxf(fabsf(left[k]), fabsf(right[k])));
                    }
                    ASSERT_LT(peak, bound);
                    loudest = fmaxf(loudest, peak);
                    ++corners;
                }
            }
        }
    }
    printf("corner sweep: %zu corners, loudest peak %g\n", corners, loudest);
    EXPECT_EQ(corners, 3u * 8u * 2u * 9u);
}

}  // namespace
