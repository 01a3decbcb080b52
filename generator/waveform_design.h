// Waveform design and scaling as host arithmetic: one period of a sine, square or triangle into a
// channel's host table, and the per-point code written to the board after the phase rotation and
// the amplitude and offset scaling. Nothing here touches the board or the engine state, so the
// exact float and double rounding of each step can be checked on plain arrays.
#pragma once

#include <cstdint>

namespace ostrel::awg {

constexpr double kTwoPi = 6.2831853071796;  // sine step
constexpr double kPi = 3.1415926535898;     // phase to points
constexpr double kFullScale = 4.75;         // amplitude that spans the whole code range

enum WaveformType : int32_t { kSine = 0, kSquare = 1, kTriangle = 2 };

// A float value truncated toward zero and limited to 0..maxCode, as a DAC saturates; NaN gives 0.
// Limiting instead of keeping the low 16 bits keeps an overdriven waveform clipped rather than
// wrapped into a different shape.
uint16_t LimitCode(float value, int32_t maxCode);

// Points of the high part of a square and the rising part of a triangle: the table length times
// the duty cycle, in float, truncated. The duty cycle is limited to 0..1 first, so the result
// never exceeds the table (a non-finite duty cycle counts as 0).
int32_t DutyPointCount(int32_t tableLength, float dutyCycle);

// One sine period over length - 1 steps: point length - 1 lies one whole period after point 0.
void DesignSine(uint16_t *table, int32_t length, int32_t midCode, int32_t maxCode);
// highPoints points at maxCode, the rest 0.
void DesignSquare(uint16_t *table, int32_t length, int32_t highPoints, int32_t maxCode);
// Rises from 0 to maxCode over risePoints points, then falls back to 0 at the last point.
void DesignTriangle(uint16_t *table, int32_t length, int32_t risePoints, int32_t maxCode);

// Designs the given type into table. DAQ_OK, or DAQ_ERROR (table untouched) for any other type.
int32_t DesignTable(uint16_t *table, int32_t length, int32_t type, float dutyCycle, int32_t midCode,
                 int32_t maxCode);

// Output point k plays designed point (k + shift) mod length; shift is in 0..length - 1. The shift
// is the phase in points truncated toward zero and then wrapped, computed in double so that any
// finite phase, however large, gives the wrap of that truncated value.
int32_t PhaseShiftPoints(int32_t length, float phase);

// code = designed x gain + base, in float.
struct CodeScale {
    float gain;
    float base;
};
CodeScale ScaleOf(float amplitude, float offset, int32_t midCode);
uint16_t ScaledCode(uint16_t designed, CodeScale scale, int32_t maxCode);
// ScaledCode of count consecutive points, codes[i] from designed[i]: the same codes, computed in
// blocks the compiler vectorises.
void ScaledCodes(const uint16_t *designed, uint16_t *codes, int32_t count, CodeScale scale,
                 int32_t maxCode);

}  // namespace ostrel::awg
