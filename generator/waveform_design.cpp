#include "generator/waveform_design.h"

#include <cmath>

#include "OstrelDAQEngine.h"

namespace ostrel::awg {

uint16_t LimitCode(float value, int32_t maxCode) {
    const int32_t limit = maxCode < 0 ? 0 : (maxCode > 0xFFFF ? 0xFFFF : maxCode);
    // Below 1 (and NaN) truncates to 0; the test is written so that NaN takes this branch.
    if (!(value >= 1.0f)) return 0;
    if (value >= static_cast<float>(limit)) return static_cast<uint16_t>(limit);
    return static_cast<uint16_t>(static_cast<int32_t>(value));
}

int32_t DutyPointCount(int32_t tableLength, float dutyCycle) {
    float duty = dutyCycle;
    if (!(duty >= 0.0f)) duty = 0.0f;
    if (duty > 1.0f) duty = 1.0f;
    const float points = static_cast<float>(tableLength) * duty;
    const auto count = static_cast<int32_t>(points);
    // float rounding of length x 1.0 cannot exceed the length, but stay inside the table anyway.
    return count > tableLength ? tableLength : count;
}

void DesignSine(uint16_t *table, int32_t length, int32_t midCode, int32_t maxCode) {
    // One period spans length - 1 steps; the step is divided in double and rounded to float.
    const float step = length > 1 ? static_cast<float>(kTwoPi / static_cast<double>(length - 1))
                                  : 0.0f;
    const float mid = static_cast<float>(midCode);
    for (int32_t i = 0; i < length; ++i) {
        const float angle = static_cast<float>(i) * step;
        const float lifted = 1.0f + std::sin(angle);
        table[i] = LimitCode(lifted * mid, maxCode);
    }
}

void DesignSquare(uint16_t *table, int32_t length, int32_t highPoints, int32_t maxCode) {
    const uint16_t high = LimitCode(static_cast<float>(maxCode), maxCode);
    for (int32_t i = 0; i < length; ++i) table[i] = i < highPoints ? high : 0;
}

void DesignTriangle(uint16_t *table, int32_t length, int32_t risePoints, int32_t maxCode) {
    const float top = static_cast<float>(maxCode);
    for (int32_t i = 0; i < risePoints && i < length; ++i) {
        // A one-point rise has no slope: its only point is the bottom.
        if (risePoints == 1) {
            table[i] = 0;
            continue;
        }
        const float fraction = static_cast<float>(i) / static_cast<float>(risePoints - 1);
        table[i] = LimitCode(fraction * top, maxCode);
    }
    for (int32_t i = risePoints; i < length; ++i) {
        const float fraction =
            static_cast<float>(length - 1 - i) / static_cast<float>(length - risePoints);
        table[i] = LimitCode(fraction * top, maxCode);
    }
}

int32_t DesignTable(uint16_t *table, int32_t length, int32_t type, float dutyCycle,
                    int32_t midCode, int32_t maxCode) {
    switch (type) {
    case kSine:
        DesignSine(table, length, midCode, maxCode);
        return DAQ_OK;
    case kSquare:
        DesignSquare(table, length, DutyPointCount(length, dutyCycle), maxCode);
        return DAQ_OK;
    case kTriangle:
        DesignTriangle(table, length, DutyPointCount(length, dutyCycle), maxCode);
        return DAQ_OK;
    default:
        return DAQ_ERROR;
    }
}

int32_t PhaseShiftPoints(int32_t length, float phase) {
    if (length <= 0) return 0;
    // Half the table is formed in float, then the division by pi and the product with the phase
    // are done in double.
    const float halfTable = static_cast<float>(length) / 2.0f;
    const double points = static_cast<double>(halfTable) / kPi * static_cast<double>(phase);
    if (!std::isfinite(points)) return 0;
    // Truncating in double and wrapping with the exact fmod gives the same shift as a 32-bit
    // truncation wherever that fits, and a sound one for phases far beyond it.
    double wrapped = std::fmod(std::trunc(points), static_cast<double>(length));
    if (wrapped < 0.0) wrapped += static_cast<double>(length);
    const auto shift = static_cast<int32_t>(wrapped);
    return shift >= length ? 0 : shift;
}

CodeScale ScaleOf(float amplitude, float offset, int32_t midCode) {
    const float gain = static_cast<float>(static_cast<double>(amplitude) / kFullScale);
    const float twiceOffsetLessAmplitude = 2.0f * offset - amplitude;
    const double base =
        (1.0 + static_cast<double>(twiceOffsetLessAmplitude) / kFullScale) *
        static_cast<double>(midCode);
    return CodeScale{gain, static_cast<float>(base)};
}

uint16_t ScaledCode(uint16_t designed, CodeScale scale, int32_t maxCode) {
    // Multiply, then add, each rounded to float (kept as two statements so that no compiler
    // fuses them into one rounding).
    const float product = static_cast<float>(designed) * scale.gain;
    const float code = product + scale.base;
    return LimitCode(code, maxCode);
}

void ScaledCodes(const uint16_t *designed, uint16_t *codes, int32_t count, CodeScale scale,
                 int32_t maxCode) {
    // LimitCode without branches: below 1 (and NaN) becomes 0 and truncates to 0, at or above
    // the limit becomes the limit, which a float holds exactly. A fixed trip count with selects
    // only is what the compiler vectorises at -O2.
    constexpr int32_t kBlock = 64;
    const int32_t limit = maxCode < 0 ? 0 : (maxCode > 0xFFFF ? 0xFFFF : maxCode);
    const float top = static_cast<float>(limit);
    int32_t done = 0;
    for (; done + kBlock <= count; done += kBlock) {
        const uint16_t *__restrict in = designed + done;
        uint16_t *__restrict out = codes + done;
        for (int32_t i = 0; i < kBlock; ++i) {
            const float product = static_cast<float>(in[i]) * scale.gain;
            float code = product + scale.base;
            code = code >= 1.0f ? code : 0.0f;
            code = code < top ? code : top;
            out[i] = static_cast<uint16_t>(static_cast<int32_t>(code));
        }
    }
    for (; done < count; ++done) codes[done] = ScaledCode(designed[done], scale, maxCode);
}

}  // namespace ostrel::awg
