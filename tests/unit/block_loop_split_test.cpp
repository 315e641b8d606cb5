#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "shell/plugin_instance.h"
#include "support/plugin_rig.h"

namespace {

struct Setting {
    int32_t routing;
    bool stereo;
};

const Setting kSettings[] = {{0, false}, {0, true}, {1, false}, {1, true}, {2, false}, {2, true}};

// The usual bank with the diffusers and the modulation in use.
void useSetting(PluginRig& rig, const Setting& setting) {
    rig.controls[PortRouting] = static_cast<float>(setting.routing);
    rig.controls[PortStereo] = setting.stereo ? 1.0f : 0.0f;
    rig.controls[PortDiffusion] = 0.6f;
    rig.controls[PortModDepthFirst] = 5.0f;
    rig.controls[PortModDepthLast] = 20.0f;
    rig.controls[PortModRateFirst] = 0.5f;
    rig.controls[PortModRateLast] = 3.0f;
}

// Clicks, a short noise burst and silence, so every stage has work to do.
std::vector<float> testSignal(size_t count) {
    std::vector<float> signal(count, 0.0f);
    uint32_t seed = 12345;
    for (size_t k = 0; k < count; ++k) {
        if (k % 1500 == 7) signal[k] = 1.0f;
        if (k >= 2000 && k < 2600) {
            seed = seed * 1664525u + 1013904223u;
            signal[k] = static_cast<float>(static_cast<int32_t>(seed)) * (0.5f / 2147483648.0f);
        }
    }
    return signal;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// `count` floats whose last one sits just before an inaccessible page, so
// any touch past the end faults; canaries fill the floats before the start.
class GuardedBuffer {
public:
    static constexpr size_t kCanaries = 32;
    static constexpr float kCanary = -1234.5f;

    explicit GuardedBuffer(size_t count) : count_(count) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t bytes = (count + kCanaries) * sizeof(float);
        usable_ = (bytes + page - 1) / page * page;
        base_ = static_cast<char*>(mmap(nullptr, usable_ + page, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + usable_, page, PROT_NONE);
        data_ = reinterpret_cast<float*>(base_ + usable_) - count;
        for (size_t k = 1; k <= kCanaries; ++k) data_[-static_cast<ptrdiff_t>(k)] = kCanary;
        page_ = page;
    }
    ~GuardedBuffer() { munmap(base_, usable_ + page_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    float* data() { return data_; }
    bool canariesIntact() const {
        for (size_t k = 1; k <= kCanaries; ++k)
            if (data_[-static_cast<ptrdiff_t>(k)] != kCanary) return false;
        return true;
    }

private:
    size_t count_;
    size_t usable_ = 0;
    size_t page_ = 0;
    char* base_ = nullptr;
    float* data_ = nullptr;
};

// Renders `signal` in calls of the sizes in `pattern` (repeated), with the
// input buffer also connected as output port `sharedPort` (1 or 2).
void renderShared(PluginRig& rig, const std::vector<float>& signal, const std::vector<uint32_t>& pattern,
                  uint32_t sharedPort) {
    size_t at = 0;
    for (size_t call = 0; at < signal.size(); ++call) {
        const uint32_t size = pattern[call % pattern.size()];
        const uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, signal.size() - at));
        std::vector<float> shared(signal.begin() + at, signal.begin() + at + count);
        std::vector<float> other(count, 0.0f);
        connectPluginPort(*rig.instance, PortAudioIn, shared.data());
        connectPluginPort(*rig.instance, sharedPort, shared.data());
        connectPluginPort(*rig.instance, sharedPort == PortAudioOutLeft ? PortAudioOutRight : PortAudioOutLeft,
                          other.data());
        runPlugin(*rig.instance, count);
        const std::vector<float>& l = sharedPort == PortAudioOutLeft ? shared : other;
        const std::vector<float>& r = sharedPort == PortAudioOutLeft ? other : shared;
        rig.left.insert(rig.left.end(), l.begin(), l.end());
        rig.right.insert(rig.right.end(), r.begin(), r.end());
        at += count;
    }
}

}  // namespace

TEST(BlockLoopSplit, AnyCallSizesGiveTheSixteenSampleRender) {
    const std::vector<float> signal = testSignal(9000);
    for (const Setting& setting : kSettings) {
        PluginRig reference;
        useSetting(reference, setting);
        reference.render(signal, 16);
        bool heard = false;
        for (float y : reference.right) heard = heard || (y != 0.0f && y == y);
        EXPECT_TRUE(heard);
        for (uint32_t callSize : {1u, 7u, 100u, 4096u}) {
            PluginRig split;
            useSetting(split, setting);
            split.render(signal, callSize);
            EXPECT_TRUE(sameBits(split.left, reference.left))
                << "routing " << setting.routing << " stereo " << setting.stereo << " calls of " << callSize;
            EXPECT_TRUE(sameBits(split.right, reference.right))
                << "routing " << setting.routing << " stereo " << setting.stereo << " calls of " << callSize;
        }
    }
}

TEST(BlockLoopSplit, InputSharedWithAnOutputMatchesSeparateBuffers) {
    const std::vector<float> signal = testSignal(5000);
    const std::vector<uint32_t> pattern = {16, 7, 100, 1, 33, 64, 250};
    for (const Setting& setting : kSettings) {
        PluginRig separate;
        useSetting(separate, setting);
        separate.render(signal, 16);
        for (uint32_t port : {static_cast<uint32_t>(PortAudioOutLeft), static_cast<uint32_t>(PortAudioOutRight)}) {
            PluginRig shared;
            useSetting(shared, setting);
            renderShared(shared, signal, pattern, port);
            EXPECT_TRUE(sameBits(shared.left, separate.left))
                << "routing " << setting.routing << " stereo " << setting.stereo << " shared with " << port;
            EXPECT_TRUE(sameBits(shared.right, separate.right))
                << "routing " << setting.routing << " stereo " << setting.stereo << " shared with " << port;
        }
    }
}

TEST(BlockLoopSplit, NothingAtOrBeyondTheSampleCountIsTouched) {
    const std::vector<float> signal = testSignal(3000);
    for (int32_t routing : {0, 1, 2, 5}) {
        PluginRig rig;
        useSetting(rig, Setting{routing, true});
        size_t at = 0;
        for (uint32_t count : {1u, 15u, 16u, 17u, 7u, 100u, 0u, 31u, 128u, 4u, 333u}) {
            GuardedBuffer input(count), left(count), right(count);
            memcpy(input.data(), signal.data() + at, count * sizeof(float));
            connectPluginPort(*rig.instance, PortAudioIn, input.data());
            connectPluginPort(*rig.instance, PortAudioOutLeft, left.data());
            connectPluginPort(*rig.instance, PortAudioOutRight, right.data());
            runPlugin(*rig.instance, count);
            EXPECT_TRUE(input.canariesIntact() && left.canariesIntact() && right.canariesIntact())
                << "routing " << routing << " count " << count;
            at += count;
        }
    }
}
