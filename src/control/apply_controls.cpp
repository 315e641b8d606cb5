#include "control/apply_controls.h"

#include <math.h>

#include "control/bank_recompute.h"
#include "control/control_constants.h"
#include "engine/float_to_int.h"
#include "shell/plugin_instance.h"

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

// Writes a changed port's field and runs the recomputations that depend on it.
void applyPort(EngineState& engine, uint32_t port, float value) {
    UnitBank& bank = engine.bank;
    switch (port) {
        case PortDecayFirst: bank.decayFirst = value; updateFeedbackGains(bank); break;
        case PortDecayLast: bank.decayLast = value; updateFeedbackGains(bank); break;
        case PortUnitCount:
            setUnitCount(bank, value);
            updateUnitLengths(bank);
            updateFilterPoles(bank);
            updateInputGains(bank);
            updateModulation(bank);
            break;
        case PortSizeFirst: bank.sizeFirst = value; updateUnitLengths(bank); break;
        case PortSizeLast: bank.sizeLast = value; updateUnitLengths(bank); break;
        case PortSizeJitter: bank.lengthJitter = value * kPercent; updateUnitLengths(bank); break;
        case PortSizeCurve: bank.distributionCurve = curveExponent(value); updateUnitLengths(bank); break;
        case PortStereo: engine.stereoOutput = value != 0.0f; break;
        case PortRouting: bank.routingMode = routingModeFromPort(value); break;
        case PortInputGainFirst: bank.inputGainFirst = value; updateInputGains(bank); break;
        case PortInputGainLast: bank.inputGainLast = value; updateInputGains(bank); break;
        case PortCutoffFirst: bank.cutoffFirst = value; updateFilterPoles(bank); break;
        case PortCutoffLast: bank.cutoffLast = value; updateFilterPoles(bank); break;
        case PortFilterType: bank.filterType = truncateToI32(value); break;
        case PortResonance: bank.ladderResonance = value * kResonanceScale; updateFilterPoles(bank); break;
        case PortModDepthFirst: bank.modDepthFirst = value * kPercent; updateModulation(bank); break;
        case PortModDepthLast: bank.modDepthLast = value * kPercent; updateModulation(bank); break;
        case PortModRateFirst: bank.modRateFirst = value; updateModulation(bank); break;
        case PortModRateLast: bank.modRateLast = value; updateModulation(bank); break;
        default: break;
    }
}

void applySlots(PluginInstance& self, ControlSlot* slots, uint32_t firstPort, uint32_t slotCount) {
    for (uint32_t i = 0; i < slotCount; ++i) {
        if (takeChange(*slots[i].port, slots[i].cached)) applyPort(*self.engine, firstPort + i, slots[i].cached);
    }
}

}  // namespace

// Ports in ascending order, each one completely before the next, so that
// later recomputations see the fields earlier ports left behind. Ports 3 and
// 11 only move their smoother's target, which is also their cache.
void applyControlChanges(PluginInstance& self) {
    takeChange(*self.mixPort * kPercent, self.mixSmoother.target);
    applySlots(self, self.slotsDecayToCurve, PortDecayFirst, PortSizeCurve - PortDecayFirst + 1);
    takeChange(*self.diffusionPort, self.diffusionSmoother.target);
    applySlots(self, self.slotsStereoToModRate, PortStereo, PortModRateLast - PortStereo + 1);
}
