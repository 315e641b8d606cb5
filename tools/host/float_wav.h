// 32-bit float WAV files, the format lv2apply keeps from its input: no
// quantisation between our host path and a real host's.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct FloatWav {
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<float> samples;  // interleaved, frames x channels

    size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Reads a WAV file whose data are 32-bit IEEE floats (plain or
// WAVE_FORMAT_EXTENSIBLE). Returns false, with a reason in `error`, for
// anything else.
bool readFloatWav(const std::string& path, FloatWav& wav, std::string& error);

// Writes `wav` as a plain IEEE float WAV file.
bool writeFloatWav(const std::string& path, const FloatWav& wav);
