// Mixes an audio file's channels to mono and scales the result down, when
// it goes above full scale, to a peak of full scale: for programs that clip
// floats on reading (sox draws the demo's spectrogram).
//
//   zt-mono INPUT OUTPUT.wav
#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <string>

#include "audio_file.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "Usage: zt-mono INPUT OUTPUT.wav\n");
        return 2;
    }
    AudioFile in, out;
    std::string error;
    if (!readAudioFile(argv[1], in, error)) {
        fprintf(stderr, "zt-mono: %s\n", error.c_str());
        return 1;
    }
    out.channels = 1;
    out.sampleRate = in.sampleRate;
    out.samples.resize(in.frames());
    float peak = 0.0f;
    for (size_t k = 0; k < in.frames(); ++k) {
        float sum = 0.0f;
        for (uint32_t c = 0; c < in.channels; ++c) sum += in.samples[k * in.channels + c];
        out.samples[k] = sum / static_cast<float>(in.channels);
        peak = std::max(peak, fabsf(out.samples[k]));
    }
    if (peak > 1.0f) {
        for (float& sample : out.samples) sample /= peak;
    }
    if (!writeFloatWav(argv[2], out, error)) {
        fprintf(stderr, "zt-mono: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
