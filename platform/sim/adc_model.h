// The simulated board's ADC: what one input sees (a known signal plus the board's zero error of
// the current front-end setting), precomputed so that the board can feed its DMA at memory speed,
// and the interleaving of the lanes into a record.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "OstrelBoardSim.h"
#include "platform/sim/signal_tables.h"

namespace ostrel::sim {

// The signal a test puts on one input, in ADC codes (see SIM_SetInputSignal).
struct InputSignal {
    double dcCodes = 0.0;
    double amplitudeCodes = 0.0;
    double frequencyHz = 0.0;
    double noiseCodes = 0.0;  // RMS
    bool operator==(const InputSignal &) const = default;
};

// The board's zero error per input and front-end setting, as the board decodes the setting.
//
// Power-on pattern (odd, so never 0, and within -137..265 codes):
//     codes = 1 + 2 x (35 x input - 20 x coupling + 13 x termination + 27 x gain
//                      - 9 x attenuation - 40)
// for input 0..3, coupling 0..1, termination 0..1, gain 0..2, attenuation 0..1. A setting the
// board cannot decode (-1) or outside these ranges has zero error 0.
class ZeroErrorTable {
public:
    static constexpr int kCouplings = 2;
    static constexpr int kTerminations = 2;
    static constexpr int kGains = 3;
    static constexpr int kAttenuations = 2;
    static constexpr int kLimitCodes = 0x3FFF;  // largest magnitude SIM_SetZeroError accepts

    ZeroErrorTable() { Reset(); }
    static int DefaultCodes(int input, int coupling, int termination, int gain, int attenuation);
    void Reset();
    // False (and nothing changed) for an index outside the ranges or codes beyond kLimitCodes.
    bool Set(int input, int coupling, int termination, int gain, int attenuation, int codes);
    int Get(int input, const SimFrontEnd &setting) const;

private:
    static constexpr std::size_t kEntries =
        static_cast<std::size_t>(kInputCount) * kCouplings * kTerminations * kGains * kAttenuations;
    static int IndexOf(int input, int coupling, int termination, int gain, int attenuation);
    std::array<int16_t, kEntries> codes_{};
};

// The raw codes one input delivers at consecutive sample indices, for one setting (signal, zero
// error, sampling rate, ADC range).
//
// Most signals are periodic in samples or close to it: the stream then holds one precomputed
// cycle (plus a copy of its start, so that any segment is contiguous) and hands out pointers into
// it; with noise the cycle holds the noise-free values and the noise is added per segment, read
// from where the record's noise shift puts it. A sine is made exactly periodic by giving the cycle a whole number of sine periods near
// kTargetCycle samples; the frequency played is then k x rate / cycle, within 2e-6 relative of the
// one asked for. A sine whose period exceeds kMaxCycle samples is computed segment by segment
// instead: an exact 64-bit phase, sine and cosine from an interpolated table at the start of each
// block of kBlock samples, and within the block a rotation by precomputed sines and cosines of the
// per-sample step (no table look-up per sample, so the loop vectorises).
class InputStream {
public:
    struct Setting {
        InputSignal signal;
        int zeroError = 0;
        double sampleRateHz = 0.0;
        uint32_t adcMaxCode = 0;
        uint32_t noiseOffset = 0;  // where this input starts in the noise table
        bool operator==(const Setting &) const = default;
    };

    static constexpr uint32_t kSegmentSamples = 32768;
    static constexpr uint32_t kBlock = 64;
    static constexpr uint64_t kTargetCycle = 1u << 18;
    static constexpr uint64_t kMaxCycle = 1u << 20;

    // Recomputes the cycle only when the setting changed.
    void Configure(const Setting &setting);
    // Codes of sample indices first .. first + count - 1 (count <= kSegmentSamples); valid until
    // the next call. noiseShift moves where the noise is read (one value per record).
    const int16_t *Codes(uint64_t first, uint32_t count, uint32_t noiseShift = 0);

    bool Streaming() const { return streaming_; }
    uint64_t Cycle() const { return cycle_; }
    // The sine frequency actually played (0 for a constant or noise-only input).
    double PlayedFrequencyHz() const { return playedFrequencyHz_; }

private:
    int16_t CodeOf(double value) const;

    Setting setting_;
    bool configured_ = false;
    bool streaming_ = false;
    uint64_t cycle_ = 1;
    uint64_t phaseStep_ = 0;  // streaming: sine cycles per sample x 2^64
    std::array<float, kBlock> rotationCos_{};  // streaming: cos and sin of i steps
    std::array<float, kBlock> rotationSin_{};
    double playedFrequencyHz_ = 0.0;
    std::vector<int16_t> codes_;    // noise-free: cycle_ + kSegmentSamples codes
    std::vector<float> values_;     // noisy: cycle_ + kSegmentSamples + kBlock values, no noise
    std::vector<int16_t> scratch_;  // streaming output
};

// Writes count points of each lane interleaved point by point into dst (laneCount x count codes).
void InterleaveLanes(int16_t *dst, const int16_t *const *lanes, uint32_t laneCount, uint32_t count);

}  // namespace ostrel::sim
