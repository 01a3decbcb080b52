// Per-model parameters of the opened board, applied from the board model table at open.
#pragma once

#include <cstdint>

namespace ostrel {

constexpr int kSamplingRateSlots = 21;

struct BoardModelState {
    int32_t ModelType = -1;            // 5..10, -1 unrecognised or nothing opened yet
    uint64_t RegisterBase = 0;         // BAR 0 byte offset of the control-register window
    uint32_t MinAcquisitionPoints = 0;
    uint32_t DMATransferPoints = 0;    // points of one DMA chunk
    uint32_t MaxRecordLength = 0;
    uint16_t BytesPerPoint = 0;
    uint16_t TrailerPoints = 0;
    int16_t DmaInfoValue = 0;
    uint32_t AdcMaxCode = 0;
    uint32_t ADCNumber = 0;            // ADC lanes: 1, 2 or 4
    int32_t CouplingNumber = 0;
    int32_t TerminationNumber = 0;
    int32_t GainNumber = 0;
    int32_t AttenuationNumber = 0;
    float VoltsPerCode = 0.0f;
    float SamplingRates[kSamplingRateSlots] = {};  // MS/s per clock-divider code
    int32_t SamplingRateCount = 0;
    int32_t AwgChannelCount = 0;
    double AwgClockHz = 0.0;
    int32_t AwgTableLength = 0;
    int32_t AwgMaxCode = 0;
    uint64_t WaveformMemory[2] = {};   // BAR 0 byte offsets of the generator channels' memories
    int32_t RegAwgStepInt0 = 0;        // phase-step register indices (model parameters)
    int32_t RegAwgStepFrac0 = 0;
    int32_t RegAwgStepInt1 = 0;
    int32_t RegAwgStepFrac1 = 0;
};

}  // namespace ostrel
