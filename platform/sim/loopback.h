// The generator looped back into the ADC (models 6 and 9): generator channel c drives ADC lane c.
// The channel steps through its waveform memory by its 32.32 phase step on every edge of the
// generator clock; the lane samples the output at the ADC rate, so ADC sample d after the
// channel's phase restart sees the point at position step x floor(d x generator clock / rate),
// counted exactly in integers. Before the restart the output was held.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/signal_tables.h"

namespace ostrel::sim {

class LoopbackStream {
public:
    static constexpr uint32_t kSegmentSamples = 32768;

    struct Setting {
        // Waveform point + the lane's zero error, limited to the ADC range.
        std::array<int16_t, kWaveformPoints> codes{};
        uint64_t step = 0;              // 32.32 waveform points per generator clock edge
        uint64_t edgesPerSample = 0;    // generator clock edges per ADC sample, as a fraction:
        uint64_t edgesNumerator = 0;    //   edgesPerSample + edgesNumerator / edgesDenominator
        uint64_t edgesDenominator = 1;
        uint64_t originSample = 0;      // ADC sample at which the channel's phase restarted
        bool held = false;              // output held off: the lane sees heldCode
        int16_t heldCode = 0;
    };

    // Generator clock edges per ADC sample as a whole part and a reduced fraction.
    static void SetClockRatio(Setting &setting, double generatorHz, double sampleRateHz);

    Setting &Edit() { return setting_; }
    // Codes of sample indices first .. first + count - 1 (count <= kSegmentSamples).
    const int16_t *Codes(uint64_t first, uint32_t count);

private:
    Setting setting_;
    std::vector<int16_t> scratch_ = std::vector<int16_t>(kSegmentSamples);
};

}  // namespace ostrel::sim
