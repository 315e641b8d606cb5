#include "float_wav.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void put16(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool readAll(const std::string& path, std::vector<unsigned char>& bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

}  // namespace

bool readFloatWav(const std::string& path, FloatWav& wav, std::string& error) {
    std::vector<unsigned char> bytes;
    if (!readAll(path, bytes)) {
        error = "cannot read " + path;
        return false;
    }
    if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + at;
        const size_t size = le32(chunk + 4);
        const size_t body = at + 8;
        const size_t available = bytes.size() - body;
        if (memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > available) break;
            uint16_t format = le16(chunk + 8);
            // The extensible header names the real format in its sub-format GUID.
            if (format == kFormatExtensible && size >= 40) format = le16(chunk + 8 + 24);
            wav.channels = le16(chunk + 10);
            wav.sampleRate = le32(chunk + 12);
            const uint16_t bits = le16(chunk + 22);
            if (format != kFormatFloat || bits != 32 || wav.channels == 0) {
                error = path + ": not 32-bit float samples";
                return false;
            }
            haveFormat = true;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            // A writer that was cut short leaves a size beyond the file's end.
            const size_t dataBytes = size < available ? size : available;
            const size_t count = dataBytes / 4 / wav.channels * wav.channels;
            // Copied as they lie: WAV is little-endian, like every target we build for.
            wav.samples.resize(count);
            memcpy(wav.samples.data(), bytes.data() + body, count * 4);
            return true;
        }
        at = body + size + (size & 1);
    }
    error = path + ": no float format and data chunk";
    return false;
}

bool writeFloatWav(const std::string& path, const FloatWav& wav) {
    const uint32_t dataBytes = static_cast<uint32_t>(wav.samples.size() * 4);
    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put32(header, 36 + dataBytes);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(header, 16);
    put16(header, kFormatFloat);
    put16(header, wav.channels);
    put32(header, wav.sampleRate);
    put32(header, wav.sampleRate * wav.channels * 4);
    put16(header, wav.channels * 4);
    put16(header, 32);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put32(header, dataBytes);

    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fwrite(header.data(), 1, header.size(), file) == header.size();
    ok = ok && fwrite(wav.samples.data(), 4, wav.samples.size(), file) == wav.samples.size();
    return fclose(file) == 0 && ok;
}
