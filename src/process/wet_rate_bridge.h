// The wet path between the host's rate and the engine, which always runs
// at 48 kHz in whole 16-sample blocks:
//
//   host mono in -> [down: host -> 48 kHz] -> 48 kHz FIFO -> whole 16-sample
//   blocks for the engine -> [up: 48 kHz -> host, stereo] -> host-rate FIFO
//   -> exactly as many wet samples as the host asked for.
//
// At 44.1, 88.2, 96, 176.4 and 192 kHz the two converters keep the room what
// the controls say. At 48 kHz, and at any rate it does not convert, the
// engine hears the host's own samples (elsewhere the room then scales with
// the rate).
//
// The host-rate FIFO starts with `priming` zeros: enough that it never runs
// dry whatever the call sizes (the engine runs on whole blocks only and the
// ratio is fractional), plus the padding that brings the delay to the one
// asked for. Every stage is causal and counts samples from the stream's
// start, so the wet output is the same bits however the host cuts its
// calls.
//
// Per host call of n samples (any n), in slices of at most
// kBridgeSliceLength:
//
//   bridgeBeginSlice(bridge, mono, slice);
//   while (bridgeNextEngineBlock(bridge, &block)) {
//       engine: 16 samples of block -> left, right
//       bridgeEndEngineBlock(bridge, left, right);
//   }
//   bridgeEndSlice(bridge, wetLeft, wetRight, slice);
//
// bridgeBeginSlice has read its input before bridgeEndSlice writes, so the
// two may share a buffer. Only initWetRateBridge allocates; the rest take
// no memory, lock nothing and make no system call.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"
#include "kernels/polyphase_stage.h"

constexpr uint32_t kEngineRate = 48000;
static_assert(static_cast<float>(kEngineRate) == kInternalRate, "the bridge converts to the engine's rate");
constexpr uint32_t kBridgeSliceLength = 256;

// The wet delay every rate is padded to, so that the room's first arrival
// does not move with the host's rate: the longest the converters need is
// 3.51 ms, at 44.1 kHz.
constexpr double kBridgeCommonLatencySeconds = 0.0036;

// Above 96 kHz each direction is two stages: a short filter between the
// host rate and half of it, and the main one between that and 48 kHz.
constexpr uint32_t kMaxChainStages = 2;

struct WetRateBridge {
    uint32_t hostRate = 0;     // Hz, rounded
    bool converting = false;   // false: the engine hears the host's own samples

    PolyphaseStage down[kMaxChainStages];  // mono, host rate -> 48 kHz, in order
    PolyphaseStage up[kMaxChainStages];    // stereo, 48 kHz -> host rate, in order
    uint32_t stageCount = 0;               // per direction: 0, 1 or 2

    // 48 kHz input waiting for the engine: what is left of the last block
    // (under 16) followed by this slice's converted samples.
    float* engineInput = nullptr;
    uint32_t engineInputCount = 0;
    uint32_t engineInputRead = 0;

    float* downBetween = nullptr;               // between the two down stages, one slice
    float* upBetween[2] = {nullptr, nullptr};   // between the two up stages, one block
    float* upOutput[2] = {nullptr, nullptr};    // one block's output at the host rate

    // Host-rate wet output, a stereo ring.
    float* outLeft = nullptr;
    float* outRight = nullptr;
    uint32_t outCapacity = 0;
    uint32_t outRead = 0;
    uint32_t outCount = 0;

    uint32_t priming = 0;        // zeros in the output FIFO after a reset
    double latencySeconds = 0;   // input to wet output, the same at every frequency
    uint32_t faults = 0;         // FIFO overruns or underruns, slices too long: none when used as above

    void* memory = nullptr;
};

// True for the host rates whose samples are converted to and from 48 kHz.
bool bridgeConvertsRate(double hostRate);

// Sets the bridge up for a host rate of 1 Hz .. 768 kHz, with a total wet
// delay of at least targetLatencySeconds (0: the least this rate needs).
// False for other rates or when memory is short (nothing is then held).
bool initWetRateBridge(WetRateBridge& bridge, double hostRate, double targetLatencySeconds);
void freeWetRateBridge(WetRateBridge& bridge);

// Silence everywhere and the FIFO primed again.
void resetWetRateBridge(WetRateBridge& bridge);

// The delay from host input to wet output with an engine that passes its
// input straight through (not a whole number of host samples in general:
// the converters' filters delay by fractions of a sample).
inline double bridgeLatencySeconds(const WetRateBridge& bridge) { return bridge.latencySeconds; }

// The AVX2 loops where the CPU has them (the default), or the baseline:
// the same output bits either way.
void useBridgeWideLanes(WetRateBridge& bridge, bool wide);

void bridgeBeginSlice(WetRateBridge& bridge, const float* mono, uint32_t count);
bool bridgeNextEngineBlock(WetRateBridge& bridge, const float** block);
void bridgeEndEngineBlock(WetRateBridge& bridge, const float* left, const float* right);
void bridgeEndSlice(WetRateBridge& bridge, float* wetLeft, float* wetRight, uint32_t count);
