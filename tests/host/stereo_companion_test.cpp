// The stereo companion as a host loads it through lilv: beside the
// mono-input plug-in in one bundle with the same controls and presets, the
// same room at every rate, each input on its own channel, exact pre-delay,
// no click from its own controls, a start at its lengths and a width that
// sets how alike the tail's channels are.
#include <gtest/gtest.h>
#include <math.h>

#include <set>
#include <string>
#include <vector>

#include "decay_analysis.h"
#include "preset_instance.h"
#include "stereo_host.h"
#include "support/spectrum.h"

namespace {

const double kRates[] = {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0};

std::vector<float> impulse(size_t length) {
    std::vector<float> x(length, 0.0f);
    x[0] = 1.0f;
    return x;
}

std::vector<float> sine(size_t length, double hz, double rate, float level) {
    std::vector<float> x(length);
    for (size_t n = 0; n < length; ++n) x[n] = level * static_cast<float>(sin(2 * M_PI * hz * n / rate));
    return x;
}

// The wet impulse response (mix 100 %) of the companion at its defaults
// and the given extra settings.
struct Response {
    std::vector<float> left, right;
};
Response wetResponse(const StagedPlugin& staged, double rate, double seconds,
                     const std::vector<std::pair<const char*, float>>& settings = {}) {
    StereoHost host(staged, rate);
    Response r;
    if (host.instance == nullptr) return r;
    host.set("mix", 100.0f);
    for (const auto& setting : settings) host.set(setting.first, setting.second);
    const std::vector<float> x = impulse(static_cast<size_t>(seconds * rate));
    host.render(x, x, r.left, r.right);
    return r;
}

// The room's measures: decay time, first arrival (the first sample within
// 40 dB of the loudest) and spectral centroid over 20 Hz .. 20 kHz of the
// first 0.5 s.
struct RoomMeasures {
    double t60 = 0, firstArrival = 0, centroid = 0;
};

RoomMeasures measureRoom(const Response& r, double rate) {
    RoomMeasures m;
    m.t60 = fitDecay(backwardIntegratedDb(squaredResponse({&r.left, &r.right}, 0)), rate).t60Seconds;
    float peak = 0.0f;
    for (size_t n = 0; n < r.left.size(); ++n) peak = std::max({peak, fabsf(r.left[n]), fabsf(r.right[n])});
    for (size_t n = 0; n < r.left.size(); ++n) {
        if (std::max(fabsf(r.left[n]), fabsf(r.right[n])) >= peak * 0.01f) {
            m.firstArrival = n / rate;
            break;
        }
    }
    size_t length = 1;
    while (length < rate / 2) length <<= 1;
    double weighted = 0, total = 0;
    for (const std::vector<float>* channel : {&r.left, &r.right}) {
        std::vector<std::complex<double>> spectrum(length);
        for (size_t n = 0; n < static_cast<size_t>(rate / 2); ++n) spectrum[n] = (*channel)[n];
        fft(spectrum);
        for (size_t k = 1; k < length / 2; ++k) {
            const double hz = k * rate / length;
            if (hz < 20.0 || hz > 20000.0) continue;
            weighted += hz * std::norm(spectrum[k]);
            total += std::norm(spectrum[k]);
        }
    }
    m.centroid = weighted / total;
    return m;
}

TEST(StereoCompanion, BothPlugInsInOneBundleWithTheSameControlsAndPresets) {
    StagedPlugin mono(ZT_PLUGIN_URI), stereo(ZT_STEREO_PLUGIN_URI);
    ASSERT_NE(mono.plugin, nullptr);
    ASSERT_NE(stereo.plugin, nullptr);
    EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_bundle_uri(mono.plugin)),
                 lilv_node_as_uri(lilv_plugin_get_bundle_uri(stereo.plugin)));
    EXPECT_STRNE(lilv_node_as_uri(lilv_plugin_get_library_uri(mono.plugin)),
                 lilv_node_as_uri(lilv_plugin_get_library_uri(stereo.plugin)));
    ASSERT_EQ(lilv_plugin_get_num_ports(stereo.plugin), kStereoPortCount);
    const StagedPlugin::Ranges m = mono.ranges(), s = stereo.ranges();
    for (uint32_t port = 3; port < kPortCount; ++port) {
        SCOPED_TRACE(mono.symbol(port));
        EXPECT_EQ(stereo.symbol(port + 1), mono.symbol(port));
        EXPECT_EQ(s.minimum[port + 1], m.minimum[port]);
        EXPECT_EQ(s.maximum[port + 1], m.maximum[port]);
        EXPECT_EQ(s.defaults[port + 1], m.defaults[port]);
    }
    // One project; the audio ports two stereo pairs, as hosts draw them.
    LilvNode *monoProject = lilv_plugin_get_project(mono.plugin), *stereoProject = lilv_plugin_get_project(stereo.plugin);
    ASSERT_NE(stereoProject, nullptr);
    ASSERT_NE(monoProject, nullptr);
    EXPECT_STREQ(lilv_node_as_uri(stereoProject), lilv_node_as_uri(monoProject));
    lilv_node_free(monoProject);
    lilv_node_free(stereoProject);
    const char* const channels[] = {"left", "right", "left", "right"};
    for (uint32_t port = 0; port < 4; ++port) {
        EXPECT_EQ(stereo.portValue(port, LV2_CORE "designation"),
                  std::string("http://lv2plug.in/ns/ext/port-groups#") + channels[port]);
    }
    EXPECT_EQ(stereo.symbol(25), "pre_delay");
    EXPECT_EQ(stereo.symbol(26), "width");
    EXPECT_EQ(stereo.symbol(27), "enabled");
    EXPECT_EQ(stereo.portValue(27, LV2_CORE "designation"), LV2_CORE "enabled");
    EXPECT_TRUE(stereo.portHasProperty(27, LV2_CORE "toggled"));
    EXPECT_EQ(s.defaults[27], 1.0f);

    std::set<std::string> monoPresets, stereoPresets;
    for (const BundlePreset& preset : loadBundlePresets(mono)) monoPresets.insert(preset.uri);
    for (const BundlePreset& preset : loadBundlePresets(stereo)) stereoPresets.insert(preset.uri);
    EXPECT_EQ(monoPresets.size(), 8u);
    EXPECT_EQ(stereoPresets, monoPresets);
}

// lilv's state API, as hosts apply presets, sets all 21 controls of the
// companion to each preset's values and leaves its own three alone.
TEST(StereoCompanion, PresetsApplyToItThroughLilv) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    for (const BundlePreset& preset : loadBundlePresets(stereo)) {
        SCOPED_TRACE(preset.uri);
        StereoHost host(stereo, 48000.0);
        ASSERT_NE(host.instance, nullptr);
        std::set<std::string> applied;
        ASSERT_TRUE(applyPresetThroughLilv(stereo, host.instance, preset.uri, [&](const char* symbol, float value) {
            applied.insert(symbol);
            return host.set(symbol, value);
        }));
        EXPECT_EQ(applied.size(), 21u);
        for (const auto& value : preset.values) {
            for (uint32_t port = kStereoFirstControl; port < kStereoPortCount; ++port) {
                if (stereo.symbol(port) != value.first) continue;
                EXPECT_EQ(host.controls[port], value.second) << value.first;
            }
        }
        EXPECT_EQ(host.controls[27], 1.0f);
    }
}

// The room at every rate against 48 kHz: decay time, first arrival and
// spectral balance within 2 %.
class StereoRates : public ::testing::TestWithParam<double> {};

TEST_P(StereoRates, TheRoomIsTheOneAt48kHz) {
    static StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    static const RoomMeasures reference = measureRoom(wetResponse(stereo, 48000.0, 3.0), 48000.0);
    const double rate = GetParam();
    const RoomMeasures m = measureRoom(wetResponse(stereo, rate, 3.0), rate);
    printf("%6.1f kHz: T60 %.4f s, first arrival %.4f ms, centroid %.1f Hz\n", rate / 1000, m.t60,
           m.firstArrival * 1e3, m.centroid);
    EXPECT_NEAR(m.t60, reference.t60, 0.02 * reference.t60);
    EXPECT_NEAR(m.firstArrival, reference.firstArrival, 0.02 * reference.firstArrival);
    EXPECT_NEAR(m.centroid, reference.centroid, 0.02 * reference.centroid);
}

INSTANTIATE_TEST_SUITE_P(HostRates, StereoRates, ::testing::ValuesIn(kRates));

// A signal in one input and silence in the other, each way round, and the
// signal against its negative: the reverb hears both inputs alike (the
// same wet bits whichever side the signal is on, none when they cancel),
// and each input's dry signal leaves on its own side only.
TEST(StereoCompanion, EachInputKeepsItsSideAndBothFeedTheReverb) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const double rate = 44100.0;
    const std::vector<float> x = sine(22050, 330.0, rate, 0.5f), silence(x.size(), 0.0f);
    std::vector<float> negative(x.size());
    for (size_t n = 0; n < x.size(); ++n) negative[n] = -x[n];
    Response fromLeft, fromRight, opposed;
    const struct {
        const std::vector<float>& left;
        const std::vector<float>& right;
        Response& out;
    } runs[] = {{x, silence, fromLeft}, {silence, x, fromRight}, {x, negative, opposed}};
    for (const auto& run : runs) {
        StereoHost host(stereo, rate);
        ASSERT_NE(host.instance, nullptr);
        host.render(run.left, run.right, run.out.left, run.out.right);
    }
    // The default mix, 30 %: dry gain (cos a - sin a) / sqrt 2, a = 0.3 pi / 4.
    const float dryGain = static_cast<float>((cos(0.3 * M_PI / 4) - sin(0.3 * M_PI / 4)) / sqrt(2.0));
    double wetEnergy = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        ASSERT_NEAR(fromLeft.left[n] - fromRight.left[n], dryGain * x[n], 1e-6) << n;
        ASSERT_NEAR(fromRight.right[n] - fromLeft.right[n], dryGain * x[n], 1e-6) << n;
        ASSERT_NEAR(opposed.left[n], dryGain * x[n], 1e-6) << n;
        ASSERT_NEAR(opposed.right[n], -dryGain * x[n], 1e-6) << n;
        wetEnergy += static_cast<double>(fromLeft.right[n]) * fromLeft.right[n];
    }
    EXPECT_GT(wetEnergy, 10.0) << "the silent side's output carries the reverb of the other input";
}

// Pre-delay moves the whole wet signal by the nearest whole number of host
// samples: the responses with and without it line up best at exactly that
// shift (without modulation, whose phase would differ).
struct PreDelayCase {
    double rate;
    float milliseconds;
    size_t samples;
};

double correlationAt(const std::vector<float>& delayed, const std::vector<float>& original, size_t lag) {
    double cross = 0, a = 0, b = 0;
    for (size_t n = 0; n + lag < delayed.size(); ++n) {
        cross += static_cast<double>(delayed[n + lag]) * original[n];
        a += static_cast<double>(delayed[n + lag]) * delayed[n + lag];
        b += static_cast<double>(original[n]) * original[n];
    }
    return cross / sqrt(a * b);
}

TEST(StereoCompanion, PreDelayIsExactInHostSamples) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const PreDelayCase cases[] = {{44100.0, 10.0f, 441}, {48000.0, 500.0f, 24000}, {96000.0, 123.4f, 11846},
                                  {192000.0, 0.5f, 96}};
    for (const PreDelayCase& c : cases) {
        SCOPED_TRACE(c.rate);
        const double seconds = 0.3 + c.milliseconds * 1e-3;
        const Response plain = wetResponse(stereo, c.rate, seconds, {{"mod_depth_first", 0.0f}, {"mod_depth_last", 0.0f}});
        const Response delayed = wetResponse(stereo, c.rate, seconds,
                                             {{"mod_depth_first", 0.0f}, {"mod_depth_last", 0.0f}, {"pre_delay", c.milliseconds}});
        const double at = correlationAt(delayed.left, plain.left, c.samples);
        EXPECT_GT(at, 0.999);
        EXPECT_GT(at, correlationAt(delayed.left, plain.left, c.samples - 1));
        EXPECT_GT(at, correlationAt(delayed.left, plain.left, c.samples + 1));
        for (size_t n = 0; n < c.samples; ++n) ASSERT_EQ(delayed.left[n], 0.0f) << n;
    }
}

// The bank runs at its lengths from the first sample: the response of a
// new instance is the one it gives once everything has settled, 8 s later
// (without modulation nothing else moves, and 8 s is a whole number of
// periods of every converter's clock).
TEST(StereoCompanion, StartsAtItsLengthsFromTheFirstSample) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const double rate = 44100.0;
    StereoHost host(stereo, rate);
    ASSERT_NE(host.instance, nullptr);
    host.set("mix", 100.0f);
    host.set("mod_depth_first", 0.0f);
    host.set("mod_depth_last", 0.0f);
    host.set("decay_first", 300.0f);
    host.set("decay_last", 300.0f);
    const size_t length = static_cast<size_t>(8 * rate);
    std::vector<float> x(length, 0.0f);
    x[0] = 1.0f;
    Response first, later;
    host.render(x, x, first.left, first.right);
    host.render(x, x, later.left, later.right);
    double difference = 0, energy = 0;
    for (size_t n = 0; n < static_cast<size_t>(0.5 * rate); ++n) {
        difference += std::pow(first.left[n] - later.left[n], 2) + std::pow(first.right[n] - later.right[n], 2);
        energy += std::pow(later.left[n], 2) + std::pow(later.right[n], 2);
    }
    printf("start vs settled: %.3g\n", difference / energy);
    EXPECT_LT(difference, 1e-10 * energy);
}

// The late tail's inter-channel correlation at the defaults and at the
// ends of the width control.
double lateCorrelation(const Response& r, double rate) {
    double cross = 0, a = 0, b = 0;
    for (size_t n = static_cast<size_t>(0.2 * rate); n < r.left.size(); ++n) {
        cross += static_cast<double>(r.left[n]) * r.right[n];
        a += static_cast<double>(r.left[n]) * r.left[n];
        b += static_cast<double>(r.right[n]) * r.right[n];
    }
    return cross / sqrt(a * b);
}

TEST(StereoCompanion, WidthSetsHowAlikeTheTailsChannelsAre) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const double rate = 48000.0;
    const struct {
        float width;  // NaN: the default
        double lowest, highest;
    } cases[] = {{NAN, -0.2, 0.2}, {0.0f, 0.9999, 1.0001}, {100.0f, 0.4, 0.6}, {200.0f, -1.0, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        std::vector<std::pair<const char*, float>> settings;
        if (!std::isnan(c.width)) settings.push_back({"width", c.width});
        const double correlation = lateCorrelation(wetResponse(stereo, rate, 1.5, settings), rate);
        printf("width %g: late-tail correlation %.3f\n", c.width, correlation);
        EXPECT_GE(correlation, c.lowest);
        EXPECT_LE(correlation, c.highest);
    }
}

// No control of the companion's own clicks. With a 1 kHz sine in each
// input the output is a 1 kHz sine whose level changes slowly (dry, wet and
// reverb all stay at that frequency), so no step from one sample to the
// next can exceed what a sine of the local peak level makes,
// w * peak with w = 2 pi 1000 / rate; a click can. The measure is checked
// on a hard switch made here by hand.
constexpr double kToneHz = 1000.0;

// The largest step over [from, to), each against the peak level within two
// periods of it.
double largestStepToSine(const std::vector<float>& y, size_t from, size_t to, double rate) {
    const size_t reach = static_cast<size_t>(2 * rate / kToneHz);
    const double w = 2 * M_PI * kToneHz / rate;
    double largest = 0;
    for (size_t n = from; n < to; ++n) {
        double peak = 0;
        for (size_t k = n - reach; k <= n + reach; ++k) peak = std::max(peak, fabs(static_cast<double>(y[k])));
        largest = std::max(largest, fabs(static_cast<double>(y[n]) - y[n - 1]) / (w * peak));
    }
    return largest;
}

TEST(StereoCompanion, ItsOwnControlsDoNotClick) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const double rate = 44100.0;
    const size_t half = static_cast<size_t>(rate / 2), transition = static_cast<size_t>(0.1 * rate);
    const std::vector<float> left = sine(half, kToneHz, rate, 0.5f);
    std::vector<float> right(half);
    for (size_t n = 0; n < half; ++n) right[n] = 0.5f * static_cast<float>(cos(2 * M_PI * kToneHz * n / rate));
    const struct {
        const char* symbol;
        float before, after;
    } changes[] = {{"enabled", 1.0f, 0.0f}, {"enabled", 0.0f, 1.0f}, {"pre_delay", 0.0f, 250.0f},
                   {"width", 150.0f, 0.0f},  {"mix", 30.0f, -60.0f}, {"mix", -100.0f, 100.0f}};
    for (const auto& change : changes) {
        SCOPED_TRACE(std::string(change.symbol) + " " + std::to_string(change.after));
        StereoHost host(stereo, rate);
        ASSERT_NE(host.instance, nullptr);
        host.set(change.symbol, change.before);
        Response out;
        host.render(left, right, out.left, out.right);
        host.set(change.symbol, change.after);
        host.render(left, right, out.left, out.right);
        for (const std::vector<float>* channel : {&out.left, &out.right}) {
            const double steady = largestStepToSine(*channel, half - transition, half, rate);
            const double changing = largestStepToSine(*channel, half, half + transition, rate);
            printf("%s -> %g: %.3f steady, %.3f changing\n", change.symbol, change.after, steady, changing);
            EXPECT_LT(changing, 1.1);
        }
        // Halved from the first peak after the change on.
        std::vector<float> hardSwitch = out.left;
        size_t peak = half;
        for (size_t n = half; n < half + static_cast<size_t>(rate / kToneHz); ++n)
            if (fabsf(hardSwitch[n]) > fabsf(hardSwitch[peak])) peak = n;
        for (size_t n = peak; n < hardSwitch.size(); ++n) hardSwitch[n] *= 0.5f;
        EXPECT_GT(largestStepToSine(hardSwitch, half, half + transition, rate), 1.5);
    }
}

// Bypass lets the tail ring out while each dry input passes at unity: a
// noise burst whose tail is bypassed rings as long as one that is not, and
// a signal added to the inputs during bypass, opposite on the two sides (so
// that the reverb does not hear it), comes out unchanged.
TEST(StereoCompanion, BypassLetsTheTailRingAndPassesTheDryAtUnity) {
    StagedPlugin stereo(ZT_STEREO_PLUGIN_URI);
    const double rate = 48000.0;
    const size_t burst = static_cast<size_t>(0.5 * rate), rest = static_cast<size_t>(0.5 * rate);
    std::vector<float> noise(burst), silence(rest, 0.0f), added = sine(rest, 700.0, rate, 0.3f), opposite(rest);
    uint32_t seed = 1;
    for (float& x : noise) x = static_cast<float>(static_cast<int32_t>(seed = seed * 1664525u + 1013904223u)) * 0x1p-32f;
    for (size_t n = 0; n < rest; ++n) opposite[n] = -added[n];
    Response ringing, bypassed, withAdded;
    const struct {
        float enabledAfter;
        const std::vector<float>& left;
        const std::vector<float>& right;
        Response& out;
    } runs[] = {{1.0f, silence, silence, ringing}, {0.0f, silence, silence, bypassed}, {0.0f, added, opposite, withAdded}};
    for (const auto& run : runs) {
        StereoHost host(stereo, rate);
        ASSERT_NE(host.instance, nullptr);
        host.set("mix", 100.0f);
        host.render(noise, noise, run.out.left, run.out.right);
        host.set("enabled", run.enabledAfter);
        host.render(run.left, run.right, run.out.left, run.out.right);
    }
    double ringingEnergy = 0, bypassedEnergy = 0;
    for (size_t n = burst + rest / 5; n < burst + rest; ++n) {
        ringingEnergy += std::pow(ringing.left[n], 2) + std::pow(ringing.right[n], 2);
        bypassedEnergy += std::pow(bypassed.left[n], 2) + std::pow(bypassed.right[n], 2);
        ASSERT_NEAR(withAdded.left[n] - bypassed.left[n], added[n - burst], 1e-6) << n;
        ASSERT_NEAR(withAdded.right[n] - bypassed.right[n], opposite[n - burst], 1e-6) << n;
    }
    printf("tail energy: %.4g bypassed, %.4g not\n", bypassedEnergy, ringingEnergy);
    EXPECT_GT(bypassedEnergy, 0.9 * ringingEnergy);
}

}  // namespace
