#include "bench_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

BenchHost::BenchHost(const float* controlValues) {
    descriptor = lv2_descriptor(0);
    const LV2_Feature* const features[] = {nullptr};
    handle = descriptor->instantiate(descriptor, kHostRate, "", features);
    if (handle == nullptr) {
        fprintf(stderr, "instantiate failed\n");
        abort();
    }
    memcpy(controls, controlValues, sizeof controls);
    descriptor->connect_port(handle, PortAudioIn, input);
    descriptor->connect_port(handle, PortAudioOutLeft, left);
    descriptor->connect_port(handle, PortAudioOutRight, right);
    for (uint32_t port = PortMix; port < PortCount; ++port) descriptor->connect_port(handle, port, &controls[port]);
    descriptor->activate(handle);
}

BenchHost::~BenchHost() {
    descriptor->deactivate(handle);
    descriptor->cleanup(handle);
}

bool BenchHost::settled() const {
    const UnitBank& bank = static_cast<const PluginInstance*>(handle)->engine->bank;
    for (uint64_t k = 0; k < bank.unitCount; ++k)
        if (bank.units.gliding[k] || bank.units.pendingLength[k] != 0) return false;
    return true;
}

void BenchHost::settle(bool noise, double maxSeconds) {
    const uint64_t maxCalls = (uint64_t)(maxSeconds * kHostRate / kCallSize);
    for (uint64_t call = 0; call < maxCalls; ++call) {
        if (noise) {
            fillNoise(input, kCallSize);
        } else {
            memset(input, 0, sizeof input);
        }
        run();
        if (call > 0 && settled()) return;
    }
    fprintf(stderr, "warning: units still gliding after %.0f s\n", maxSeconds);
}

void fillNoise(float* x, uint32_t n) {
    static uint32_t state = 0x2545F491u;
    for (uint32_t j = 0; j < n; ++j) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        x[j] = (float)(state >> 8) * 0x1p-24f - 0.5f;
    }
}

void setLightControls(float* c) {
    c[PortMix] = 50.0f;
    c[PortDecayFirst] = 800.0f;
    c[PortDecayLast] = 800.0f;
    c[PortUnitCount] = 40.0f;
    c[PortSizeFirst] = 2.0f;
    c[PortSizeLast] = 100.0f;
    c[PortSizeJitter] = 0.0f;
    c[PortSizeCurve] = 0.0f;
    c[PortDiffusion] = 0.0f;
    c[PortStereo] = 0.0f;
    c[PortRouting] = 0.0f;
    c[PortInputGainFirst] = 0.5f;
    c[PortInputGainLast] = 1.0f;
    c[PortCutoffFirst] = 10000.0f;
    c[PortCutoffLast] = 100.0f;
    c[PortFilterType] = 0.0f;
    c[PortResonance] = 0.0f;
    c[PortModDepthFirst] = 0.0f;
    c[PortModDepthLast] = 0.0f;
    c[PortModRateFirst] = 0.0f;
    c[PortModRateLast] = 0.0f;
}

void setDefaultControls(float* c) {
    FILE* ttl = fopen(ZT_PLUGIN_TTL, "r");
    if (ttl == nullptr) {
        fprintf(stderr, "cannot read %s\n", ZT_PLUGIN_TTL);
        abort();
    }
    // Each port block names its lv2:index before its lv2:default.
    char line[512];
    long port = -1;
    uint32_t found = 0;
    while (fgets(line, sizeof line, ttl) != nullptr) {
        const char* index = strstr(line, "lv2:index");
        const char* value = strstr(line, "lv2:default");
        if (index != nullptr) port = strtol(index + 9, nullptr, 10);
        if (value != nullptr && port >= PortMix && port < PortCount) {
            c[port] = strtof(value + 11, nullptr);
            ++found;
        }
    }
    fclose(ttl);
    if (found != PortCount - PortMix) {
        fprintf(stderr, "%s: %u control defaults, expected %u\n", ZT_PLUGIN_TTL, found, PortCount - PortMix);
        abort();
    }
}

void setHeavyControls(float* c) {
    setDefaultControls(c);
    c[PortUnitCount] = 70.0f;
    c[PortFilterType] = 3.0f;
    c[PortResonance] = 20.0f;
    c[PortRouting] = 2.0f;
    c[PortDiffusion] = 0.7f;
    c[PortModDepthFirst] = 20.0f;
    c[PortModDepthLast] = 60.0f;
    c[PortModRateFirst] = 0.8f;
    c[PortModRateLast] = 3.0f;
    c[PortSizeJitter] = 40.0f;
    c[PortStereo] = 1.0f;
}

void setLargestControls(float* c) {
    setDefaultControls(c);
    c[PortUnitCount] = 70.0f;
    c[PortSizeFirst] = 210.0f;
    c[PortSizeLast] = 220.0f;
    c[PortSizeJitter] = 100.0f;
}

void setLargeControls(float* c) {
    setDefaultControls(c);
    c[PortUnitCount] = 70.0f;
    c[PortSizeFirst] = 150.0f;
    c[PortSizeLast] = 200.0f;
}

void setLargeAlternative(float* c) {
    setLargeControls(c);
    c[PortUnitCount] = 66.0f;
    c[PortSizeFirst] = 160.0f;
    c[PortSizeLast] = 210.0f;
    c[PortSizeJitter] += 10.0f;
    c[PortSizeCurve] += 0.2f;
}

void setTailControls(float* c) {
    setDefaultControls(c);
    c[PortDecayFirst] = 500.0f;
    c[PortDecayLast] = 500.0f;
}

void setAutomationAlternative(float* c) {
    setDefaultControls(c);
    c[PortMix] += 1.0f;
    c[PortDecayFirst] *= 1.05f;
    c[PortDecayLast] *= 1.05f;
    c[PortUnitCount] += 1.0f;
    c[PortSizeFirst] *= 1.1f;
    c[PortSizeLast] *= 1.03f;
    c[PortSizeJitter] += 1.0f;
    c[PortSizeCurve] += 0.05f;
    c[PortDiffusion] += 0.02f;
    c[PortStereo] = 1.0f - c[PortStereo];
    c[PortRouting] = c[PortRouting] == 0.0f ? 1.0f : 0.0f;
    c[PortInputGainFirst] *= 1.1f;
    c[PortInputGainLast] *= 0.95f;
    c[PortCutoffFirst] *= 0.9f;
    c[PortCutoffLast] *= 0.95f;
    c[PortFilterType] = c[PortFilterType] == 4.0f ? 5.0f : 4.0f;
    c[PortResonance] += 2.0f;
    c[PortModDepthFirst] += 1.0f;
    c[PortModDepthLast] += 1.0f;
    c[PortModRateFirst] += 0.1f;
    c[PortModRateLast] += 0.1f;
}
