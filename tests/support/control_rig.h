// The control stage on its own: an engine, the block loop whose smoother
// targets it sets, and its ports connected to control values the test owns.
#pragma once

#include <stdint.h>

#include "control/control_ports.h"
#include "engine/engine_state.h"
#include "process/block_loop.h"

// A plain, useful setting: 40 units, 800 ms, 50 % mix, no filter.
inline void setUsualControls(float (&controls)[PortCount]) {
    controls[PortMix] = 50.0f;
    controls[PortDecayFirst] = 800.0f;
    controls[PortDecayLast] = 800.0f;
    controls[PortUnitCount] = 40.0f;
    controls[PortSizeFirst] = 2.0f;
    controls[PortSizeLast] = 100.0f;
    controls[PortSizeJitter] = 0.0f;
    controls[PortSizeCurve] = 0.0f;
    controls[PortDiffusion] = 0.0f;
    controls[PortStereo] = 0.0f;
    controls[PortRouting] = 0.0f;
    controls[PortInputGainFirst] = 0.5f;
    controls[PortInputGainLast] = 1.0f;
    controls[PortCutoffFirst] = 10000.0f;
    controls[PortCutoffLast] = 100.0f;
    controls[PortFilterType] = 0.0f;
    controls[PortResonance] = 0.0f;
    controls[PortModDepthFirst] = 0.0f;
    controls[PortModDepthLast] = 0.0f;
    controls[PortModRateFirst] = 0.0f;
    controls[PortModRateLast] = 0.0f;
}

struct ControlRig {
    EngineState* engine = createEngineState();
    BlockLoop loop = kFreshBlockLoop;
    ControlPorts ports;
    float controls[PortCount] = {};  // indices 3..23 are live control values

    ControlRig() {
        initControlPorts(ports, loop);
        setUsualControls(controls);
        for (uint32_t port = PortMix; port < PortCount; ++port) connectPort(ports, port, &controls[port]);
    }
    ~ControlRig() { destroyEngineState(engine); }
    ControlRig(const ControlRig&) = delete;
    ControlRig& operator=(const ControlRig&) = delete;

    void apply() { applyControlChanges(ports, *engine, loop); }
    UnitBank& bank() { return engine->bank; }
};
