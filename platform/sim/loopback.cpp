#include "platform/sim/loopback.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ostrel::sim {

void LoopbackStream::SetClockRatio(Setting &setting, double generatorHz, double sampleRateHz) {
    // Both clocks are whole numbers of hertz; the ratio is kept as an exact fraction.
    const uint64_t generator = generatorHz > 0.0 ? static_cast<uint64_t>(std::llround(generatorHz)) : 0;
    const uint64_t sample = sampleRateHz >= 1.0 ? static_cast<uint64_t>(std::llround(sampleRateHz)) : 1;
    const uint64_t divisor = std::gcd(generator, sample);
    const uint64_t numerator = divisor == 0 ? 0 : generator / divisor;
    const uint64_t denominator = divisor == 0 ? 1 : sample / divisor;
    setting.edgesPerSample = numerator / denominator;
    setting.edgesNumerator = numerator % denominator;
    setting.edgesDenominator = denominator;
}

const int16_t *LoopbackStream::Codes(uint64_t first, uint32_t count) {
    count = std::min(count, kSegmentSamples);
    int16_t *out = scratch_.data();
    const Setting &s = setting_;
    uint32_t done = 0;
    // Samples taken before the phase restarted saw the held output.
    if (s.held || first < s.originSample) {
        const uint64_t heldCount = s.held ? count : std::min<uint64_t>(count, s.originSample - first);
        std::fill_n(out, heldCount, s.heldCode);
        done = static_cast<uint32_t>(heldCount);
        if (done == count) return out;
    }
    // Edges since the restart up to the first sample: d x (whole + n / q) without overflow.
    const uint64_t since = first + done - s.originSample;
    const uint64_t q = s.edgesDenominator;
    const uint64_t partial = (since % q) * s.edgesNumerator;
    const uint64_t edges = since * s.edgesPerSample + (since / q) * s.edgesNumerator + partial / q;
    uint64_t remainder = partial % q;
    // Positions wrap modulo 2^64, a multiple of the memory size (2^45 in 32.32 points).
    uint64_t position = edges * s.step;
    const uint64_t wholeAdvance = s.edgesPerSample * s.step;
    constexpr uint64_t kPointMask = kWaveformPoints - 1;
    for (uint32_t i = done; i < count; ++i) {
        out[i] = s.codes[(position >> 32) & kPointMask];
        position += wholeAdvance;
        remainder += s.edgesNumerator;
        if (remainder >= q) {
            remainder -= q;
            position += s.step;
        }
    }
    return out;
}

}  // namespace ostrel::sim
