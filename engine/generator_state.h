// Generator channel state: parallel arrays indexed by channel, allocated at open, freed at close.
// The arrays exist exactly between AwgStartUp and AwgRelease; every generator export except the
// channel count refuses while they are absent, so nothing ever touches a missing array.
#pragma once

#include <cstdint>
#include <memory>

namespace ostrel {

constexpr int kAwgChannelSlots = 8;   // room in the channel arrays
constexpr int kAwgTableChannels = 4;  // channels' tables in WaveformTable

struct GeneratorState {
    int32_t AwgMidCode = 0;       // (AwgMaxCode - 1) / 2, set at start-up
    int32_t TableLength = 0;      // points per channel in WaveformTable, fixed at start-up
    std::unique_ptr<int32_t[]> AwgWaveformType;
    std::unique_ptr<float[]> AwgAmplitude;
    std::unique_ptr<float[]> AwgOffset;
    std::unique_ptr<float[]> AwgPhase;
    std::unique_ptr<float[]> AwgDutyCycle;
    std::unique_ptr<double[]> AwgFrequency;
    std::unique_ptr<uint64_t[]> AwgMemoryAddress;
    std::unique_ptr<uint16_t[]> WaveformTable;  // kAwgTableChannels x TableLength points

    bool ChannelStateExists() const { return AwgWaveformType != nullptr; }
};

}  // namespace ostrel
