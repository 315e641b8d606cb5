// The floating-point mode belongs to the host's thread: loading the shared
// object and every entry point leave it as they found it. Checked in a child
// process that loads a private copy of the bundle through lilv, so that the
// library surely loads there, on a thread whose mode the test chose.
#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(__SSE2__)
#include <dirent.h>
#include <lilv/lilv.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <functional>
#include <string>
#include <vector>

#include "staged_plugin.h"
#include "support/mxcsr_bits.h"

namespace {

bool copyFile(const std::string& from, const std::string& to) {
    FILE* in = fopen(from.c_str(), "rb");
    if (in == nullptr) return false;
    FILE* out = fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char chunk[65536];
    size_t got;
    while (ok && (got = fread(chunk, 1, sizeof chunk, in)) > 0) ok = fwrite(chunk, 1, got, out) == got;
    fclose(in);
    if (out != nullptr && fclose(out) != 0) ok = false;
    return ok;
}

// The names of the staged bundle's files.
std::vector<std::string> bundleFiles() {
    std::vector<std::string> names;
    DIR* dir = opendir(ZT_BUNDLE_DIR);
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

// Exit codes of the child: 0 when every step left the mode alone.
enum ChildExit { kNotLoadable = 10, kFirstStep = 20 };
const char* const kSteps[] = {"load and instantiate", "connect_port", "activate", "run (every port applied)",
                              "run (ports changed)", "extension_data", "deactivate", "cleanup and unload"};

// Loads the bundle at `bundle` in a world of its own and takes an instance
// through its whole life, checking the control word after each step.
int driveInstance(const std::string& bundle) {
    // Every exception masked (lilv's own arithmetic must not trap), all else
    // far from the engine's mode: denormals-are-zero, rounding toward zero,
    // no flush-to-zero.
    const uint32_t caller = kMxcsrExceptionMasks | kMxcsrDenormalsAreZero | kMxcsrRoundTowardZero;
    LilvWorld* world = lilv_world_new();
    LilvNode* bundleUri = lilv_new_file_uri(world, nullptr, (bundle + "/").c_str());
    lilv_world_load_bundle(world, bundleUri);
    LilvNode* pluginUri = lilv_new_uri(world, ZT_PLUGIN_URI);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    if (plugin == nullptr) return kNotLoadable;
    float audio[3][256] = {{0.5f}};
    float controls[kPortCount] = {};
    LilvInstance* instance = nullptr;
    const std::function<void()> steps[] = {
        [&] { instance = lilv_plugin_instantiate(plugin, 48000.0, nullptr); },
        [&] {
            for (uint32_t p = 0; p < kPortCount; ++p)
                lilv_instance_connect_port(instance, p, p < 3 ? audio[p] : &controls[p]);
        },
        [&] { lilv_instance_activate(instance); },
        [&] { lilv_instance_run(instance, 256); },
        [&] {
            for (uint32_t p = 3; p < kPortCount; ++p) controls[p] = 1.0f;
            lilv_instance_run(instance, 256);
        },
        [&] { (void)lilv_instance_get_extension_data(instance, "urn:zulvamoret:none"); },
        [&] { lilv_instance_deactivate(instance); },
        [&] { lilv_instance_free(instance); },
    };
    static_assert(sizeof steps / sizeof steps[0] == sizeof kSteps / sizeof kSteps[0], "a name for every step");
    _mm_setcsr(caller);
    for (int step = 0; step < static_cast<int>(sizeof steps / sizeof steps[0]); ++step) {
        steps[step]();
        if (instance == nullptr) return kNotLoadable;
        if ((_mm_getcsr() & ~kMxcsrStickyFlags) != caller) return kFirstStep + step;
    }
    lilv_node_free(pluginUri);
    lilv_node_free(bundleUri);
    lilv_world_free(world);
    return 0;
}

}  // namespace

TEST(HostFloatMode, LoadingAndEveryEntryPointLeaveTheCallersModeAlone) {
    char dir[] = "/tmp/zt-load-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string bundle = std::string(dir) + "/zulvamoret-tarnwise.lv2";
    ASSERT_EQ(mkdir(bundle.c_str(), 0700), 0);
    const std::vector<std::string> files = bundleFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files)
        ASSERT_TRUE(copyFile(std::string(ZT_BUNDLE_DIR) + "/" + file, bundle + "/" + file)) << file;

    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(driveInstance(bundle));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (const std::string& file : files) unlink((bundle + "/" + file).c_str());
    rmdir(bundle.c_str());
    rmdir(dir);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_NE(code, kNotLoadable) << "the private bundle could not be loaded";
    if (code >= kFirstStep && code < kFirstStep + static_cast<int>(sizeof kSteps / sizeof kSteps[0])) {
        ADD_FAILURE() << "the caller's mode changed in: " << kSteps[code - kFirstStep];
    } else {
        EXPECT_EQ(code, 0);
    }
}

#endif
