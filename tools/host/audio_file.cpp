#include "audio_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <sstream>

namespace {

// libsndfile reads a WAV or AIFF file whose audio chunk is shorter than
// its header says as if it ended there, and only notes it in its log
// ("data : 192000 (should be 99942)"). Sizes that writers put in a header
// they could not go back to mean "unknown", not "cut short".
std::string truncationInLog(SNDFILE* file) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || (line.compare(at, 4, "data") != 0 && line.compare(at, 4, "SSND") != 0)) continue;
        unsigned long long declared = 0, present = 0;
        char name[8] = {};
        if (sscanf(line.c_str() + at, "%4s : %llu (should be %llu)", name, &declared, &present) != 3) continue;
        const bool unknownSize = declared == 0xFFFFFFFFull || declared == 0x7FFFF000ull;
        if (!unknownSize && present < declared) {
            return "its " + std::string(name) + " chunk promises " + std::to_string(declared) + " bytes, the file holds " +
                   std::to_string(present);
        }
    }
    return "";
}

struct Extension {
    const char* name;
    int format;
};
const Extension kExtensions[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},     {"w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT},   {"caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    {"aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},    {"aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
    {"au", SF_FORMAT_AU | SF_FORMAT_FLOAT},       {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
};

}  // namespace

bool openAudioReader(AudioReader& reader, const std::string& path, std::string& error) {
    reader.path = path;
    reader.file = sf_open(path.c_str(), SFM_READ, &reader.info);
    if (reader.file == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::string truncation = truncationInLog(reader.file);
    if (!truncation.empty()) {
        error = path + " is cut short (" + truncation + ")";
        return false;
    }
    if (reader.info.frames <= 0 || reader.info.channels <= 0) {
        error = path + " holds no audio";
        return false;
    }
    return true;
}

size_t readFrames(AudioReader& reader, float* interleaved, size_t frames, std::string& error) {
    const sf_count_t got = sf_readf_float(reader.file, interleaved, static_cast<sf_count_t>(frames));
    const size_t count = got > 0 ? static_cast<size_t>(got) : 0;
    reader.framesRead += count;
    if (count < frames) {
        if (sf_error(reader.file) != SF_ERR_NO_ERROR) {
            error = reader.path + " is damaged or cut short: decoding stops after frame " +
                    std::to_string(reader.framesRead) + " (" + sf_strerror(reader.file) + ")";
        } else if (reader.framesRead < static_cast<uint64_t>(reader.info.frames)) {
            error = reader.path + " is cut short: it ends after " + std::to_string(reader.framesRead) + " of the " +
                    std::to_string(reader.info.frames) + " frames its header promises";
        }
    }
    return count;
}

bool readAudioFile(const std::string& path, AudioFile& audio, std::string& error) {
    AudioReader reader;
    if (!openAudioReader(reader, path, error)) return false;
    audio.channels = static_cast<uint32_t>(reader.info.channels);
    audio.sampleRate = static_cast<uint32_t>(reader.info.samplerate);
    const size_t frames = static_cast<size_t>(reader.info.frames);
    audio.samples.assign(frames * audio.channels, 0.0f);
    error.clear();
    // One frame more than promised, so that the end is seen and checked.
    std::vector<float> extra(audio.channels);
    const size_t got = readFrames(reader, audio.samples.data(), frames, error);
    if (!error.empty()) return false;
    if (got == frames) readFrames(reader, extra.data(), 1, error);
    return error.empty();
}

bool writeFloatWav(const std::string& path, const AudioFile& audio, std::string& error) {
    SF_INFO info{};
    info.channels = static_cast<int>(audio.channels);
    info.samplerate = static_cast<int>(audio.sampleRate);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(audio.frames());
    const bool written = sf_writef_float(file, audio.samples.data(), frames) == frames;
    if (!written) error = "cannot write " + path + ": " + sf_strerror(file);
    if (sf_close(file) != 0 && written) {
        error = "cannot finish " + path;
        return false;
    }
    return written;
}

int outputFormatFor(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    const std::string extension = path.substr(dot + 1);
    for (const Extension& known : kExtensions)
        if (strcasecmp(extension.c_str(), known.name) == 0) return known.format;
    return 0;
}

std::string knownOutputExtensions() {
    std::string names;
    for (const Extension& known : kExtensions) names += std::string(names.empty() ? "." : ", .") + known.name;
    return names;
}

bool formatKeepsFloats(int format) { return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT; }
