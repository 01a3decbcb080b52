// What the simulated board's acquisition side knows about its own model (where its geometry
// registers sit and how it decodes them, its ADC lanes, trailer and range, its sampling-rate
// table, its generator), and the precomputed tables its ADC draws from instead of calling sin()
// or a random generator per sample.
#pragma once

#include <cstdint>

namespace ostrel::sim {

// BAR 0 offset of control-register index 0 (register i sits at this + 2 x i).
constexpr uint64_t kControlRegisterOrigin = 0x8000000;
// Bit c holds generator channel c off; the same index on every model.
constexpr int32_t kOutputMaskRegister = -2022;

// Raw code of a zero input: half the ADC's code range (8192 on 14-bit boards, 2048 on 12-bit ones).
constexpr int MidScaleCode(uint32_t adcMaxCode) { return static_cast<int>((adcMaxCode + 1) / 2); }
constexpr int kGeneratorMidCode = 8191;   // what a held generator output drives
constexpr double kGeneratorClockHz = 300e6;
constexpr uint32_t kWaveformPoints = 8192;
constexpr int kGeneratorChannels = 2;
constexpr int kInputCount = 4;            // inputs a board can have (lanes or input channels)

struct AcquisitionModel {
    int modelType;
    int32_t recordLengthRegister;     // record length, coded (see recordLengthFactor)
    int32_t recordsInMemoryRegister;  // record slots per DMA chunk
    int32_t recordNumberRegister;     // tags wrap at this value (records per frame x 4)
    int32_t clockDividerRegister;     // index into ratesMsps
    uint32_t recordLengthFactor;      // points per lane of a record = register x factor
    uint32_t lanes;                   // ADC lanes interleaved point by point
    uint32_t trailerPoints;           // trailer points after each record; the tag is its first 4 bytes
    uint32_t adcMaxCode;
    const double *ratesMsps;          // sampling rate per divider code
    uint32_t rateCount;
    // Generator (models 6 and 9 only).
    bool hasGenerator;
    int32_t stepIntegerRegister[kGeneratorChannels];
    int32_t stepFractionRegister[kGeneratorChannels];
    uint64_t waveformMemory[kGeneratorChannels];
};

// The row of a model code 5..10 (0xE001 boards report 7); null for any other.
const AcquisitionModel *AcquisitionModelOf(int modelType);

// Sampling rate in Hz for a divider code; a code outside the table uses its last entry, the
// slowest rate, as the board's divider saturates.
double SampleRateHz(const AcquisitionModel &model, uint32_t dividerCode);

// Gaussian noise of mean 0 and RMS 1 exactly (over the whole table). Each record reads it from a
// start drawn from the noise seed and the record's first sample (NoiseShiftOf), so that noise
// differs from record to record, yet a seeded run repeats itself. kNoiseTablePadding entries
// after the end repeat its start, so a short run of samples can be read in a row from any index.
constexpr uint32_t kNoiseTableBits = 16;
constexpr uint32_t kNoiseTableSize = 1u << kNoiseTableBits;
constexpr uint32_t kNoiseTablePadding = 256;
const float *NoiseTable();

// Process-wide noise seed (SIM_SetNoiseSeed; a fresh random one at SIM_Reset and at start-up).
uint64_t NoiseSeed();
void SetNoiseSeed(uint64_t seed);
// Where in the noise table the record starting at firstSample begins, for a seed.
uint32_t NoiseShiftOf(uint64_t seed, uint64_t firstSample);

// sin(2 pi i / kSineTableSize) for i = 0..kSineTableSize (one extra entry for interpolation).
constexpr uint32_t kSineTableBits = 12;
constexpr uint32_t kSineTableSize = 1u << kSineTableBits;
const double *SineTable();

}  // namespace ostrel::sim
