#include "generator/phase_step.h"

#include <cmath>

namespace ostrel::awg {

namespace {
constexpr double kTwoToThe32 = 4294967296.0;
}  // namespace

std::optional<PhaseStep> PhaseStepOf(double frequencyHz, double clockHz, int32_t tableLength) {
    if (!std::isfinite(frequencyHz) || frequencyHz < 0.0) return std::nullopt;
    // A frequency of 0 stands still whatever the clock; the division order below is kept for
    // every other frequency because the fraction depends on its rounding.
    const double step = frequencyHz == 0.0
                            ? 0.0
                            : static_cast<double>(tableLength) / (clockHz / frequencyHz);
    if (!(step >= 0.0) || !(step < kTwoToThe32)) return std::nullopt;
    const double whole = std::floor(step);
    const auto integerPart = static_cast<uint32_t>(whole);
    const double fraction = (step - static_cast<double>(integerPart)) * kTwoToThe32;
    // The truncated fraction lies below 2^32; its low 32 bits are the register value.
    const auto fractionBits = static_cast<uint64_t>(fraction);
    return PhaseStep{integerPart, static_cast<uint32_t>(fractionBits)};
}

}  // namespace ostrel::awg
