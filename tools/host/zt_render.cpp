// Renders an audio file through the installed plug-in as a host runs it,
// and writes the result with the reverb's tail.
//
//   zt-render [-p PRESET] [-c SYMBOL VALUE]... [--no-settle] [--tail-max SECONDS] INPUT OUTPUT
//   zt-render --list
//
// The plug-in and its presets are found through lilv (LV2_PATH and the
// usual LV2 directories), audio is read and written with libsndfile. The
// plug-in runs at the input's own rate in calls of 256 samples; with the
// same input and controls its output bits are those of any other host.
#include <errno.h>
#include <fcntl.h>
#include <lilv/lilv.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "audio_file.h"
#include "bundle_presets.h"

namespace {

const char* const kDefaultPluginUri = "http://zulvamoret.org/plugins/zulvamoret-tarnwise";
constexpr uint32_t kCallFrames = 256;
// A new instance glides every unit from a whole ring to its own length
// within its first 6 s at 48 kHz; its first 10 s pass on silence, so that
// the file sounds as it does in a host that has been running.
constexpr uint64_t kSettleFrames = 480000;
// The tail ends when the output has stayed below -90 dBFS for longer than
// the longest loop a unit can have (31999 samples).
const float kQuietLevel = powf(10.0f, -90.0f / 20.0f);
constexpr uint64_t kQuietHoldFrames = 32768;

struct Options {
    std::string preset, input, output, pluginUri = kDefaultPluginUri;
    std::vector<std::pair<std::string, std::string>> controls;  // symbol, value as typed
    bool settle = true, list = false;
    double tailMaxSeconds = 60.0;
};

int usage(FILE* out) {
    fprintf(out,
            "Usage: zt-render [-p PRESET] [-c SYMBOL VALUE]... [--no-settle] [--tail-max SECONDS] INPUT OUTPUT\n"
            "       zt-render --list\n"
            "Renders INPUT (any file libsndfile reads; several channels are mixed to mono) through the\n"
            "plug-in at the file's own rate, and writes OUTPUT in the format its extension names:\n"
            "  %s.\n"
            "  -p PRESET        a preset's name or short name (--list shows them)\n"
            "  -c SYMBOL VALUE  a control value, on top of the preset or the defaults\n"
            "  --no-settle      start on a fresh instance, whose units glide in during the first seconds\n"
            "  --tail-max S     render the tail until it stays below -90 dBFS, for S seconds at most\n"
            "                   (default 60; 0 ends the output with the input)\n"
            "  --plugin URI     another plug-in than %s\n",
            knownOutputExtensions().c_str(), kDefaultPluginUri);
    return 2;
}

// Returns -1 to go on, or the exit status.
int parseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const int left = argc - i - 1;
        if ((arg == "-p" || arg == "--preset") && left >= 1) {
            options.preset = argv[++i];
        } else if (arg == "-c" && left >= 2) {
            options.controls.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (arg == "--tail-max" && left >= 1) {
            char* end = nullptr;
            options.tailMaxSeconds = strtod(argv[++i], &end);
            if (*argv[i] == '\0' || *end != '\0' || !(options.tailMaxSeconds >= 0.0 && options.tailMaxSeconds <= 3600.0)) {
                fprintf(stderr, "zt-render: --tail-max takes seconds from 0 to 3600, not \"%s\"\n", argv[i]);
                return 2;
            }
        } else if (arg == "--plugin" && left >= 1) {
            options.pluginUri = argv[++i];
        } else if (arg == "--no-settle") {
            options.settle = false;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "zt-render: unknown option or missing value: %s\n", arg.c_str());
            return usage(stderr);
        } else {
            positional.push_back(arg);
        }
    }
    if (options.list) return positional.empty() ? -1 : usage(stderr);
    if (positional.size() != 2) return usage(stderr);
    options.input = positional[0];
    options.output = positional[1];
    return -1;
}

enum class PortKind { AudioIn, AudioOut, ControlIn, ControlOut };

struct PortInfo {
    std::string symbol;
    PortKind kind;
    float minimum, maximum, defaultValue;
};

struct Host {
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    std::vector<PortInfo> ports;
    ~Host() { lilv_world_free(world); }
};

bool loadPlugin(Host& host, const std::string& uri, std::string& error) {
    lilv_world_load_all(host.world);
    LilvNode* node = lilv_new_uri(host.world, uri.c_str());
    host.plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host.world), node);
    lilv_node_free(node);
    if (host.plugin == nullptr) {
        const char* path = getenv("LV2_PATH");
        error = "the plug-in " + uri + " is not installed where LV2 hosts look (LV2_PATH=" +
                (path != nullptr ? path : "unset") +
                "); install it with cmake --install, or set LV2_PATH to the directory that holds its bundle";
        return false;
    }
    const uint32_t count = lilv_plugin_get_num_ports(host.plugin);
    std::vector<float> minimum(count), maximum(count), defaults(count);
    lilv_plugin_get_port_ranges_float(host.plugin, minimum.data(), maximum.data(), defaults.data());
    LilvNode* audio = lilv_new_uri(host.world, LILV_URI_AUDIO_PORT);
    LilvNode* control = lilv_new_uri(host.world, LILV_URI_CONTROL_PORT);
    LilvNode* input = lilv_new_uri(host.world, LILV_URI_INPUT_PORT);
    for (uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(host.plugin, i);
        PortInfo info{lilv_node_as_string(lilv_port_get_symbol(host.plugin, port)), PortKind::ControlOut, minimum[i],
                      maximum[i], isnan(defaults[i]) ? 0.0f : defaults[i]};
        const bool isInput = lilv_port_is_a(host.plugin, port, input);
        if (lilv_port_is_a(host.plugin, port, audio)) {
            info.kind = isInput ? PortKind::AudioIn : PortKind::AudioOut;
        } else if (lilv_port_is_a(host.plugin, port, control)) {
            info.kind = isInput ? PortKind::ControlIn : PortKind::ControlOut;
        } else {
            error = "port " + info.symbol + " is neither an audio nor a control port; zt-render cannot run this plug-in";
        }
        host.ports.push_back(info);
    }
    lilv_node_free(input);
    lilv_node_free(control);
    lilv_node_free(audio);
    return error.empty();
}

// The control values to run with: the defaults, the preset's values, then
// the -c values. Unknown symbols and values that are not finite numbers are
// refused; values outside the declared range draw a warning.
bool resolveControls(const Host& host, const Options& options, std::vector<float>& values, std::string& label,
                     std::string& error) {
    values.assign(host.ports.size(), 0.0f);
    std::vector<std::string> warnings;
    std::string symbols;
    for (size_t i = 0; i < host.ports.size(); ++i) {
        values[i] = host.ports[i].defaultValue;
        if (host.ports[i].kind == PortKind::ControlIn) symbols += " " + host.ports[i].symbol;
    }
    auto controlIndex = [&](const std::string& symbol) -> long {
        for (size_t i = 0; i < host.ports.size(); ++i)
            if (host.ports[i].symbol == symbol && host.ports[i].kind == PortKind::ControlIn) return static_cast<long>(i);
        return -1;
    };
    if (!options.preset.empty()) {
        const std::vector<BundlePreset> presets = readBundlePresets(host.world, host.plugin);
        const BundlePreset* preset = findPreset(presets, options.preset);
        if (preset == nullptr) {
            error = "no preset named \"" + options.preset + "\"; zt-render --list shows the presets";
            return false;
        }
        if (!preset->loaded || !preset->badValues.empty()) {
            error = "lilv cannot read every value of the preset " + preset->uri + "; reinstall the bundle";
            return false;
        }
        for (const auto& [symbol, value] : preset->values) {
            const long index = controlIndex(symbol);
            if (index < 0) {
                error = "the preset " + preset->label + " sets " + symbol + ", which the plug-in does not have";
                return false;
            }
            values[static_cast<size_t>(index)] = value;
        }
        label = preset->label;
    }
    for (const auto& [symbol, text] : options.controls) {
        const long index = controlIndex(symbol);
        if (index < 0) {
            error = "no control named \"" + symbol + "\"; the controls are:" + symbols;
            return false;
        }
        char* end = nullptr;
        errno = 0;
        const float value = strtof(text.c_str(), &end);
        if (text.empty() || *end != '\0' || errno == ERANGE || !isfinite(value)) {
            error = "the value of " + symbol + " must be a finite number, not \"" + text + "\"";
            return false;
        }
        const PortInfo& port = host.ports[static_cast<size_t>(index)];
        if (value < port.minimum || value > port.maximum) {
            char range[64];
            snprintf(range, sizeof range, "%g .. %g", static_cast<double>(port.minimum), static_cast<double>(port.maximum));
            warnings.push_back(symbol + " " + text + " is outside its range " + range +
                               "; the plug-in takes it, but may not sound as described");
        }
        values[static_cast<size_t>(index)] = value;
    }
    for (const std::string& warning : warnings) fprintf(stderr, "zt-render: warning: %s\n", warning.c_str());
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string minutesSeconds(double seconds) {
    char text[32];
    const long whole = static_cast<long>(seconds);
    snprintf(text, sizeof text, "%ld:%04.1f", whole / 60, seconds - static_cast<double>(whole / 60 * 60));
    return text;
}

// A bar on the terminal, redrawn at most ten times a second.
struct Progress {
    bool shown = isatty(STDERR_FILENO) != 0;
    double total;
    timespec last{};
    void update(double done, double tail, bool force = false) {
        if (!shown) return;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double elapsed = static_cast<double>(now.tv_sec - last.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec - last.tv_nsec);
        if (!force && elapsed < 0.1) return;
        last = now;
        const double fraction = total > 0.0 ? std::min(1.0, done / total) : 1.0;
        const int filled = static_cast<int>(fraction * 30.0);
        fprintf(stderr, "\r   [%.*s%*s] %3d %%  %s of %s", filled, "==============================", 30 - filled, "",
                static_cast<int>(fraction * 100.0), minutesSeconds(done).c_str(), minutesSeconds(total).c_str());
        if (tail > 0.0) fprintf(stderr, ", tail %.1f s", tail);
        fflush(stderr);
    }
    void finish() {
        if (shown) fprintf(stderr, "\n");
    }
};

// The output, written to a temporary file beside its final name and moved
// there only when complete: a failed render leaves no partial file.
struct Output {
    std::string path, temporary;
    SNDFILE* file = nullptr;
    int format = 0;
    uint32_t channels = 0;
    double peak = 0.0;
    uint64_t frames = 0, overFullScale = 0;

    ~Output() {
        if (file != nullptr) sf_close(file);
        if (!temporary.empty()) unlink(temporary.c_str());
    }
    bool open(uint32_t rate, std::string& error) {
        const size_t slash = path.find_last_of('/');
        temporary = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.zt-render-XXXXXX";
        const int fd = mkstemp(&temporary[0]);
        if (fd < 0) {
            temporary.clear();
            error = "cannot write in the directory of " + path + ": " + strerror(errno);
            return false;
        }
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        SF_INFO info{};
        info.channels = static_cast<int>(channels);
        info.samplerate = static_cast<int>(rate);
        info.format = format;
        file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
        if (file == nullptr) {
            close(fd);
            error = "cannot write " + path + ": " + sf_strerror(nullptr);
            return false;
        }
        // Integer and lossy formats clip what lies above full scale instead
        // of wrapping it around; float formats keep it.
        if (!formatKeepsFloats(format)) sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        return true;
    }
    bool write(const float* interleaved, size_t count, std::string& error) {
        for (size_t k = 0; k < count * channels; ++k) {
            const double level = fabs(static_cast<double>(interleaved[k]));
            peak = std::max(peak, level);
            overFullScale += level > 1.0;
        }
        if (sf_writef_float(file, interleaved, static_cast<sf_count_t>(count)) != static_cast<sf_count_t>(count)) {
            error = "cannot write " + path + ": " + sf_strerror(file);
            return false;
        }
        frames += count;
        return true;
    }
    bool finish(std::string& error) {
        const int closed = sf_close(file);
        file = nullptr;
        if (closed != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
            error = "cannot finish " + path + ": " + strerror(errno);
            return false;
        }
        temporary.clear();
        return true;
    }
};

struct Instance {
    LilvInstance* instance = nullptr;
    std::vector<std::vector<float>> buffers;  // one per port; control ports use element 0
    std::vector<uint32_t> audioIn, audioOut;

    Instance(const Host& host, double rate, const std::vector<float>& controls) {
        instance = lilv_plugin_instantiate(host.plugin, rate, nullptr);
        if (instance == nullptr) return;
        buffers.resize(host.ports.size());
        for (uint32_t i = 0; i < host.ports.size(); ++i) {
            const PortKind kind = host.ports[i].kind;
            const bool audio = kind == PortKind::AudioIn || kind == PortKind::AudioOut;
            buffers[i].assign(audio ? kCallFrames : 1, controls[i]);
            if (kind == PortKind::AudioIn) audioIn.push_back(i);
            if (kind == PortKind::AudioOut) audioOut.push_back(i);
            lilv_instance_connect_port(instance, i, buffers[i].data());
        }
        for (uint32_t i : audioIn) std::fill(buffers[i].begin(), buffers[i].end(), 0.0f);
        lilv_instance_activate(instance);
    }
    ~Instance() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Runs one call; the outputs are interleaved into `out`. The inputs must
    // already hold `count` samples each.
    void run(uint32_t count, float* out) {
        lilv_instance_run(instance, count);
        for (uint32_t k = 0; k < count; ++k)
            for (size_t c = 0; c < audioOut.size(); ++c) out[k * audioOut.size() + c] = buffers[audioOut[c]][k];
    }
    void silence() {
        for (uint32_t i : audioIn) std::fill(buffers[i].begin(), buffers[i].end(), 0.0f);
    }
};

bool loud(const float* interleaved, size_t samples) {
    for (size_t k = 0; k < samples; ++k)
        if (fabsf(interleaved[k]) > kQuietLevel) return true;
    return false;
}

int fail(const std::string& error) {
    fprintf(stderr, "zt-render: %s\n", error.c_str());
    return 1;
}

int render(const Options& options) {
    // Everything that can be refused is refused before any audio is read.
    Output output;
    output.path = options.output;
    output.format = outputFormatFor(options.output);
    if (output.format == 0) {
        return fail("cannot tell the format of " + options.output + " from its extension; use one of " +
                    knownOutputExtensions());
    }
    if (sameFile(options.input, options.output)) {
        return fail(options.output + " is the input file; choose another output name");
    }
    Host host;
    std::string error;
    if (!loadPlugin(host, options.pluginUri, error)) return fail(error);
    std::vector<float> controls;
    std::string presetLabel;
    if (!resolveControls(host, options, controls, presetLabel, error)) return fail(error);
    AudioReader reader;
    if (!openAudioReader(reader, options.input, error)) return fail(error);

    const uint32_t rate = static_cast<uint32_t>(reader.info.samplerate);
    Instance plugin(host, rate, controls);
    if (plugin.instance == nullptr) return fail("the plug-in could not be instantiated at " + std::to_string(rate) + " Hz");
    const uint32_t inChannels = static_cast<uint32_t>(reader.info.channels);
    const size_t inputs = plugin.audioIn.size();
    const bool direct = inChannels == inputs;
    output.channels = static_cast<uint32_t>(plugin.audioOut.size());
    SF_INFO check{};
    check.channels = static_cast<int>(output.channels);
    check.samplerate = static_cast<int>(rate);
    check.format = output.format;
    if (sf_format_check(&check) == 0) {
        return fail("the format of " + options.output + " cannot hold " + std::to_string(output.channels) +
                    " channels at " + std::to_string(rate) + " Hz; write a .wav instead");
    }
    if (!output.open(rate, error)) return fail(error);

    const double seconds = static_cast<double>(reader.info.frames) / rate;
    LilvNode* name = lilv_plugin_get_name(host.plugin);
    printf("zt-render: %s, %s at %u Hz%s, through %s%s%s\n", options.input.c_str(), minutesSeconds(seconds).c_str(), rate,
           direct ? "" : (", " + std::to_string(inChannels) + " channels mixed to mono").c_str(),
           lilv_node_as_string(name), presetLabel.empty() ? "" : ", preset ", presetLabel.c_str());
    lilv_node_free(name);
    fflush(stdout);

    std::vector<float> interleavedIn(kCallFrames * inChannels), interleavedOut(kCallFrames * output.channels);
    if (options.settle) {
        for (uint64_t done = 0; done < kSettleFrames; done += kCallFrames) plugin.run(kCallFrames, interleavedOut.data());
    }

    Progress progress;
    progress.total = seconds;
    for (;;) {
        const size_t got = readFrames(reader, interleavedIn.data(), kCallFrames, error);
        if (!error.empty()) {
            progress.finish();
            return fail(error + "; nothing written");
        }
        if (got == 0) break;
        for (size_t k = 0; k < got; ++k) {
            if (direct) {
                for (size_t c = 0; c < inputs; ++c) plugin.buffers[plugin.audioIn[c]][k] = interleavedIn[k * inChannels + c];
            } else {
                float sum = 0.0f;
                for (uint32_t c = 0; c < inChannels; ++c) sum += interleavedIn[k * inChannels + c];
                for (uint32_t i : plugin.audioIn) plugin.buffers[i][k] = sum / static_cast<float>(inChannels);
            }
        }
        plugin.run(static_cast<uint32_t>(got), interleavedOut.data());
        if (!output.write(interleavedOut.data(), got, error)) return fail(error);
        progress.update(static_cast<double>(reader.framesRead) / rate, 0.0);
    }

    // The tail: silence in, until the output has stayed below -90 dBFS
    // for kQuietHoldFrames; those quiet frames are left out of the file.
    plugin.silence();
    const uint64_t tailLimit = static_cast<uint64_t>(options.tailMaxSeconds * rate);
    std::vector<float> quiet;
    uint64_t tail = 0;
    bool settled = false;
    while (tail < tailLimit && !settled) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kCallFrames, tailLimit - tail));
        plugin.run(count, interleavedOut.data());
        tail += count;
        const size_t samples = count * output.channels;
        if (loud(interleavedOut.data(), samples)) {
            if (!output.write(quiet.data(), quiet.size() / output.channels, error) ||
                !output.write(interleavedOut.data(), count, error)) {
                return fail(error);
            }
            quiet.clear();
        } else {
            quiet.insert(quiet.end(), interleavedOut.begin(), interleavedOut.begin() + static_cast<long>(samples));
            settled = quiet.size() / output.channels >= kQuietHoldFrames;
        }
        progress.update(seconds, static_cast<double>(tail) / rate);
    }
    // Cut at the limit: the file runs to it.
    const bool cut = !settled && tailLimit > 0;
    if (cut && !output.write(quiet.data(), quiet.size() / output.channels, error)) return fail(error);
    progress.update(seconds, static_cast<double>(tail) / rate, true);
    progress.finish();
    if (!output.finish(error)) return fail(error);

    const double tailSeconds = static_cast<double>(output.frames - reader.framesRead) / rate;
    printf("zt-render: wrote %s, %s with %.1f s of tail\n", options.output.c_str(),
           minutesSeconds(static_cast<double>(output.frames) / rate).c_str(), tailSeconds);
    if (cut) {
        printf("zt-render: the tail was cut at --tail-max %g s while still above -90 dBFS; raise --tail-max to keep all of it\n",
               options.tailMaxSeconds);
    }
    const double peakDb = output.peak > 0.0 ? 20.0 * log10(output.peak) : -INFINITY;
    printf("zt-render: peak %.6f (%+.1f dBFS)", output.peak, peakDb);
    if (output.overFullScale == 0) {
        printf("\n");
    } else if (formatKeepsFloats(output.format)) {
        printf(", above full scale in %llu samples: kept as they are in the float file; lower the mix or the input "
               "gains before converting it to integer samples\n",
               static_cast<unsigned long long>(output.overFullScale));
    } else {
        printf(", above full scale in %llu samples, which this format clips; write a .wav to keep them, or lower the "
               "mix or the input gains\n",
               static_cast<unsigned long long>(output.overFullScale));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int status = parseArguments(argc, argv, options);
    if (status >= 0) return status;
    if (options.list) {
        Host host;
        std::string error;
        if (!loadPlugin(host, options.pluginUri, error)) return fail(error);
        printPresetList(readBundlePresets(host.world, host.plugin), stdout);
        return 0;
    }
    return render(options);
}
