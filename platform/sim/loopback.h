// The generator looped back into the ADC (models 6 and 9): generator channel c drives ADC lane c.
// The channel steps through its waveform memory by its 32.32 phase step at the generator clock;
// the lane samples it at the ADC rate, so per ADC sample the position advances by
// step x generator clock / sampling rate.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/signal_tables.h"

namespace ostrel::sim {

// Phase advance per ADC sample in 32.32 waveform points. Positions are taken modulo the memory
// size (2^45 in these units), which 2^64 arithmetic keeps exact.
uint64_t LoopbackAdvance(uint32_t stepInteger, uint32_t stepFraction, double sampleRateHz);

class LoopbackStream {
public:
    static constexpr uint32_t kSegmentSamples = 32768;

    struct Setting {
        // Waveform point + the lane's zero error, limited to the ADC range.
        std::array<int16_t, kWaveformPoints> codes{};
        uint64_t advance = 0;       // see LoopbackAdvance
        uint64_t originSample = 0;  // ADC sample at which the channel's phase restarted
        bool held = false;          // output held off: the lane sees heldCode
        int16_t heldCode = 0;
    };

    Setting &Edit() { return setting_; }
    // Codes of sample indices first .. first + count - 1 (count <= kSegmentSamples).
    const int16_t *Codes(uint64_t first, uint32_t count);

private:
    Setting setting_;
    std::vector<int16_t> scratch_ = std::vector<int16_t>(kSegmentSamples);
};

}  // namespace ostrel::sim
