// run() on the plug-in binary a host loads, watched two ways: every
// allocation, file open, lock call and use of the C library's random
// generator is counted by the interposers of forbidden_calls.cpp, and a
// child process runs the plug-in under a seccomp filter that stops it at
// the first system call of any kind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <lv2/core/lv2.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "rtcheck/forbidden_calls.h"

namespace {

constexpr uint32_t kPorts = 24;
constexpr uint32_t kMaxRun = 4096;

// The two plug-ins, each at the rates that take its different paths.
struct PluginUnderTest {
    const char* name;
    const char* binary;  // ZT_PLUGIN_BINARY or ZT_STEREO_PLUGIN_BINARY in the environment override it
    const char* variable;
    double rate;
    bool stereo;  // two inputs, the controls one index up, and three controls of its own
};
const PluginUnderTest kPlugins[] = {
    {"mono", ZT_PLUGIN_BINARY, "ZT_PLUGIN_BINARY", 48000.0, false},
    {"stereo_44k1", ZT_STEREO_PLUGIN_BINARY, "ZT_STEREO_PLUGIN_BINARY", 44100.0, true},
    {"stereo_192k", ZT_STEREO_PLUGIN_BINARY, "ZT_STEREO_PLUGIN_BINARY", 192000.0, true},
    {"stereo_32k", ZT_STEREO_PLUGIN_BINARY, "ZT_STEREO_PLUGIN_BINARY", 32000.0, true},
};

void PrintTo(const PluginUnderTest& plugin, std::ostream* out) { *out << plugin.name; }

// The staged plug-in, or the binary the environment names (an installed
// one, say).
const char* pluginPath(const PluginUnderTest& plugin) {
    const char* path = getenv(plugin.variable);
    return path != nullptr && *path != '\0' ? path : plugin.binary;
}

struct LoadedPlugin {
    void* library;
    const LV2_Descriptor* descriptor = nullptr;
    explicit LoadedPlugin(const PluginUnderTest& plugin) : library(dlopen(pluginPath(plugin), RTLD_NOW | RTLD_LOCAL)) {
        if (library == nullptr) return;
        auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
        if (entry != nullptr) descriptor = entry(0);
    }
    ~LoadedPlugin() {
        if (library != nullptr) dlclose(library);
    }
};

// Two control sets in which every port differs, ports 6..10 included, so
// that switching between them runs every recomputation, the unit-length
// search and its random draws among them.
const float kSettingA[kPorts] = {0, 0, 0, 30, 2000, 900, 40, 2, 60, 20, 0, 0.6f, 1, 0,
                                 0.5f, 1, 12000, 4000, 4, 10, 2, 4, 0.4f, 0.7f};
const float kSettingB[kPorts] = {0, 0, 0, -70, 300, 30000, 70, 0.5f, 220, 100, -1, 0, 0, 1,
                                 2, 0, 20, 20000, 3, 60, 100, 0, 10, 0};
const float kSettingC[kPorts] = {0, 0, 0, 100, 50, 50, 1, 220, 0.5f, 0, 1, 0.9f, 1, 2,
                                 0, 2, 20000, 20, 6, 0, 0, 100, 0, 10};
// Values far outside the ranges, to take the guards' paths as well.
const float kSettingWild[kPorts] = {0, 0, 0, NAN, -1, INFINITY, 500, -3, NAN, 1e30f, INFINITY, NAN, -0.5f, 1e10f,
                                    NAN, -INFINITY, 0, -100, -7, 1e20f, -5, NAN, -1, 1e30f};
// The stereo companion's own pre-delay, width and bypass beside each
// setting, in the order A, B, C, wild.
const float kStereoExtras[4][3] = {{0, 150, 1}, {500, 0, 0}, {37, 200, 1}, {NAN, -1e30f, NAN}};

struct Host {
    const LV2_Descriptor* descriptor;
    bool stereo;
    LV2_Handle handle;
    float controls[kPorts + 4] = {};  // by port index
    std::vector<float> in = std::vector<float>(kMaxRun), left = std::vector<float>(kMaxRun),
                       right = std::vector<float>(kMaxRun);
    uint32_t noise = 1;

    Host(const LV2_Descriptor* d, const PluginUnderTest& plugin)
        : descriptor(d), stereo(plugin.stereo), handle(d->instantiate(d, plugin.rate, "", nullptr)) {
        if (handle == nullptr) return;
        use(kSettingA);
        // The companion hears the same signal in both inputs.
        float* const monoAudio[] = {in.data(), left.data(), right.data()};
        float* const stereoAudio[] = {in.data(), in.data(), left.data(), right.data()};
        const uint32_t audioPorts = stereo ? 4 : 3;
        for (uint32_t p = 0; p < audioPorts; ++p) descriptor->connect_port(handle, p, (stereo ? stereoAudio : monoAudio)[p]);
        for (uint32_t p = audioPorts; p < ports(); ++p) descriptor->connect_port(handle, p, &controls[p]);
        descriptor->activate(handle);
    }
    ~Host() {
        if (handle != nullptr) descriptor->cleanup(handle);
    }
    uint32_t ports() const { return stereo ? kPorts + 4 : kPorts; }
    void use(const float* setting) {
        const uint32_t shift = stereo ? 1 : 0;
        memcpy(controls + 3 + shift, setting + 3, (kPorts - 3) * sizeof(float));
        if (!stereo) return;
        const float* settings[] = {kSettingA, kSettingB, kSettingC, kSettingWild};
        for (int k = 0; k < 4; ++k) {
            if (settings[k] == setting) memcpy(controls + kPorts + 1, kStereoExtras[k], sizeof kStereoExtras[k]);
        }
    }
    void fillInput(uint32_t n, float level) {
        for (uint32_t k = 0; k < n; ++k) {
            noise = noise * 1664525u + 1013904223u;
            in[k] = level * static_cast<float>(static_cast<int32_t>(noise)) * 0x1p-31f;
        }
    }
    // One run call inside the counting window.
    ForbiddenCallCount countedRun(uint32_t n) {
        armForbiddenCallCount();
        descriptor->run(handle, n);
        return disarmForbiddenCallCount();
    }
};

void addInto(ForbiddenCallCount& sum, const ForbiddenCallCount& c) {
    sum.allocations += c.allocations;
    sum.releases += c.releases;
    sum.fileOpens += c.fileOpens;
    sum.locks += c.locks;
    sum.randomCalls += c.randomCalls;
}

const uint32_t kRunSizes[] = {0, 1, 7, 16, 64, 333, 4096, 15, 128};

// The counters see each kind of call, so a zero below means something.
TEST(RealtimeSafety, CounterSeesEachKindOfCall) {
    void* (*volatile allocate)(size_t) = malloc;
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    armForbiddenCallCount();
    void* block = allocate(100);
    free(block);
    delete new int(3);
    FILE* file = fopen("/nonexistent/zulvamoret", "r");
    const int fd = open("/nonexistent/zulvamoret", O_RDONLY);
    const int fdAt = openat(AT_FDCWD, "/nonexistent/zulvamoret", O_RDONLY);
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    srand(3);
    (void)rand();
    const ForbiddenCallCount count = disarmForbiddenCallCount();
    EXPECT_EQ(file, nullptr);
    EXPECT_LT(fd, 0);
    EXPECT_LT(fdAt, 0);
    EXPECT_EQ(count.allocations, 2u);
    EXPECT_EQ(count.releases, 2u);
    EXPECT_EQ(count.liveBlocks, 0);
    EXPECT_EQ(count.fileOpens, 3u);
    EXPECT_EQ(count.locks, 1u);
    EXPECT_EQ(count.randomCalls, 2u);
}

class RealtimeSafetyOf : public ::testing::TestWithParam<PluginUnderTest> {};

TEST_P(RealtimeSafetyOf, RunAllocatesOpensAndLocksNothing) {
    LoadedPlugin plugin(GetParam());
    ASSERT_NE(plugin.descriptor, nullptr) << dlerror();
    Host host(plugin.descriptor, GetParam());
    ASSERT_NE(host.handle, nullptr);

    // The first run applies every port.
    host.fillInput(256, 0.5f);
    ForbiddenCallCount first = host.countedRun(256);
    EXPECT_EQ(first.forbidden(), 0u);

    ForbiddenCallCount steady;
    for (int round = 0; round < 4; ++round) {
        for (uint32_t n : kRunSizes) {
            host.fillInput(n, 0.5f);
            addInto(steady, host.countedRun(n));
        }
    }
    EXPECT_EQ(steady.forbidden(), 0u) << steady.allocations << " " << steady.releases << " " << steady.fileOpens
                                      << " " << steady.locks << " " << steady.randomCalls;

    // Every port changes before every run, the wild values included, with
    // ordinary, non-finite and huge input (the recovery path).
    const float* settings[] = {kSettingB, kSettingC, kSettingWild, kSettingA};
    const float levels[] = {0.5f, NAN, 3e38f, INFINITY, 1.0f};
    ForbiddenCallCount changing;
    int changes = 0;
    for (int round = 0; round < 3; ++round) {
        for (uint32_t n : kRunSizes) {
            host.use(settings[changes % 4]);
            host.fillInput(n, levels[changes % 5]);
            addInto(changing, host.countedRun(n));
            ++changes;
        }
    }
    EXPECT_EQ(changing.forbidden(), 0u) << changing.allocations << " " << changing.releases << " "
                                        << changing.fileOpens << " " << changing.locks << " " << changing.randomCalls;
    printf("run: %d counted calls without changes, %d with every port changed; %u forbidden calls\n",
           4 * static_cast<int>(sizeof kRunSizes / sizeof kRunSizes[0]) + 1, changes,
           first.forbidden() + steady.forbidden() + changing.forbidden());
}

// A host that uses rand() itself sees its own sequence, however often run
// recomputes the unit lengths in between (a count of 1 among them).
TEST_P(RealtimeSafetyOf, RunLeavesTheHostsRandomSequenceAlone) {
    LoadedPlugin plugin(GetParam());
    ASSERT_NE(plugin.descriptor, nullptr) << dlerror();
    Host host(plugin.descriptor, GetParam());
    ASSERT_NE(host.handle, nullptr);
    constexpr int kDraws = 12;
    srand(77);
    int expected[kDraws];
    for (int& draw : expected) draw = rand();

    srand(77);
    const float* settings[] = {kSettingB, kSettingC, kSettingWild, kSettingA};
    for (int k = 0; k < kDraws; ++k) {
        host.use(settings[k % 4]);
        host.descriptor->run(host.handle, 64);
        EXPECT_EQ(rand(), expected[k]) << "draw " << k;
    }
}

// When the engine cannot be allocated, instantiate gives null and keeps nothing.
TEST_P(RealtimeSafetyOf, InstantiateReturnsNullWhenMemoryRunsOut) {
    LoadedPlugin plugin(GetParam());
    ASSERT_NE(plugin.descriptor, nullptr) << dlerror();
    const LV2_Descriptor* d = plugin.descriptor;
    // The engine's block fails alone, then every allocation does.
    const struct {
        size_t failFrom;
        unsigned allocationsTried;
    } cases[] = {{size_t{1} << 20, 2}, {1, 1}};
    for (const auto& c : cases) {
        const size_t failFrom = c.failFrom;
        SCOPED_TRACE(failFrom);
        armForbiddenCallCount();
        failAllocationsFrom(failFrom);
        LV2_Handle handle = d->instantiate(d, GetParam().rate, "", nullptr);
        const ForbiddenCallCount count = disarmForbiddenCallCount();
        EXPECT_EQ(handle, nullptr);
        EXPECT_GE(count.allocations, c.allocationsTried);
        EXPECT_EQ(count.liveBlocks, 0) << "a failed instantiate must release what it took";
        if (handle != nullptr) d->cleanup(handle);
    }
    LV2_Handle handle = d->instantiate(d, GetParam().rate, "", nullptr);
    EXPECT_NE(handle, nullptr) << "a later instantiate, with memory, works";
    if (handle != nullptr) d->cleanup(handle);
}

// --- No system call at all: a child process under a seccomp filter. ---

struct SyscallReport {
    volatile long number;  // the first system call made, or -1
};
SyscallReport* gReport = nullptr;

void onForbiddenSyscall(int, siginfo_t* info, void*) {
    gReport->number = info->si_syscall;
    syscall(SYS_exit_group, 3);  // exit_group is the one call the filter lets through
}

// From here on every system call but exit_group traps, on every thread of
// the process.
bool forbidSystemCalls() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

// Runs each body on a thread of its own in a child under the filter, all
// at once; the first system call any of them makes, -1 for none, or -2 when
// the filter could not be installed. The threads are started, and wait by
// spinning, before the filter goes on; neither they nor the main thread
// make a call of their own afterwards (no join, no futex: exit_group ends
// them all).
long firstSystemCallOf(std::vector<std::function<void()>> bodies) {
    gReport = static_cast<SyscallReport*>(
        mmap(nullptr, sizeof(SyscallReport), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    gReport->number = -1;
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        struct sigaction action = {};
        action.sa_sigaction = onForbiddenSyscall;
        action.sa_flags = SA_SIGINFO;
        sigaction(SIGSYS, &action, nullptr);
        static std::atomic<int> ready{0}, done{0};
        static std::atomic<bool> go{false};
        const int count = static_cast<int>(bodies.size());
        for (std::function<void()>& body : bodies) {
            std::thread([&body] {
                ready.fetch_add(1);
                while (!go.load()) {
                }
                body();
                done.fetch_add(1);
                for (;;) {
                }
            }).detach();
        }
        while (ready.load() < count) {
        }
        if (!forbidSystemCalls()) _exit(2);
        go.store(true);
        while (done.load() < count) {
        }
        syscall(SYS_exit_group, 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    long number = gReport->number;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) number = -2;
    munmap(gReport, sizeof(SyscallReport));
    return number;
}

// Every port changes before every call, so each call recomputes everything,
// the unit lengths and their random draws among it; one call in four also
// processes audio. The players of one child make each call together (a
// barrier by spinning, which makes no system call), so that their
// recomputations overlap.
struct Rounds {
    std::atomic<int> arrivals{0};
    int players = 1;

    void play(Host& host, int firstSetting) {
        const float* settings[] = {kSettingA, kSettingB, kSettingWild, kSettingC};
        constexpr int kRunSizeCount = sizeof kRunSizes / sizeof kRunSizes[0];
        for (int call = 0; call < 400; ++call) {
            arrivals.fetch_add(1);
            while (arrivals.load() < players * (call + 1)) {
            }
            host.use(settings[(call + firstSetting) % 4]);
            host.in[5] = call % 3 == 0 ? NAN : 0.25f;
            host.descriptor->run(host.handle, call % 4 == 3 ? kRunSizes[call % kRunSizeCount] : 0);
        }
    }
};

// One instance, then two on two threads recomputing at the same moments.
TEST_P(RealtimeSafetyOf, RunMakesNoSystemCall) {
    LoadedPlugin plugin(GetParam());
    ASSERT_NE(plugin.descriptor, nullptr) << dlerror();
    Host host(plugin.descriptor, GetParam()), other(plugin.descriptor, GetParam());
    ASSERT_NE(host.handle, nullptr);
    ASSERT_NE(other.handle, nullptr);
    host.fillInput(kMaxRun, 0.5f);
    other.fillInput(kMaxRun, 0.3f);

    const long selfCheck = firstSystemCallOf({[] { syscall(SYS_getpid); }});
    if (selfCheck == -2) GTEST_SKIP() << "seccomp filters are not available here";
    ASSERT_EQ(selfCheck, SYS_getpid) << "the filter must catch a deliberate call";

    Rounds alone;
    const long inRun = firstSystemCallOf({[&] { alone.play(host, 0); }});
    EXPECT_EQ(inRun, -1) << "run made system call " << inRun;
    Rounds together;
    together.players = 2;
    const long inRuns = firstSystemCallOf({[&] { together.play(host, 0); }, [&] { together.play(other, 1); }});
    EXPECT_EQ(inRuns, -1) << "run on two threads made system call " << inRuns;
}

INSTANTIATE_TEST_SUITE_P(Plugins, RealtimeSafetyOf, ::testing::ValuesIn(kPlugins),
                         [](const ::testing::TestParamInfo<PluginUnderTest>& info) { return info.param.name; });

}  // namespace
