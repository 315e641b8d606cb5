// Our plug-in beside the other reverbs installed on this machine, as a host
// runs them: each one loaded through lilv, every control at its default,
// fed the same noise in calls of 256 samples at 48 kHz, timed in the CPU
// time of this thread. The rounds interleave the plug-ins, so that other
// work on the machine weighs on all of them alike; the table gives the
// medians and the ratios to ours at its defaults.
//
//   zt-peers [--seconds S] [--rounds R] [--call N] [--only TEXT]
//   zt-peers --memory N [--seconds S]
//
// With --memory, N instances of ours at their defaults each run S seconds
// (default 60) of noise, and the memory they hold resident is printed.
//
// Our bundle is the one staged in this build tree (or --bundle DIR); the
// others are found where lilv looks (LV2_PATH or the system's folders).
#include <lilv/lilv.h>
#include <lv2/urid/urid.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr const char* kOurUri = "http://zulvamoret.org/plugins/zulvamoret-tarnwise";

// A setting of ours, as port symbol and value over the defaults.
struct Setting {
    const char* name;
    std::vector<std::pair<const char*, float>> values;
};

// The settings the performance targets name: the defaults; 70 units with
// the two-pass filter, even-then-odd routing, diffusion, jitter and deeper
// modulation; and the largest bank the port ranges allow.
const Setting kOurSettings[] = {
    {"default", {}},
    {"heavy",
     {{"unit_count", 70.0f}, {"filter_type", 3.0f}, {"resonance", 20.0f}, {"routing", 2.0f}, {"diffusion", 0.7f},
      {"size_jitter", 40.0f}, {"mod_depth_first", 20.0f}, {"mod_depth_last", 60.0f}, {"mod_rate_first", 0.8f},
      {"mod_rate_last", 3.0f}}},
    {"largest", {{"unit_count", 70.0f}, {"size_first", 210.0f}, {"size_last", 220.0f}, {"size_jitter", 100.0f}}},
};

// Reverbs from Debian's packages, by URI (skipped when not installed).
const char* const kPeerUris[] = {
    "http://plugin.org.uk/swh-plugins/gverb",
    "http://guitarix.sourceforge.net/plugins/gx_zita_rev1_stereo#_zita_rev1_stereo",
    "http://guitarix.sourceforge.net/plugins/gx_reverb_stereo#_reverb_stereo",
};

struct UridMap {
    std::vector<std::string> uris;
    LV2_URID_Map map{this, &UridMap::toUrid};
    LV2_URID_Unmap unmap{this, &UridMap::toUri};
    static LV2_URID toUrid(LV2_URID_Map_Handle handle, const char* uri) {
        UridMap& self = *static_cast<UridMap*>(handle);
        for (size_t i = 0; i < self.uris.size(); ++i)
            if (self.uris[i] == uri) return (LV2_URID)(i + 1);
        self.uris.push_back(uri);
        return (LV2_URID)self.uris.size();
    }
    static const char* toUri(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        UridMap& self = *static_cast<UridMap*>(handle);
        return urid >= 1 && urid <= self.uris.size() ? self.uris[urid - 1].c_str() : nullptr;
    }
};

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// One running instance with every port connected.
struct Runner {
    std::string label;
    LilvInstance* instance = nullptr;
    std::vector<float> controls;
    std::vector<std::vector<float>> inputs, outputs;
    std::vector<float*> inputPorts;  // where each call's noise goes
    std::vector<double> nsPerSample;

    ~Runner() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }

    void run(const float* noise, uint32_t samples) {
        for (float* in : inputPorts) memcpy(in, noise, samples * sizeof(float));
        lilv_instance_run(instance, samples);
    }
};

std::unique_ptr<Runner> makeRunner(LilvWorld* world, const LilvPlugin* plugin, const std::string& label,
                                   const Setting* setting, uint32_t callSize, const LV2_Feature* const* features) {
    std::unique_ptr<Runner> r(new Runner);
    r->label = label;
    r->instance = lilv_plugin_instantiate(plugin, kRate, features);
    if (r->instance == nullptr) return nullptr;
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> minimum(ports), maximum(ports), defaults(ports);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), defaults.data());
    r->controls.assign(ports, 0.0f);
    LilvNode* audio = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
    LilvNode* control = lilv_new_uri(world, LILV_URI_CONTROL_PORT);
    LilvNode* input = lilv_new_uri(world, LILV_URI_INPUT_PORT);
    LilvNode* optional = lilv_new_uri(world, LV2_CORE__connectionOptional);
    bool usable = true;
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool isInput = lilv_port_is_a(plugin, port, input);
        if (lilv_port_is_a(plugin, port, audio)) {
            std::vector<float>& buffer = isInput ? r->inputs.emplace_back(callSize) : r->outputs.emplace_back(callSize);
            if (isInput) r->inputPorts.push_back(buffer.data());
            lilv_instance_connect_port(r->instance, p, buffer.data());
        } else if (lilv_port_is_a(plugin, port, control)) {
            r->controls[p] = defaults[p] == defaults[p] ? defaults[p] : 0.0f;
            if (setting != nullptr) {
                const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
                for (const auto& value : setting->values)
                    if (strcmp(symbol, value.first) == 0) r->controls[p] = value.second;
            }
            lilv_instance_connect_port(r->instance, p, &r->controls[p]);
        } else if (lilv_port_has_property(plugin, port, optional)) {
            lilv_instance_connect_port(r->instance, p, nullptr);
        } else {
            usable = false;  // an event or CV port this host does not feed
        }
    }
    lilv_node_free(audio);
    lilv_node_free(control);
    lilv_node_free(input);
    lilv_node_free(optional);
    if (!usable) return nullptr;
    lilv_instance_activate(r->instance);
    return r;
}

long residentKb() {
    FILE* statm = fopen("/proc/self/statm", "r");
    long size = 0, resident = 0;
    if (statm == nullptr) return 0;
    if (fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = 0;
    fclose(statm);
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

double monotonicSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// N instances of ours: the time instantiate takes and what they hold
// resident, before and after each has run `seconds` of noise.
int measureMemory(LilvWorld* world, const LilvPlugin* ours, int count, double seconds, uint32_t callSize,
                  const LV2_Feature* const* features) {
    std::vector<float> noise(callSize);
    for (size_t k = 0; k < noise.size(); ++k) noise[k] = (float)((k * 7919) % 1000) * 0.001f - 0.5f;
    const long before = residentKb();
    std::vector<std::unique_ptr<Runner>> runners;
    const double start = monotonicSeconds();
    for (int i = 0; i < count; ++i) {
        runners.push_back(makeRunner(world, ours, "ours", &kOurSettings[0], callSize, features));
        if (!runners.back()) return 1;
    }
    const double instantiate = (monotonicSeconds() - start) / count;
    const long created = residentKb();
    for (auto& r : runners)
        for (double t = 0.0; t < seconds; t += callSize / kRate) r->run(noise.data(), callSize);
    const long after = residentKb();
    printf("%d instance(s) of ours at the defaults: instantiate %.2f ms each; resident %.2f MB each after\n"
           "instantiate, %.2f MB each (%.1f MB in all) after %.0f s of audio each\n",
           count, instantiate * 1e3, (double)(created - before) / 1024.0 / count,
           (double)(after - before) / 1024.0 / count, (double)(after - before) / 1024.0, seconds);
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void usage() {
    fprintf(stderr,
            "usage: zt-peers [--seconds S] [--rounds R] [--call N] [--only TEXT] [--bundle DIR]\n"
            "  Times our plug-in (at its defaults, heavy and largest settings) and every installed\n"
            "  reverb it knows, at their defaults, on the same noise at 48 kHz.\n"
            "  --seconds  audio per plug-in and round (default 2)\n"
            "  --rounds   rounds, interleaving the plug-ins (default 7)\n"
            "  --call     samples per run call (default 256)\n"
            "  --only     run only the entries whose label contains TEXT (ours/default always runs)\n"
            "  --memory N instantiate N of ours, run each --seconds (default 60) and print the\n"
            "             memory they hold resident and the time instantiate takes\n");
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 2.0;
    bool secondsGiven = false;
    int rounds = 7, memoryInstances = 0;
    uint32_t callSize = 256;
    std::string only, bundle = ZT_BUNDLE_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            seconds = atof(argv[++i]);
            secondsGiven = true;
        } else if (arg == "--memory" && hasValue) {
            memoryInstances = atoi(argv[++i]);
        } else if (arg == "--rounds" && hasValue) {
            rounds = atoi(argv[++i]);
        } else if (arg == "--call" && hasValue) {
            callSize = (uint32_t)atoi(argv[++i]);
        } else if (arg == "--only" && hasValue) {
            only = argv[++i];
        } else if (arg == "--bundle" && hasValue) {
            bundle = argv[++i];
        } else {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }
    if (!(seconds > 0.0) || rounds < 1 || callSize < 1 || callSize > 8192 || memoryInstances < 0) {
        usage();
        return 2;
    }

    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    std::string bundleUri = "file://" + bundle + (bundle.back() == '/' ? "" : "/");
    LilvNode* bundleNode = lilv_new_uri(world, bundleUri.c_str());
    lilv_world_load_bundle(world, bundleNode);
    lilv_node_free(bundleNode);
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world);

    UridMap urids;
    const LV2_Feature mapFeature = {LV2_URID__map, &urids.map};
    const LV2_Feature unmapFeature = {LV2_URID__unmap, &urids.unmap};
    const LV2_Feature* const features[] = {&mapFeature, &unmapFeature, nullptr};

    std::vector<std::unique_ptr<Runner>> runners;
    LilvNode* ourUri = lilv_new_uri(world, kOurUri);
    const LilvPlugin* ours = lilv_plugins_get_by_uri(plugins, ourUri);
    lilv_node_free(ourUri);
    if (ours == nullptr) {
        fprintf(stderr, "zt-peers: our plug-in is not in %s; build the bundle first\n", bundle.c_str());
        return 1;
    }
    if (memoryInstances > 0) {
        const int status = measureMemory(world, ours, memoryInstances, secondsGiven ? seconds : 60.0, callSize, features);
        lilv_world_free(world);
        return status;
    }
    for (const Setting& setting : kOurSettings) {
        const std::string label = std::string("ours/") + setting.name;
        if (label != "ours/default" && !only.empty() && label.find(only) == std::string::npos) continue;
        std::unique_ptr<Runner> r = makeRunner(world, ours, label, &setting, callSize, features);
        if (r) runners.push_back(std::move(r));
    }
    for (const char* uri : kPeerUris) {
        LilvNode* node = lilv_new_uri(world, uri);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(plugins, node);
        lilv_node_free(node);
        if (plugin == nullptr) {
            printf("skipped (not installed): %s\n", uri);
            continue;
        }
        LilvNode* name = lilv_plugin_get_name(plugin);
        const std::string label = lilv_node_as_string(name);
        lilv_node_free(name);
        if (!only.empty() && label.find(only) == std::string::npos) continue;
        std::unique_ptr<Runner> r = makeRunner(world, plugin, label, nullptr, callSize, features);
        if (r) {
            runners.push_back(std::move(r));
        } else {
            printf("skipped (cannot run here): %s\n", uri);
        }
    }

    // The same noise for everyone; units glide to their lengths for a few
    // seconds after instantiation, so every instance first runs 8 s of it.
    const uint32_t samples = (uint32_t)(seconds * kRate);
    std::vector<float> noise(samples + callSize);
    uint32_t state = 0x2545F491u;
    for (float& x : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        x = (float)(state >> 8) * 0x1p-24f - 0.5f;
    }
    for (auto& r : runners)
        for (uint32_t done = 0; done < (uint32_t)(8.0 * kRate); done += callSize) r->run(noise.data() + done % samples, callSize);
    for (int round = 0; round < rounds; ++round) {
        for (auto& r : runners) {
            const double start = threadSeconds();
            for (uint32_t done = 0; done < samples; done += callSize) r->run(noise.data() + done, callSize);
            r->nsPerSample.push_back((threadSeconds() - start) * 1e9 / (double)samples);
        }
    }

    const double reference = median(runners.front()->nsPerSample);
    printf("\nns per sample (thread CPU time, median of %d rounds of %.1f s), calls of %u at 48 kHz\n", rounds, seconds,
           callSize);
    printf("%-32s %10s %12s\n", "plug-in", "ns/sample", "vs ours");
    for (auto& r : runners) {
        const double ns = median(r->nsPerSample);
        printf("%-32s %10.1f %11.2fx\n", r->label.c_str(), ns, ns / reference);
    }
    // The ratios the performance targets are stated in.
    std::map<std::string, double> byLabel;
    for (auto& r : runners) byLabel[r->label] = median(r->nsPerSample);
    const auto ratio = [&](const char* a, const char* b) {
        if (byLabel.count(a) && byLabel.count(b)) printf("%s / %s: %.2f\n", a, b, byLabel[a] / byLabel[b]);
    };
    printf("\n");
    ratio("ours/default", "GVerb");
    ratio("ours/heavy", "GxZita_rev1-Stereo");
    ratio("ours/largest", "ours/default");
    runners.clear();
    lilv_world_free(world);
    return 0;
}
