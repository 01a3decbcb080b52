// Frequency of a generator channel as its 32.32 fixed-point phase step through the waveform memory.
#pragma once

#include <cstdint>
#include <optional>

namespace ostrel::awg {

struct PhaseStep {
    uint32_t integerPart;  // whole table points per generator clock
    uint32_t fraction;     // units of 2^-32 point
};

// step = tableLength / (clockHz / frequencyHz) in double, split into its floor and the truncated
// fraction. Empty for a frequency the step cannot express: negative, non-finite, or a step of
// 2^32 points or more.
std::optional<PhaseStep> PhaseStepOf(double frequencyHz, double clockHz, int32_t tableLength);

}  // namespace ostrel::awg
