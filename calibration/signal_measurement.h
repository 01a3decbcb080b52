// Arithmetic on blocks of samples: peak-to-peak, mean and RMS in volts, the full scale, and the
// lane means the calibrations turn into zero offsets. Pure functions; the board is not touched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel {

struct SignalMeasurement {
    float PeakToPeak = 0.0f;  // volts
    float Mean = 0.0f;        // volts
    float Rms = 0.0f;         // volts, mean included (not a standard deviation)
};

// count >= 1 samples. Sums are single precision in sample order, the squares formed as 32-bit
// integer products, so results match what users of this library have always been given.
SignalMeasurement MeasureSignal(const int16_t *samples, int32_t count, float voltsPerCode);

// Full scale in millivolts: AdcMaxCode (as unsigned) x VoltsPerCode x 1000, in float, in that
// order.
float FullScaleMillivolts(uint32_t adcMaxCode, float voltsPerCode);

// Sum of samples in a single-precision accumulator, added in buffer order. The offsets stored in
// card-data files were measured this way; a wider or reordered sum would shift some by a code.
float SinglePrecisionSum(const int16_t *samples, std::size_t count);

// A float truncated toward zero into a signed 16-bit code (out-of-range values saturate).
int16_t TruncateToCode(float value);

// Zero offset of a lane read with mid-scale subtracted: sum / count in float, truncated toward
// zero. count >= 1.
int16_t ZeroOffsetOfSamples(const int16_t *samples, std::size_t count);

// Single-lane offset in force from samples read with mid-scale subtracted: 8192 + sum / count in
// float, truncated toward zero. count >= 1.
int16_t SingleLaneOffsetOfSamples(const int16_t *samples, std::size_t count);

}  // namespace ostrel
