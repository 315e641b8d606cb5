// A real LV2 host, lv2apply, runs the staged bundle on a WAV file; its
// output must be the bits our own host path gives for the same controls.
// lv2apply runs the plug-in one sample per call and we run it 256 at a time,
// so this also shows that the host's period does not change the sound.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>

#include "audio_file.h"
#include "command_line.h"
#include "preset_instance.h"

namespace {

using Controls = std::vector<std::pair<std::string, float>>;

// Plucked-string-like decays, noise bursts and a sweep: something with
// attacks, silence and every frequency.
std::vector<float> testSignal(double rate, double seconds) {
    std::vector<float> signal(static_cast<size_t>(rate * seconds), 0.0f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.4f, 0.4f);
    for (size_t k = 0; k < signal.size(); ++k) {
        const double t = static_cast<double>(k) / rate;
        const double sinceNote = fmod(t, 0.5);
        signal[k] = static_cast<float>(0.3 * sin(2.0 * M_PI * (110.0 + 40.0 * floor(t / 0.5)) * t) * exp(-6.0 * sinceNote));
        if (fmod(t, 0.37) < 0.02) signal[k] += noise(random);
        if (t > 1.2) signal[k] += static_cast<float>(0.1 * sin(2.0 * M_PI * (50.0 + 4000.0 * (t - 1.2)) * (t - 1.2)));
    }
    return signal;
}

// Runs lv2apply (with `environment`, a variable assignment such as
// ZT_KERNEL_PATH=sse2, when given); returns its exit status and keeps what
// it printed.
int runLv2apply(const std::string& in, const std::string& out, const Controls& controls, std::string& printed,
                const std::string& environment = "") {
    std::vector<std::string> command = {"env"};
    if (!environment.empty()) command.push_back(environment);
    command.insert(command.end(), {ZT_LV2APPLY, "-i", in, "-o", out});
    char value[32];
    for (const auto& [symbol, number] : controls) {
        snprintf(value, sizeof value, "%.9g", static_cast<double>(number));  // reads back as the same float
        command.insert(command.end(), {"-c", symbol, value});
    }
    command.push_back(ZT_PLUGIN_URI);
    return runCommand(command, printed);
}

class Lv2apply : public ::testing::Test {
protected:
    StagedPlugin staged;
    std::string dir = temporaryDirectory();
    void SetUp() override {
        ASSERT_NE(staged.plugin, nullptr) << "plug-in not found through LV2_PATH";
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        if (!dir.empty()) {
            EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
        }
    }

    // Renders `signal` through lv2apply and through our host path with the
    // same controls, and compares every output bit.
    void expectSameBits(const std::vector<float>& signal, uint32_t rate, const Controls& controls,
                        const std::string& environment = "") {
        AudioFile input;
        input.channels = 1;
        input.sampleRate = rate;
        input.samples = signal;
        const std::string in = dir + "/in.wav", out = dir + "/out.wav";
        std::string printed, error;
        ASSERT_TRUE(writeFloatWav(in, input, error)) << error;
        ASSERT_EQ(runLv2apply(in, out, controls, printed, environment), 0) << printed;
        AudioFile hosted;
        ASSERT_TRUE(readAudioFile(out, hosted, error)) << error << "\n" << printed;
        ASSERT_EQ(hosted.channels, 2u);
        ASSERT_EQ(hosted.sampleRate, rate);
        ASSERT_EQ(hosted.frames(), signal.size());

        PresetInstance ours(staged, rate, 256);
        ASSERT_NE(ours.instance, nullptr);
        for (const auto& [symbol, number] : controls) ASSERT_TRUE(ours.set(symbol, number)) << symbol;
        std::vector<float> left, right;
        ours.render(signal, left, right);

        size_t differing = 0, first = signal.size();
        for (size_t k = 0; k < signal.size(); ++k) {
            const bool same = memcmp(&left[k], &hosted.samples[2 * k], sizeof(float)) == 0 &&
                              memcmp(&right[k], &hosted.samples[2 * k + 1], sizeof(float)) == 0;
            if (!same && differing++ == 0) first = k;
        }
        EXPECT_EQ(differing, 0u) << "first at frame " << first << ": lv2apply " << hosted.samples[2 * first] << ", "
                                 << hosted.samples[2 * first + 1] << "; ours " << left[first] << ", " << right[first];
        // A silent render would match trivially.
        EXPECT_GT(*std::max_element(left.begin(), left.end()), 0.01f);
    }
};

TEST_F(Lv2apply, DefaultsGiveTheSameBitsAsOurHostPath) {
    // At 44.1 kHz: the host rate reaches the plug-in through lv2apply too.
    expectSameBits(testSignal(44100.0, 2.5), 44100, {});
}

TEST_F(Lv2apply, EveryPresetGivesTheSameBitsAsOurHostPath) {
    const std::vector<BundlePreset> presets = loadBundlePresets(staged);
    ASSERT_GE(presets.size(), 8u);
    const std::vector<float> signal = testSignal(48000.0, 2.0);
    for (const BundlePreset& preset : presets) {
        SCOPED_TRACE(preset.uri);
        ASSERT_EQ(preset.values.size(), static_cast<size_t>(kPortCount - 3));
        expectSameBits(signal, 48000, preset.values);
    }
}

// The kernel path named in ZT_KERNEL_PATH, read when the shipped object
// loads, runs in lv2apply's one-sample calls with the bits of our host's
// default path in calls of 256: every path, and a name this build does not
// know (it falls back to the default).
TEST_F(Lv2apply, EveryKernelPathChosenThroughTheEnvironmentGivesTheSameBits) {
    const std::vector<float> signal = testSignal(48000.0, 1.0);
    const Controls heavy = {{"unit_count", 70.0f}, {"filter_type", 3.0f}, {"routing", 2.0f}, {"mod_depth_last", 60.0f}};
    for (const char* path : {"oracle", "scalar", "sse2", "avx2", "avx512", "no-such-path"}) {
        SCOPED_TRACE(path);
        expectSameBits(signal, 48000, heavy, std::string("ZT_KERNEL_PATH=") + path);
    }
}

// zt-render runs the plug-in in calls of 256 samples at the file's rate.
// From a fresh instance its output is lv2apply's, bit for bit; settled, it
// is our host path's after the same silence, through to the end of the
// tail, which stops once the output has stayed below -90 dBFS.
TEST_F(Lv2apply, ZtRenderGivesTheSameBits) {
    constexpr size_t kSettleFrames = 480000;  // zt-render's silence before the input
    const float quiet = powf(10.0f, -90.0f / 20.0f);
    const std::vector<float> signal = testSignal(44100.0, 1.5);
    AudioFile input;
    input.channels = 1;
    input.sampleRate = 44100;
    input.samples = signal;
    const std::string in = dir + "/in.wav", out = dir + "/zt.wav", reference = dir + "/lv2apply.wav";
    std::string printed, error;
    ASSERT_TRUE(writeFloatWav(in, input, error)) << error;

    ASSERT_EQ(runCommand({ZT_RENDER, "--no-settle", "--tail-max", "0", in, out}, printed), 0) << printed;
    ASSERT_EQ(runLv2apply(in, reference, {}, printed), 0) << printed;
    AudioFile rendered, hosted;
    ASSERT_TRUE(readAudioFile(out, rendered, error)) << error;
    ASSERT_TRUE(readAudioFile(reference, hosted, error)) << error;
    ASSERT_EQ(rendered.channels, 2u);
    ASSERT_EQ(rendered.samples.size(), hosted.samples.size());
    EXPECT_EQ(memcmp(rendered.samples.data(), hosted.samples.data(), hosted.samples.size() * sizeof(float)), 0);

    printed.clear();
    ASSERT_EQ(runCommand({ZT_RENDER, "-p", "Concert Hall", "-c", "mix", "100", in, out}, printed), 0) << printed;
    ASSERT_TRUE(readAudioFile(out, rendered, error)) << error;
    ASSERT_GT(rendered.frames(), signal.size() + 44100) << "a tail of a second at least";
    PresetInstance ours(staged, 44100.0, 256);
    ASSERT_TRUE(ours.restore(ZT_PLUGIN_URI "/presets#concert-hall"));
    ASSERT_TRUE(ours.set("mix", 100.0f));
    std::vector<float> left, right;
    ours.render(std::vector<float>(kSettleFrames, 0.0f), left, right);
    left.clear();
    right.clear();
    std::vector<float> padded = signal;
    padded.resize(rendered.frames() + 32768, 0.0f);
    ours.render(padded, left, right);
    size_t differing = 0;
    for (size_t k = 0; k < rendered.frames(); ++k) {
        differing += memcmp(&rendered.samples[2 * k], &left[k], sizeof(float)) != 0 ||
                     memcmp(&rendered.samples[2 * k + 1], &right[k], sizeof(float)) != 0;
    }
    EXPECT_EQ(differing, 0u);
    // The file ends with the last call that rose above -90 dBFS; the tail
    // stays below it for the 32768 samples that follow.
    const size_t end = rendered.frames();
    float lastCall = 0.0f, after = 0.0f;
    for (size_t k = end - 256; k < end; ++k) lastCall = std::max({lastCall, fabsf(left[k]), fabsf(right[k])});
    for (size_t k = end; k < left.size(); ++k) after = std::max({after, fabsf(left[k]), fabsf(right[k])});
    EXPECT_GT(lastCall, quiet);
    EXPECT_LE(after, quiet);
}

}  // namespace
