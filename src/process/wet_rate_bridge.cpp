#include "process/wet_rate_bridge.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Pass-band edge of every converter, and the rejection they are designed
// for: 100 dB leaves margin on 90 dB for float taps and arithmetic, and for
// two stages whose leftovers could add.
constexpr uint32_t kPassEdge = 20000;
constexpr double kAttenuationDb = 100.0;
constexpr double kHighestRate = 768000.0;

// The stages for one host rate. The main converter, between 48 kHz and
// `middle`, rejects from the lower rate's Nyquist frequency on, so that no
// image or alias of anything below one Nyquist frequency lands below the
// other. Above 96 kHz a short filter joins the host rate to middle = half of
// it: all it must remove is what would fold onto 0..24 kHz, i.e. from
// middle - 24 kHz on.
bool initStages(WetRateBridge& bridge) {
    const uint32_t host = bridge.hostRate;
    const uint32_t middle = host > 96000 ? host / 2 : host;
    const uint32_t mainStop = (middle < kEngineRate ? middle : kEngineRate) / 2;
    bridge.stageCount = middle == host ? 1 : 2;
    if (bridge.stageCount == 1) {
        return initRateConverterStage(bridge.down[0], host, kEngineRate, kPassEdge, mainStop, kAttenuationDb, 1) &&
               initRateConverterStage(bridge.up[0], kEngineRate, host, kPassEdge, mainStop, kAttenuationDb, 2);
    }
    const uint32_t shortStop = middle - kEngineRate / 2;
    return initRateConverterStage(bridge.down[0], host, middle, kPassEdge, shortStop, kAttenuationDb, 1) &&
           initRateConverterStage(bridge.down[1], middle, kEngineRate, kPassEdge, mainStop, kAttenuationDb, 1) &&
           initRateConverterStage(bridge.up[0], kEngineRate, middle, kPassEdge, mainStop, kAttenuationDb, 2) &&
           initRateConverterStage(bridge.up[1], middle, host, kPassEdge, shortStop, kAttenuationDb, 2);
}

// Pushes `count` inputs through a chain of stage clocks; returns outputs.
uint32_t chainStep(PolyphaseClock* clocks, const PolyphaseStage* stages, uint32_t stageCount, uint32_t count) {
    for (uint32_t s = 0; s < stageCount; ++s) {
        uint32_t made = 0;
        for (uint32_t i = 0; i < count; ++i) made += tickPolyphaseClock(stages[s], clocks[s]);
        count = made;
    }
    return count;
}

// How far the wet output can fall behind the host's input, in host
// samples: the most, over one second (a whole period of every clock
// involved: one second is a whole number of samples, 16-sample blocks and
// stage groups at every rate), by which the host samples given exceed the
// wet samples made. Only the clocks and the block size matter: this counts
// samples and filters nothing.
uint32_t leastPriming(const WetRateBridge& bridge) {
    PolyphaseClock downClocks[kMaxChainStages], upClocks[kMaxChainStages];
    for (uint32_t s = 0; s < bridge.stageCount; ++s) {
        downClocks[s] = startPolyphaseClock(bridge.down[s]);
        upClocks[s] = startPolyphaseClock(bridge.up[s]);
    }
    uint32_t waiting = 0;  // 48 kHz samples short of a block
    uint64_t made = 0;
    int64_t worst = 0;
    for (uint64_t given = 1; given <= bridge.hostRate; ++given) {
        waiting += chainStep(downClocks, bridge.down, bridge.stageCount, 1);
        for (; waiting >= kBlockLength; waiting -= kBlockLength)
            made += chainStep(upClocks, bridge.up, bridge.stageCount, kBlockLength);
        const int64_t behind = (int64_t)given - (int64_t)made;
        if (behind > worst) worst = behind;
    }
    return (uint32_t)worst;
}

double filterDelaySeconds(const WetRateBridge& bridge) {
    double delay = 0.0;
    uint32_t rate = bridge.hostRate;
    for (uint32_t s = 0; s < bridge.stageCount; ++s) {
        delay += polyphaseDelaySeconds(bridge.down[s], rate);
        rate = rate * bridge.down[s].up / bridge.down[s].down;
    }
    for (uint32_t s = 0; s < bridge.stageCount; ++s) {
        delay += polyphaseDelaySeconds(bridge.up[s], rate);
        rate = rate * bridge.up[s].up / bridge.up[s].down;
    }
    return delay;
}

// Copies into the FIFO's ring in at most two runs.
void pushWet(WetRateBridge& bridge, const float* left, const float* right, uint32_t count) {
    if (count > bridge.outCapacity - bridge.outCount) {  // cannot happen: the capacity covers the worst case
        ++bridge.faults;
        count = bridge.outCapacity - bridge.outCount;
    }
    uint32_t at = bridge.outRead + bridge.outCount;
    if (at >= bridge.outCapacity) at -= bridge.outCapacity;
    const uint32_t first = count < bridge.outCapacity - at ? count : bridge.outCapacity - at;
    memcpy(bridge.outLeft + at, left, first * sizeof(float));
    memcpy(bridge.outRight + at, right, first * sizeof(float));
    memcpy(bridge.outLeft, left + first, (count - first) * sizeof(float));
    memcpy(bridge.outRight, right + first, (count - first) * sizeof(float));
    bridge.outCount += count;
}

}  // namespace

bool bridgeConvertsRate(double hostRate) {
    return hostRate == 44100.0 || hostRate == 88200.0 || hostRate == 96000.0 || hostRate == 176400.0 ||
           hostRate == 192000.0;
}

bool initWetRateBridge(WetRateBridge& bridge, double hostRate, double targetLatencySeconds) {
    bridge = WetRateBridge();
    if (!(hostRate >= 1.0 && hostRate <= kHighestRate)) return false;  // NaN too
    bridge.hostRate = (uint32_t)(hostRate + 0.5);
    bridge.converting = bridgeConvertsRate(hostRate);
    if (bridge.converting && !initStages(bridge)) {
        freeWetRateBridge(bridge);
        return false;
    }
    uint32_t priming = leastPriming(bridge);
    const double natural = filterDelaySeconds(bridge) + (double)priming / (double)bridge.hostRate;
    if (targetLatencySeconds > natural) {
        // Pad to the nearest host sample of the target.
        priming += (uint32_t)((targetLatencySeconds - natural) * (double)bridge.hostRate + 0.5);
    }
    bridge.priming = priming;
    bridge.latencySeconds = filterDelaySeconds(bridge) + (double)priming / (double)bridge.hostRate;

    // Buffer sizes: the most each stage can make from one slice (down) or
    // one block (up).
    uint32_t downBetween = 0, sliceAt48k = kBridgeSliceLength;
    uint32_t upBetween = 0, blockAtHost = kBlockLength;
    if (bridge.stageCount >= 1) {
        sliceAt48k = polyphaseMaxOutputs(bridge.down[0], kBridgeSliceLength);
        blockAtHost = polyphaseMaxOutputs(bridge.up[0], kBlockLength);
    }
    if (bridge.stageCount == 2) {
        downBetween = sliceAt48k;
        sliceAt48k = polyphaseMaxOutputs(bridge.down[1], downBetween);
        upBetween = blockAtHost;
        blockAtHost = polyphaseMaxOutputs(bridge.up[1], upBetween);
    }
    const uint32_t engineInputCapacity = kBlockLength + sliceAt48k;
    // The FIFO holds at most the priming, one slice and one block's burst.
    bridge.outCapacity = priming + kBridgeSliceLength + blockAtHost + 1;
    const size_t floats = (size_t)engineInputCapacity + downBetween + 2 * (size_t)upBetween +
                          2 * (size_t)blockAtHost + 2 * (size_t)bridge.outCapacity;
    float* block = (float*)calloc(floats, sizeof(float));
    if (block == nullptr) {
        freeWetRateBridge(bridge);
        return false;
    }
    bridge.memory = block;
    bridge.engineInput = block;
    bridge.downBetween = bridge.engineInput + engineInputCapacity;
    bridge.upBetween[0] = bridge.downBetween + downBetween;
    bridge.upBetween[1] = bridge.upBetween[0] + upBetween;
    bridge.upOutput[0] = bridge.upBetween[1] + upBetween;
    bridge.upOutput[1] = bridge.upOutput[0] + blockAtHost;
    bridge.outLeft = bridge.upOutput[1] + blockAtHost;
    bridge.outRight = bridge.outLeft + bridge.outCapacity;
    resetWetRateBridge(bridge);
    return true;
}

void freeWetRateBridge(WetRateBridge& bridge) {
    for (uint32_t s = 0; s < kMaxChainStages; ++s) {
        freePolyphaseStage(bridge.down[s]);
        freePolyphaseStage(bridge.up[s]);
    }
    free(bridge.memory);
    bridge = WetRateBridge();
}

void resetWetRateBridge(WetRateBridge& bridge) {
    for (uint32_t s = 0; s < bridge.stageCount; ++s) {
        resetPolyphaseStage(bridge.down[s]);
        resetPolyphaseStage(bridge.up[s]);
    }
    bridge.engineInputCount = 0;
    bridge.engineInputRead = 0;
    memset(bridge.outLeft, 0, bridge.outCapacity * sizeof(float));
    memset(bridge.outRight, 0, bridge.outCapacity * sizeof(float));
    bridge.outRead = 0;
    bridge.outCount = bridge.priming;
    bridge.faults = 0;
}

void useBridgeWideLanes(WetRateBridge& bridge, bool wide) {
    for (uint32_t s = 0; s < bridge.stageCount; ++s) {
        usePolyphaseWideLanes(bridge.down[s], wide);
        usePolyphaseWideLanes(bridge.up[s], wide);
    }
}

void bridgeBeginSlice(WetRateBridge& bridge, const float* mono, uint32_t count) {
    if (count > kBridgeSliceLength) {
        ++bridge.faults;
        count = kBridgeSliceLength;
    }
    // What the last slice left (under one block) moves to the front.
    const uint32_t left = bridge.engineInputCount - bridge.engineInputRead;
    memmove(bridge.engineInput, bridge.engineInput + bridge.engineInputRead, left * sizeof(float));
    bridge.engineInputRead = 0;
    float* tail = bridge.engineInput + left;
    uint32_t made = count;
    const float* in[1] = {mono};
    if (bridge.stageCount == 0) {
        memcpy(tail, mono, count * sizeof(float));
    } else if (bridge.stageCount == 1) {
        float* out[1] = {tail};
        made = runPolyphaseStage(bridge.down[0], in, count, out);
    } else {
        float* between[1] = {bridge.downBetween};
        const uint32_t half = runPolyphaseStage(bridge.down[0], in, count, between);
        const float* in2[1] = {bridge.downBetween};
        float* out[1] = {tail};
        made = runPolyphaseStage(bridge.down[1], in2, half, out);
    }
    bridge.engineInputCount = left + made;
}

bool bridgeNextEngineBlock(WetRateBridge& bridge, const float** block) {
    if (bridge.engineInputCount - bridge.engineInputRead < kBlockLength) return false;
    *block = bridge.engineInput + bridge.engineInputRead;
    bridge.engineInputRead += kBlockLength;
    return true;
}

void bridgeEndEngineBlock(WetRateBridge& bridge, const float* left, const float* right) {
    if (bridge.stageCount == 0) {
        pushWet(bridge, left, right, kBlockLength);
        return;
    }
    const float* in[2] = {left, right};
    uint32_t made = 0;
    if (bridge.stageCount == 1) {
        made = runPolyphaseStage(bridge.up[0], in, kBlockLength, bridge.upOutput);
    } else {
        const uint32_t middle = runPolyphaseStage(bridge.up[0], in, kBlockLength, bridge.upBetween);
        const float* in2[2] = {bridge.upBetween[0], bridge.upBetween[1]};
        made = runPolyphaseStage(bridge.up[1], in2, middle, bridge.upOutput);
    }
    pushWet(bridge, bridge.upOutput[0], bridge.upOutput[1], made);
}

void bridgeEndSlice(WetRateBridge& bridge, float* wetLeft, float* wetRight, uint32_t count) {
    uint32_t ready = count;
    if (ready > bridge.outCount) {  // cannot happen with the priming; silence, not garbage
        ++bridge.faults;
        ready = bridge.outCount;
        memset(wetLeft + ready, 0, (count - ready) * sizeof(float));
        memset(wetRight + ready, 0, (count - ready) * sizeof(float));
    }
    const uint32_t first =
        ready < bridge.outCapacity - bridge.outRead ? ready : bridge.outCapacity - bridge.outRead;
    memcpy(wetLeft, bridge.outLeft + bridge.outRead, first * sizeof(float));
    memcpy(wetRight, bridge.outRight + bridge.outRead, first * sizeof(float));
    memcpy(wetLeft + first, bridge.outLeft, (ready - first) * sizeof(float));
    memcpy(wetRight + first, bridge.outRight, (ready - first) * sizeof(float));
    bridge.outRead += ready;
    if (bridge.outRead >= bridge.outCapacity) bridge.outRead -= bridge.outCapacity;
    bridge.outCount -= ready;
}
