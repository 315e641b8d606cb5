#include "control/stereo_ports.h"

#include "process/stereo_loop.h"

void connectStereoPort(StereoPorts& ports, ControlPorts& controls, uint32_t port, void* data) {
    float* const buffer = static_cast<float*>(data);
    if (port < StereoFirstEngineControl) {
        ports.audio[port] = buffer;
    } else if (port <= StereoLastEngineControl) {
        connectPort(controls, port - StereoFirstEngineControl + PortMix, data);
    } else if (port == StereoPreDelay) {
        ports.preDelay = buffer;
    } else if (port == StereoWidth) {
        ports.width = buffer;
    } else if (port == StereoEnabled) {
        ports.enabled = buffer;
    }
}

StereoTargets readStereoTargets(const StereoPorts& ports, float mixTarget) {
    // A toggle is on unless clearly off, so that a NaN never silences the reverb.
    const bool enabled = !(*ports.enabled < 0.5f);
    return StereoTargets{mixTarget, *ports.preDelay, *ports.width, enabled};
}
