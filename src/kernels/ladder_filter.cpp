#include "kernels/ladder_filter.h"

namespace {

// Stage outputs of one ladder sample, for the tap mixes. d is stage 2's
// correction term pole2*(state2 - y1), so y2 = d + y1.
struct LadderTaps {
    float u;
    float y1;
    float d;
    float y2;
    float y3;
    float y4;
};

// Runs one record over the block in place. The coefficients and states live
// in locals for the whole block and are stored back once; all four stages
// and the feedback from stage 4 run whatever the mix uses.
template <typename Mix>
void runLadder(LadderRecord& rec, float* x, uint32_t n, Mix mix) {
    const float a = 1.0f + rec.resonance * rec.inputCompensation;
    const float b = rec.resonance * rec.feedbackScale;
    const float p1 = rec.pole1, p2 = rec.pole2, p3 = rec.pole3, p4 = rec.pole4;
    float last = rec.lastOutput;
    float s1 = rec.state1, s2 = rec.state2, s3 = rec.state3, s4 = rec.state4;
    for (uint32_t j = 0; j < n; ++j) {
        LadderTaps t;
        t.u = x[j] * a - b * last;
        t.y1 = t.u + p1 * (s1 - t.u);
        s1 = t.y1;
        // d + y1 and y1 + d are the same sum, so every set may take this form.
        t.d = p2 * (s2 - t.y1);
        t.y2 = t.d + t.y1;
        s2 = t.y2;
        t.y3 = t.y2 + p3 * (s3 - t.y2);
        s3 = t.y3;
        t.y4 = t.y3 + p4 * (s4 - t.y3);
        s4 = t.y4;
        last = t.y4;
        x[j] = mix(t);
    }
    rec.lastOutput = last;
    rec.state1 = s1;
    rec.state2 = s2;
    rec.state3 = s3;
    rec.state4 = s4;
}

// The tap mixes, one type each so that every filter type gets its own loop.
// Negated two-pole band-pass.
struct BandPass2 {
    float operator()(const LadderTaps& t) const { return t.d; }
};
// Negated four-pole band-pass.
struct BandPass4 {
    float operator()(const LadderTaps& t) const { return 8.0f * t.y3 - 4.0f * t.y2 - 4.0f * t.y4; }
};
struct LowPass4 {
    float operator()(const LadderTaps& t) const { return t.y4; }
};
struct HighPass3 {
    float operator()(const LadderTaps& t) const { return t.u - 3.0f * t.y1 + 3.0f * t.y2 - t.y3; }
};
// The input plus a four-pole band-pass, brought down by 12 dB.
struct PeakingBoost {
    float operator()(const LadderTaps& t) const {
        return (t.u + 4.0f * t.y2 - 8.0f * t.y3 + 4.0f * t.y4) * 0.25f;
    }
};

}  // namespace

void filterUnitInput(UnitBank& bank, uint64_t unit, float* x, uint32_t n) {
    if (n == 0 || unit >= kMaxUnits) return;
    switch (bank.filterType) {
        case 0:
            for (uint32_t j = 0; j < n; ++j) x[j] = x[j] * 0.25f;
            break;
        case 1:
            runLadder(bank.ladderSets[0][unit], x, n, BandPass2{});
            break;
        case 2:
            runLadder(bank.ladderSets[1][unit], x, n, BandPass4{});
            break;
        case 3:
            runLadder(bank.ladderSets[0][unit], x, n, BandPass2{});
            runLadder(bank.ladderSets[1][unit], x, n, BandPass4{});
            break;
        case 4:
            runLadder(bank.ladderSets[2][unit], x, n, LowPass4{});
            break;
        case 5:
            runLadder(bank.ladderSets[3][unit], x, n, HighPass3{});
            break;
        case 6:
            runLadder(bank.ladderSets[4][unit], x, n, PeakingBoost{});
            break;
        default:
            break;  // no filter: the block passes unscaled
    }
}
