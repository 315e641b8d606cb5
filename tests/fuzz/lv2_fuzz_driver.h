// Drives instances of either plug-in (the mono-input one or the stereo
// companion) through the LV2 entry points with whatever a source of
// choices dictates: any float on any control port, run lengths of
// 0 to 8192, buffers shared between ports, ports reconnected between runs,
// deactivate/activate, and several instances created, run and destroyed
// interleaved. The seeded GoogleTest driver and the libFuzzer target share
// it; each gives its own Source:
//   uint32_t bits();                  // 32 arbitrary bits
//   uint32_t below(uint32_t bound);   // 0 .. bound-1 (bound > 0)
// Every buffer is allocated at exactly the run's length, so that a sanitizer
// sees any access past it.
#pragma once

#include <float.h>
#include <lv2/core/lv2.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace fuzz {

constexpr uint32_t kMaxPorts = 28;
constexpr uint32_t kLongestRun = 8192;
constexpr uint32_t kMaxInstances = 3;

inline float floatFromBits(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

// Values that have broken audio code before: every kind of NaN, the
// infinities, subnormals, the float limits, the edges of the integer types
// the ports are truncated to, and the counts and switches the ports know.
const uint32_t kSpecialBits[] = {
    0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0x7FC12345u,  // NaNs: quiet, negative, signalling, payload
    0x7F800000u, 0xFF800000u,                            // infinities
    0x00000000u, 0x80000000u,                            // zeros
    0x00000001u, 0x807FFFFFu, 0x00400000u,               // subnormals
    0x00800000u, 0x7F7FFFFFu, 0xFF7FFFFFu,               // FLT_MIN, FLT_MAX, -FLT_MAX
    0x4F000000u, 0xCF000000u, 0x4F800000u, 0x5F000000u,  // 2^31, -2^31, 2^32, 2^63
    0x5F800000u, 0xDF800000u, 0x3F7FFFFFu, 0x3F800001u,  // 2^64, -2^64, just below and above 1
};
const float kPlainValues[] = {0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 2.0f, 3.0f, 6.0f, 7.0f, 8.0f, 40.0f, 69.9f, 70.0f,
                              70.9f, 71.0f, 500.0f, 5000.0f, 30000.0f, 20000.0f, 1e10f, -1e10f, 1e30f, -1e30f};

template <typename Source>
float anyFloat(Source& source) {
    switch (source.below(6)) {
        case 0: return floatFromBits(kSpecialBits[source.below(sizeof kSpecialBits / sizeof kSpecialBits[0])]);
        case 1: return kPlainValues[source.below(sizeof kPlainValues / sizeof kPlainValues[0])];
        case 2: return floatFromBits(source.bits());                        // any pattern at all
        case 3: return static_cast<float>(source.below(80)) - 5.0f;         // counts, modes, types
        case 4: return static_cast<float>(source.below(3000001)) * 0.01f;   // ordinary settings
        default: return -static_cast<float>(source.below(100001)) * 0.01f;  // negative ones
    }
}

// Sample values come from a small generator seeded by one draw, so that a
// byte-driven source spends its bytes on the sequence of calls.
struct SampleNoise {
    uint32_t state;
    uint32_t bits() { return state = state * 1664525u + 1013904223u; }
    float uniform() { return static_cast<float>(static_cast<int32_t>(bits())) * 0x1p-31f; }
};

// An input signal of one kind: silence, noise at any level from subnormal
// to the float limit, clicks, or noise strewn with NaN, infinity and
// subnormal samples.
template <typename Source>
void fillSignal(Source& source, float* x, uint32_t n) {
    const float levels[] = {1e-40f, 1e-3f, 1.0f, 1e20f, FLT_MAX};
    const uint32_t kind = source.below(7);
    const float level = levels[source.below(5)];
    SampleNoise noise{source.bits()};
    for (uint32_t k = 0; k < n; ++k) {
        switch (kind) {
            case 0: x[k] = 0.0f; break;
            case 1: x[k] = noise.uniform() * level; break;
            case 2: x[k] = k % 97 == 0 ? level : 0.0f; break;
            case 3: x[k] = noise.bits() % 8 == 0 ? floatFromBits(kSpecialBits[noise.bits() % 11]) : noise.uniform(); break;
            case 4: x[k] = floatFromBits(noise.bits()); break;
            case 5: x[k] = k < n / 2 ? NAN : noise.uniform(); break;
            default: x[k] = k % 2 == 0 ? INFINITY : -INFINITY; break;
        }
    }
}

// Run lengths: none, a few samples, whole blocks, and odd sizes.
template <typename Source>
uint32_t anyRunLength(Source& source) {
    switch (source.below(5)) {
        case 0: return 0;
        case 1: return 1 + source.below(15);
        case 2: return 16 * (1 + source.below(kLongestRun / 16));
        case 3: return 1 + 2 * source.below(kLongestRun / 2);
        default: return source.below(kLongestRun + 1);
    }
}

// The port layout of a plug-in: its audio inputs, its two audio outputs,
// then its controls (the mono-input plug-in's 3..23 first).
struct PluginShape {
    const LV2_Descriptor* descriptor;
    uint32_t ports;   // 24 mono-input, 28 stereo
    uint32_t inputs;  // 1 or 2
};

inline PluginShape monoShape() { return PluginShape{lv2_descriptor(0), 24, 1}; }

struct Instance {
    LV2_Handle handle = nullptr;
    float controls[kMaxPorts] = {};
    float spare[kMaxPorts] = {};  // second home for control ports, to reconnect to
};

struct Statistics {
    uint64_t steps = 0;
    uint64_t runs = 0;
    uint64_t samples = 0;
    uint64_t instances = 0;
};

class Driver {
public:
    explicit Driver(const PluginShape& shape = monoShape())
        : descriptor_(shape.descriptor), ports_(shape.ports), inputs_(shape.inputs), audioPorts_(shape.inputs + 2) {}
    ~Driver() {
        for (auto& instance : instances_) destroy(instance);
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    const Statistics& statistics() const { return statistics_; }
    bool ready() const { return descriptor_ != nullptr; }

    template <typename Source>
    void step(Source& source) {
        ++statistics_.steps;
        Instance& instance = instances_[source.below(kMaxInstances)];
        if (instance.handle == nullptr) {
            create(source, instance);
            return;
        }
        const uint32_t action = source.below(100);
        if (action < 35) {
            run(source, instance);
        } else if (action < 60) {
            instance.controls[audioPorts_ + source.below(ports_ - audioPorts_)] = anyFloat(source);
        } else if (action < 65) {
            for (uint32_t p = audioPorts_; p < ports_; ++p) instance.controls[p] = anyFloat(source);
        } else if (action < 75) {
            // Move a control port to the other home, which holds its own value.
            const uint32_t port = audioPorts_ + source.below(ports_ - audioPorts_);
            float* home = source.below(2) == 0 ? instance.spare : instance.controls;
            home[port] = anyFloat(source);
            descriptor_->connect_port(instance.handle, port, &home[port]);
        } else if (action < 80) {
            const uint32_t indices[] = {ports_, ports_ + 1, 1000, UINT32_MAX};
            descriptor_->connect_port(instance.handle, indices[source.below(4)], instance.spare);
        } else if (action < 88) {
            descriptor_->deactivate(instance.handle);
            descriptor_->activate(instance.handle);
        } else if (action < 92) {
            if (source.below(2) == 0) descriptor_->deactivate(instance.handle);
            else descriptor_->activate(instance.handle);
        } else if (action < 95) {
            destroy(instance);
        } else {
            // A run of every port changed at once, ports 6..10 among them.
            for (uint32_t p = audioPorts_; p < ports_; ++p) instance.controls[p] = anyFloat(source);
            run(source, instance);
        }
    }

    // Sets ordinary values, feeds ordinary noise and reports whether every
    // live instance's output became finite: no bad value or bad audio may
    // leave an instance broken once the host behaves again.
    template <typename Source>
    bool everyInstanceRecovers(Source& source) {
        for (auto& instance : instances_) {
            if (instance.handle == nullptr) continue;
            // Ports 3..23 of the mono-input plug-in, then the companion's
            // pre-delay, width and bypass.
            const float ordinary[] = {30, 50, 50, 8, 2, 40, 0, 0, 0.5f, 1, 0, 0.5f,
                                      1, 12000, 4000, 4, 10, 2, 4, 0.4f, 0.7f, 10, 150, 1};
            for (uint32_t p = audioPorts_; p < ports_; ++p) {
                instance.controls[p] = ordinary[p - audioPorts_];
                descriptor_->connect_port(instance.handle, p, &instance.controls[p]);
            }
            std::vector<float> in(256), left(256), right(256);
            SampleNoise noise{source.bits()};
            bool finite = false;
            for (int call = 0; call < 48; ++call) {  // 0.25 s: the 50 ms decay falls 300 dB
                for (float& x : in) x = noise.uniform();
                connectAudio(instance, in.data(), in.data(), left.data(), right.data());
                descriptor_->run(instance.handle, 256);
                finite = true;
                for (uint32_t k = 0; k < 256; ++k) finite = finite && isfinite(left[k]) && isfinite(right[k]);
            }
            if (!finite) return false;
        }
        return true;
    }

private:
    template <typename Source>
    void create(Source& source, Instance& instance) {
        const double rates[] = {48000.0, 44100.0, 96000.0, 8000.0, 0.0, -1.0, 1e300, NAN, 192000.0};
        instance.handle = descriptor_->instantiate(descriptor_, rates[source.below(9)], "/nowhere/", nullptr);
        if (instance.handle == nullptr) return;
        ++statistics_.instances;
        for (uint32_t p = audioPorts_; p < ports_; ++p) {
            instance.controls[p] = anyFloat(source);
            descriptor_->connect_port(instance.handle, p, &instance.controls[p]);
        }
        if (source.below(2) == 0) descriptor_->activate(instance.handle);
    }

    void destroy(Instance& instance) {
        if (instance.handle == nullptr) return;
        descriptor_->cleanup(instance.handle);
        instance.handle = nullptr;
    }

    void connectAudio(Instance& instance, float* in, float* otherIn, float* left, float* right) {
        descriptor_->connect_port(instance.handle, 0, in);
        if (inputs_ == 2) descriptor_->connect_port(instance.handle, 1, otherIn);
        descriptor_->connect_port(instance.handle, inputs_, left);
        descriptor_->connect_port(instance.handle, inputs_ + 1, right);
    }

    template <typename Source>
    void run(Source& source, Instance& instance) {
        const uint32_t n = anyRunLength(source);
        // Exactly n floats each (new float[0] is a real, untouchable block).
        std::unique_ptr<float[]> in(new float[n]), otherIn(new float[n]), left(new float[n]), right(new float[n]);
        fillSignal(source, in.get(), n);
        fillSignal(source, otherIn.get(), n);
        SampleNoise garbage{source.bits()};
        for (uint32_t k = 0; k < n; ++k) left[k] = right[k] = floatFromBits(garbage.bits());
        float* input = in.get();
        float* secondInput = otherIn.get();
        float* outLeft = left.get();
        float* outRight = right.get();
        switch (source.below(9)) {
            case 0: memcpy(outLeft, input, n * sizeof(float)); input = outLeft; break;    // in place, left
            case 1: memcpy(outRight, input, n * sizeof(float)); input = outRight; break;  // in place, right
            case 2: outRight = outLeft; break;                                         // one output buffer
            case 3: secondInput = input; break;                                        // one input buffer
            case 4: memcpy(outLeft, secondInput, n * sizeof(float)); secondInput = outLeft; break;  // crossed in place
            default: break;
        }
        connectAudio(instance, input, secondInput, outLeft, outRight);
        descriptor_->run(instance.handle, n);
        ++statistics_.runs;
        statistics_.samples += n;
    }

    const LV2_Descriptor* descriptor_;
    uint32_t ports_, inputs_, audioPorts_;
    Instance instances_[kMaxInstances];
    Statistics statistics_;
};

}  // namespace fuzz
