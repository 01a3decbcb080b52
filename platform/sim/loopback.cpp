#include "platform/sim/loopback.h"

#include <algorithm>
#include <cmath>

namespace ostrel::sim {

uint64_t LoopbackAdvance(uint32_t stepInteger, uint32_t stepFraction, double sampleRateHz) {
    if (!(sampleRateHz > 0.0)) return 0;
    constexpr uint64_t kWrap = static_cast<uint64_t>(kWaveformPoints) << 32;
    // Only the step modulo one pass through the memory matters.
    const uint64_t step = ((static_cast<uint64_t>(stepInteger) << 32) | stepFraction) % kWrap;
    const double perSample = static_cast<double>(step) * (kGeneratorClockHz / sampleRateHz);
    return static_cast<uint64_t>(std::fmod(perSample, static_cast<double>(kWrap)));
}

const int16_t *LoopbackStream::Codes(uint64_t first, uint32_t count) {
    count = std::min(count, kSegmentSamples);
    if (setting_.held) {
        std::fill_n(scratch_.begin(), count, setting_.heldCode);
        return scratch_.data();
    }
    constexpr uint64_t kPointMask = kWaveformPoints - 1;
    uint64_t position = (first - setting_.originSample) * setting_.advance;
    const uint64_t advance = setting_.advance;
    const int16_t *codes = setting_.codes.data();
    int16_t *out = scratch_.data();
    for (uint32_t i = 0; i < count; ++i) {
        out[i] = codes[(position >> 32) & kPointMask];
        position += advance;
    }
    return out;
}

}  // namespace ostrel::sim
