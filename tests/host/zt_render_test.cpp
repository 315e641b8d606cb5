// zt-render refuses what it cannot do before it renders, says what to do
// instead, and never leaves a partial or overwritten file behind.
#include <gtest/gtest.h>
#include <math.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio_file.h"
#include "command_line.h"

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class ZtRender : public ::testing::Test {
protected:
    std::string dir = temporaryDirectory();
    std::string input = dir + "/in.wav";
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        AudioFile clip;
        clip.channels = 2;  // mixed to mono on the way in
        clip.sampleRate = 48000;
        clip.samples.assign(2 * 4800, 0.0f);
        for (size_t k = 0; k < clip.samples.size(); ++k) clip.samples[k] = 0.9f * sinf(0.01f * static_cast<float>(k / 2));
        std::string error;
        ASSERT_TRUE(writeFloatWav(input, clip, error)) << error;
    }
    void TearDown() override {
        if (!dir.empty()) {
            EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
        }
    }
};

TEST_F(ZtRender, RefusesWhatItCannotDoBeforeRendering) {
    const std::string output = dir + "/out.wav";
    const std::string cut = dir + "/cut.wav", empty = dir + "/empty.wav";
    AudioFile clip;
    clip.channels = 1;
    clip.sampleRate = 48000;
    std::string error;
    ASSERT_TRUE(writeFloatWav(empty, clip, error)) << error;
    clip.samples.assign(48000, 0.25f);
    ASSERT_TRUE(writeFloatWav(cut, clip, error)) << error;
    ASSERT_EQ(truncate(cut.c_str(), 100000), 0);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-c", "bogus", "1", cut, output}, "no control named \"bogus\"; the controls are: mix"},
        {{"-c", "in", "1", cut, output}, "no control named \"in\""},
        {{"-c", "mix", "loud", cut, output}, "must be a finite number"},
        {{"-c", "decay_first", "1e999", cut, output}, "must be a finite number"},
        {{"-p", "Nowhere", cut, output}, "zt-render --list shows the presets"},
        {{cut, dir + "/out.mp4"}, "use one of .wav"},
        {{cut, cut}, "is the input file; choose another output name"},
        {{cut, output}, "is cut short"},
        {{empty, output}, "holds no audio"},
        {{dir + "/missing.wav", output}, "cannot read"},
        {{"--tail-max", "-1", cut, output}, "--tail-max takes seconds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> command = {ZT_RENDER};
        command.insert(command.end(), c.args.begin(), c.args.end());
        std::string printed;
        EXPECT_NE(runCommand(command, printed), 0) << printed;
        EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
        EXPECT_FALSE(exists(output)) << printed;
    }
    struct stat info;
    ASSERT_EQ(stat(cut.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 100000) << "the input was touched";
}

// Values outside a control's range are warned about and used; a tail that
// would outlast --tail-max is cut there, with a note; sound above full
// scale stays in the float file and is reported.
TEST_F(ZtRender, WarnsAndReportsWhatItKeeps) {
    const std::string output = dir + "/out.wav";
    std::string printed;
    ASSERT_EQ(runCommand({ZT_RENDER, "-c", "mix", "500", "-c", "decay_first", "30000", "-c", "decay_last", "30000",
                          "-c", "input_gain_first", "2", "--tail-max", "0.5", input, output},
                         printed),
              0)
        << printed;
    EXPECT_NE(printed.find("mix 500 is outside its range -100 .. 100"), std::string::npos) << printed;
    EXPECT_NE(printed.find("the tail was cut at --tail-max 0.5 s"), std::string::npos) << printed;
    AudioFile rendered;
    std::string error;
    ASSERT_TRUE(readAudioFile(output, rendered, error)) << error;
    EXPECT_EQ(rendered.frames(), 4800u + 24000u);
    float peak = 0.0f;
    for (const float sample : rendered.samples) peak = std::max(peak, fabsf(sample));
    char reported[64];
    snprintf(reported, sizeof reported, "peak %.6f", static_cast<double>(peak));
    EXPECT_NE(printed.find(reported), std::string::npos) << printed;
    ASSERT_GT(peak, 1.0f);
    EXPECT_NE(printed.find("above full scale in"), std::string::npos) << printed;
    EXPECT_NE(printed.find("kept as they are in the float file"), std::string::npos) << printed;
}

}  // namespace
