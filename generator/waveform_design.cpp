#include "generator/waveform_design.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    // LimitCode without branches: at or below 0 (and NaN) becomes 0, below 1 truncates to 0
    // anyway, at or above the limit becomes the limit, which a float holds exactly; so a vector
    // max and min, each step rounded to float as in ScaledCode.
    const int32_t limit = maxCode < 0 ? 0 : (maxCode > 0xFFFF ? 0xFFFF : maxCode);
    const float top = static_cast<float>(limit);
    int32_t done = 0;
#if defined(__SSE2__)
    const __m128 gain = _mm_set1_ps(scale.gain);
    const __m128 base = _mm_set1_ps(scale.base);
    const __m128 zero = _mm_setzero_ps();
    const __m128 topCode = _mm_set1_ps(top);
    // Codes 0..65535 are narrowed with the signed saturating pack, moved into its range first.
    const __m128i packBias = _mm_set1_epi32(0x8000);
    const __m128i signFlip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i zeroWords = _mm_setzero_si128();
    auto scaled = [&](__m128i points) {
        __m128 code = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(points), gain), base);
        code = _mm_min_ps(_mm_max_ps(code, zero), topCode);
        return _mm_sub_epi32(_mm_cvttps_epi32(code), packBias);
    };
    for (; done + 8 <= count; done += 8) {
        const __m128i points =
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(designed + done));
        const __m128i low = scaled(_mm_unpacklo_epi16(points, zeroWords));
        const __m128i high = scaled(_mm_unpackhi_epi16(points, zeroWords));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(codes + done),
                         _mm_xor_si128(_mm_packs_epi32(low, high), signFlip));
    }
#else
    // A fixed trip count with selects only, which the compiler may vectorise.
    constexpr int32_t kBlock = 64;
    for (; done + kBlock <= count; done += kBlock) {
        const uint16_t *__restrict in = designed + done;
        uint16_t *__restrict out = codes + done;
        for (int32_t i = 0; i < kBlock; ++i) {
            const float product = static_cast<float>(in[i]) * scale.gain;
            float code = product + scale.base;
            code = code > 0.0f ? code : 0.0f;
            code = code < top ? code : top;
            out[i] = static_cast<uint16_t>(static_cast<int32_t>(code));
        }
    }
#endif
    for (; done < count; ++done) codes[done] = ScaledCode(designed[done], scale, maxCode);
}

}  // namespace ostrel::awg
