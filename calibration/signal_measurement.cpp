#include "calibration/signal_measurement.h"

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

constexpr float kMillivoltsPerVolt = 1000.0f;
constexpr float kMidScale = 8192.0f;

}  // namespace

SignalMeasurement MeasureSignal(const int16_t *samples, int32_t count, float voltsPerCode) {
    float sum = 0.0f;
    float sumOfSquares = 0.0f;
    float minimum = static_cast<float>(samples[0]);
    float maximum = minimum;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t code = samples[i];
        const float value = static_cast<float>(code);
        sum += value;
        sumOfSquares += static_cast<float>(code * code);  // at most 2^30: fits the 32-bit product
        if (minimum > value) minimum = value;
        if (value > maximum) maximum = value;
    }
    const float samplesCounted = static_cast<float>(count);
    SignalMeasurement result;
    result.PeakToPeak = (maximum - minimum) * voltsPerCode;
    result.Mean = (sum / samplesCounted) * voltsPerCode;
    result.Rms = std::sqrt(sumOfSquares / samplesCounted) * voltsPerCode;
    return result;
}

float FullScaleMillivolts(uint32_t adcMaxCode, float voltsPerCode) {
    return static_cast<float>(adcMaxCode) * voltsPerCode * kMillivoltsPerVolt;
}

float SinglePrecisionSum(const int16_t *samples, std::size_t count) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<float>(samples[i]);
    return sum;
}

int16_t TruncateToCode(float value) {
    // Means of 16-bit samples (plus mid-scale) always fit; saturating keeps a conversion of a
    // value that somehow does not from being undefined.
    constexpr float kLowest = static_cast<float>(std::numeric_limits<int16_t>::min());
    constexpr float kHighest = static_cast<float>(std::numeric_limits<int16_t>::max());
    if (!(value > kLowest)) return std::numeric_limits<int16_t>::min();  // NaN too
    if (value >= kHighest) return std::numeric_limits<int16_t>::max();
    return static_cast<int16_t>(static_cast<int32_t>(value));  // truncates toward zero
}

int16_t ZeroOffsetOfSamples(const int16_t *samples, std::size_t count) {
    return TruncateToCode(SinglePrecisionSum(samples, count) / static_cast<float>(count));
}

int16_t SingleLaneOffsetOfSamples(const int16_t *samples, std::size_t count) {
    return TruncateToCode(kMidScale +
                          SinglePrecisionSum(samples, count) / static_cast<float>(count));
}

}  // namespace ostrel
