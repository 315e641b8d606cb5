#include "control/control_ports.h"

#include <math.h>

#include "control/control_constants.h"
#include "control/feedback_gains.h"
#include "control/filter_poles.h"
#include "control/input_gains_modulation.h"
#include "control/unit_lengths.h"
#include "engine/engine_state.h"
#include "engine/float_to_int.h"
#include "process/block_loop.h"

namespace {

// The change test: ordered equality, so a NaN on either side is a change.
// The new value is remembered before anything is applied.
bool takeChange(float value, float& applied) {
    if (value == applied) return false;
    applied = value;
    return true;
}

// Size-curve exponent from port 10: 3 * ((1 - v) / 2)^2 + 0.3.
float curveExponent(float value) {
    const float s = (1.0f - value) * 0.5f;
    return fmaf(s * s, kCurveGain, kCurveMin);
}

// The low 32 bits of the truncated value.
RoutingMode routingModeFromPort(float value) {
    return static_cast<RoutingMode>(static_cast<uint32_t>(truncateToU64(value)));
}

// The recomputations of filter poles, input gains and modulation, asked for
// by port 6 and by the ports that set their ranges, and those of the
// feedback gains that follow new lengths (ports 6 to 10). Each is a
// function of bank fields and unit fields that no port writes, writes
// nothing any other recomputation reads, and all who ask come at or after
// port 6, so under one unit count: running it once after the last port
// leaves the very state that running it for every asking port would. The
// lengths themselves are not deferred (a request posted in between and the
// random generator make their order matter), nor are the feedback gains of
// ports 4 and 5, which may run under another count than port 6 sets.
struct DeferredRecomputations {
    bool feedbackGains = false;
    bool filterPoles = false;
    bool inputGains = false;
    bool modulation = false;
};

// Writes a changed port's field and runs (or defers) the recomputations
// that depend on it.
void applyPort(EngineState& engine, BlockLoop& loop, uint32_t port, float value, DeferredRecomputations& later) {
    UnitBank& bank = engine.bank;
    switch (port) {
        case PortMix: loop.mixSmoother.target = value; break;
        case PortDecayFirst: bank.decayFirst = value; updateFeedbackGains(bank); break;
        case PortDecayLast: bank.decayLast = value; updateFeedbackGains(bank); break;
        case PortUnitCount:
            setUnitCount(bank, value);
            postUnitLengths(bank);
            later.feedbackGains = later.filterPoles = later.inputGains = later.modulation = true;
            break;
        case PortSizeFirst: bank.sizeFirst = value; postUnitLengths(bank); later.feedbackGains = true; break;
        case PortSizeLast: bank.sizeLast = value; postUnitLengths(bank); later.feedbackGains = true; break;
        case PortSizeJitter:
            bank.lengthJitter = value * kPercent;
            postUnitLengths(bank);
            later.feedbackGains = true;
            break;
        case PortSizeCurve:
            bank.distributionCurve = curveExponent(value);
            postUnitLengths(bank);
            later.feedbackGains = true;
            break;
        case PortDiffusion: loop.diffusionSmoother.target = value; break;
        case PortStereo: engine.stereoOutput = value != 0.0f; break;
        case PortRouting: bank.routingMode = routingModeFromPort(value); break;
        case PortInputGainFirst: bank.inputGainFirst = value; later.inputGains = true; break;
        case PortInputGainLast: bank.inputGainLast = value; later.inputGains = true; break;
        case PortCutoffFirst: bank.cutoffFirst = value; later.filterPoles = true; break;
        case PortCutoffLast: bank.cutoffLast = value; later.filterPoles = true; break;
        case PortFilterType: bank.filterType = static_cast<FilterType>(truncateToI32(value)); break;
        case PortResonance: bank.ladderResonance = value * kResonanceScale; later.filterPoles = true; break;
        case PortModDepthFirst: bank.modDepthFirst = value * kPercent; later.modulation = true; break;
        case PortModDepthLast: bank.modDepthLast = value * kPercent; later.modulation = true; break;
        case PortModRateFirst: bank.modRateFirst = value; later.modulation = true; break;
        case PortModRateLast: bank.modRateLast = value; later.modulation = true; break;
        default: break;
    }
}

}  // namespace

void initControlPorts(ControlPorts& controls, const BlockLoop& loop) {
    for (uint32_t port = 0; port < PortCount; ++port) {
        controls.port[port] = nullptr;
        controls.applied[port] = NAN;
    }
    controls.applied[PortMix] = loop.mixSmoother.target;
    controls.applied[PortDiffusion] = loop.diffusionSmoother.target;
}

void connectPort(ControlPorts& controls, uint32_t port, void* data) {
    if (port < PortCount) controls.port[port] = static_cast<float*>(data);
}

// Ports in ascending order, each one completely before the next, so that
// later recomputations see the fields earlier ports left behind (but for
// the deferred ones, which see the same fields at the end).
void applyControlChanges(ControlPorts& controls, EngineState& engine, BlockLoop& loop) {
    DeferredRecomputations later;
    for (uint32_t port = PortMix; port < PortCount; ++port) {
        // The mix is compared as the fraction its smoother moves toward.
        const float value = port == PortMix ? *controls.port[port] * kPercent : *controls.port[port];
        if (takeChange(value, controls.applied[port])) applyPort(engine, loop, port, value, later);
    }
    UnitBank& bank = engine.bank;
    if (later.feedbackGains) updateFeedbackGains(bank);
    if (later.filterPoles) updateFilterPoles(bank);
    if (later.inputGains) updateInputGains(bank);
    if (later.modulation) updateModulation(bank);
}
