// Audio files through libsndfile: whole files for the tests and the decay
// tool, a streaming reader and writer for the renderer. Input is refused
// when it is cut short, never read as if the missing part were silence.
#pragma once

#include <sndfile.h>
#include <stdint.h>

#include <string>
#include <vector>

struct AudioFile {
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<float> samples;  // interleaved, frames x channels

    size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// An input file open for reading, frame by frame.
struct AudioReader {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::string path;
    uint64_t framesRead = 0;

    AudioReader() = default;
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;
    ~AudioReader() {
        if (file != nullptr) sf_close(file);
    }
};

// Opens any file libsndfile reads. False, with the reason in `error`, when
// it cannot be read, holds no audio, or its header promises more audio than
// the file holds.
bool openAudioReader(AudioReader& reader, const std::string& path, std::string& error);

// Reads up to `frames` interleaved frames; returns how many it read. At the
// end of the file, `error` says why when fewer frames came than the header
// promised or the decoder failed.
size_t readFrames(AudioReader& reader, float* interleaved, size_t frames, std::string& error);

// The whole of any file libsndfile reads, as floats.
bool readAudioFile(const std::string& path, AudioFile& audio, std::string& error);

// Writes a 32-bit float WAV file: every bit as given, nothing clipped.
bool writeFloatWav(const std::string& path, const AudioFile& audio, std::string& error);

// The libsndfile format an output name asks for by its extension, or 0
// when the extension is not one of knownOutputExtensions. Containers that
// hold floats get 32-bit floats; .flac gets 24 bits, .ogg Vorbis, .opus Opus.
int outputFormatFor(const std::string& path);
std::string knownOutputExtensions();

// Whether a format stores floats (values above full scale are kept) or
// integers and lossy codes (they are clipped).
bool formatKeepsFloats(int format);
