// Waveform design, phase shift, amplitude/offset scaling and phase steps as host arithmetic, on
// plain tables: the worked values of one period of each waveform, and the limits at the edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "OstrelDAQEngine.h"
#include "generator/phase_step.h"
#include "generator/waveform_design.h"

namespace {

using namespace ostrel::awg;

constexpr int32_t kLength = 8192;
constexpr int32_t kMaxCode = 0x3FFF;
constexpr int32_t kMidCode = 8191;
constexpr uint16_t kGuard = 0xBEEF;

// A table with guard words on both sides, to see that a design stays inside its part.
struct GuardedTable {
    std::vector<uint16_t> words = std::vector<uint16_t>(kLength + 2, kGuard);
    uint16_t *table() { return words.data() + 1; }
    uint16_t operator[](int index) const { return words[static_cast<size_t>(index) + 1]; }
    bool GuardsIntact() const { return words.front() == kGuard && words.back() == kGuard; }
    int Count(uint16_t value, int from, int to) const {
        int count = 0;
        for (int i = from; i < to; ++i) count += (*this)[i] == value ? 1 : 0;
        return count;
    }
};

TEST(GeneratorDesign, SineOverOnePeriodOfLengthMinusOneSteps) {
    GuardedTable sine;
    DesignSine(sine.table(), kLength, kMidCode, kMaxCode);
    EXPECT_TRUE(sine.GuardsIntact());
    EXPECT_EQ(sine[0], 8191);
    EXPECT_EQ(sine[8191], 8190);  // one whole period after point 0, rounded just below
    const auto largest = std::max_element(sine.words.begin() + 1, sine.words.end() - 1);
    EXPECT_EQ(*largest, 16382);
    EXPECT_EQ(sine[2048], 16382);
    EXPECT_EQ(sine[6144], 0);
    // A run of zeros around the trough, and nothing else at zero.
    const int zeros = sine.Count(0, 0, kLength);
    EXPECT_GT(zeros, 1);
    EXPECT_EQ(sine.Count(0, 6144 - zeros, 6144 + zeros), zeros);
    // The quarter points of the period sit near mid-scale, rising then falling.
    EXPECT_NEAR(sine[4096], 8191, 8);
    EXPECT_LT(sine[1000], sine[1001]);
    EXPECT_GT(sine[3000], sine[3001]);
}

TEST(GeneratorDesign, SquareHighPartFollowsTheDutyCycle) {
    struct Case {
        float duty;
        int highPoints;
    };
    const Case cases[] = {
        {0.3f, 2457}, {0.0f, 0}, {1.0f, 8192}, {0.5f, 4096},
        // Outside 0..1 the duty cycle is limited, so the design stays inside the table.
        {-0.25f, 0}, {1.75f, 8192}, {1e30f, 8192}, {-1e30f, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "duty " << c.duty);
        GuardedTable square;
        ASSERT_EQ(DesignTable(square.table(), kLength, kSquare, c.duty, kMidCode, kMaxCode),
                  DAQ_OK);
        EXPECT_TRUE(square.GuardsIntact());
        EXPECT_EQ(square.Count(0x3FFF, 0, c.highPoints), c.highPoints);
        EXPECT_EQ(square.Count(0, c.highPoints, kLength), kLength - c.highPoints);
    }
}

TEST(GeneratorDesign, TriangleRisesOverTheDutyCycleAndFallsToZero) {
    struct Point {
        int index;
        uint16_t value;
    };
    struct Case {
        float duty;
        std::vector<Point> points;
    };
    const Case cases[] = {
        {0.5f, {{0, 0}, {4095, 16383}, {4096, 16379}, {8191, 0}}},
        {1.0f, {{0, 0}, {4095, 8190}, {8191, 16383}}},
        // A rise of one point: the point is the bottom, the fall starts just below the top.
        {1.0f / 8192.0f, {{0, 0}, {1, 16381}, {8191, 0}}},
        // No rise: the fall starts just below the top at point 0.
        {0.0f, {{0, 16381}, {8191, 0}}},
        {2.0f, {{0, 0}, {8191, 16383}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "duty " << c.duty);
        GuardedTable triangle;
        ASSERT_EQ(DesignTable(triangle.table(), kLength, kTriangle, c.duty, kMidCode, kMaxCode),
                  DAQ_OK);
        EXPECT_TRUE(triangle.GuardsIntact());
        for (const Point &point : c.points) {
            EXPECT_EQ(triangle[point.index], point.value) << "point " << point.index;
        }
    }
}

TEST(GeneratorDesign, UnknownTypeLeavesTheTable) {
    GuardedTable table;
    std::fill(table.words.begin() + 1, table.words.end() - 1, uint16_t{1234});
    for (int32_t type : {3, -1, 1000}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        EXPECT_EQ(DesignTable(table.table(), kLength, type, 0.5f, kMidCode, kMaxCode), DAQ_ERROR);
        EXPECT_EQ(table.Count(1234, 0, kLength), kLength);
        EXPECT_TRUE(table.GuardsIntact());
    }
}

TEST(GeneratorDesign, PhaseShiftInPoints) {
    struct Case {
        float phase;
        int32_t shift;
    };
    const float pi = 3.14159265358979f;
    const Case cases[] = {
        {pi, 4096}, {pi / 2, 2048}, {-pi / 2, 6144}, {0.0001f, 0}, {-0.001f, 8191},
        {2 * pi, 0}, {-2 * pi, 0}, {0.0f, 0}, {-0.0f, 0},
        {1000.0f, 1269}, {123456.789f, 6211},
        // Beyond a 32-bit shift: the truncated shift, wrapped.
        {1e7f, 3530}, {-1e7f, 4662}, {-5e9f, 4428},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "phase " << c.phase);
        EXPECT_EQ(PhaseShiftPoints(kLength, c.phase), c.shift);
    }
    for (float huge : {3e38f, -3e38f, std::numeric_limits<float>::max()}) {
        SCOPED_TRACE(testing::Message() << "phase " << huge);
        const int32_t shift = PhaseShiftPoints(kLength, huge);
        EXPECT_GE(shift, 0);
        EXPECT_LT(shift, kLength);
    }
}

TEST(GeneratorDesign, AmplitudeAndOffsetScaling) {
    struct Case {
        float amplitude;
        float offset;
        uint16_t designed;
        uint16_t code;
    };
    const Case cases[] = {
        {4.75f, 0.0f, 16382, 16382}, {4.75f, 0.0f, 0, 0}, {4.75f, 0.0f, 8191, 8191},
        {4.75f, 0.0f, 12345, 12345}, {0.0f, 0.0f, 16382, 8191}, {0.0f, 0.0f, 0, 8191},
        {2.375f, 0.0f, 16382, 12286}, {2.375f, 0.0f, 0, 4095},
        // An offset of 4.75 moves by 2 x 8191 codes; with amplitude 0 that is the top.
        {0.0f, 2.375f, 0, 16382}, {0.0f, -2.375f, 0, 0},
        // Beyond the code range the DAC saturates instead of wrapping.
        {9.5f, 0.0f, 16382, 16383}, {9.5f, 0.0f, 0, 0}, {4.75f, 4.75f, 8191, 16383},
        {4.75f, -4.75f, 8191, 0}, {-4.75f, 0.0f, 0, 16382}, {1e30f, 0.0f, 16382, 16383},
        {-3e38f, 3e38f, 16382, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "amplitude " << c.amplitude << " offset " << c.offset
                                        << " designed " << c.designed);
        EXPECT_EQ(ScaledCode(c.designed, ScaleOf(c.amplitude, c.offset, kMidCode), kMaxCode),
                  c.code);
    }
}

// The block scaling the update uses gives exactly the codes of the per-point scaling, for every
// 16-bit designed value, at block edges and in the tail, including scales that overflow.
TEST(GeneratorDesign, BlockScalingMatchesPointScaling) {
    const float infinity = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        CodeScale scale;
        int32_t maxCode;
    };
    const Case cases[] = {
        {ScaleOf(4.75f, 0.0f, kMidCode), kMaxCode},   {ScaleOf(1.0f, 0.5f, kMidCode), kMaxCode},
        {ScaleOf(2.375f, -1.25f, kMidCode), kMaxCode}, {ScaleOf(-2.0f, 3.0f, kMidCode), kMaxCode},
        {ScaleOf(9.5f, 0.0f, kMidCode), kMaxCode},     {ScaleOf(-3e38f, 3e38f, kMidCode), kMaxCode},
        {{0.3f, 0.7f}, kMaxCode},                      {{1.0f, -0.5f}, kMaxCode},
        {{infinity, 0.0f}, kMaxCode},                  {{1.0f, -infinity}, kMaxCode},
        {{nan, 100.0f}, kMaxCode},                     {{1.0f, 0.0f}, 0},
        {{1.0f, 0.0f}, -7},                            {{4.0f, 0.0f}, 0x1FFFF},
    };
    // Every 16-bit value, plus a tail that is not a whole block.
    constexpr int32_t kCount = 65536 + 37;
    std::vector<uint16_t> designed(kCount);
    for (int32_t i = 0; i < kCount; ++i) designed[i] = static_cast<uint16_t>(i * 7919);
    std::vector<uint16_t> codes(kCount);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "gain " << c.scale.gain << " base " << c.scale.base
                                        << " max code " << c.maxCode);
        for (int32_t offset : {0, 1, 63}) {
            std::fill(codes.begin(), codes.end(), uint16_t{0xABCD});
            ScaledCodes(designed.data() + offset, codes.data(), kCount - offset, c.scale,
                        c.maxCode);
            for (int32_t i = 0; i < kCount - offset; ++i) {
                ASSERT_EQ(codes[i], ScaledCode(designed[i + offset], c.scale, c.maxCode))
                    << "point " << i << " designed " << designed[i + offset];
            }
            // Nothing past the count is written.
            if (offset > 0) {
                EXPECT_EQ(codes[kCount - offset], 0xABCD);
            }
        }
    }
}

TEST(GeneratorDesign, LimitCodeTruncatesThenSaturates) {
    struct Case {
        float value;
        uint16_t code;
    };
    const Case cases[] = {
        {0.0f, 0}, {0.99f, 0}, {-0.99f, 0}, {-5.0f, 0}, {1.0f, 1}, {8191.9f, 8191},
        {16382.99f, 16382}, {16383.0f, 16383}, {16384.5f, 16383}, {1e20f, 16383},
        {std::numeric_limits<float>::infinity(), 16383},
        {-std::numeric_limits<float>::infinity(), 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value);
        EXPECT_EQ(LimitCode(c.value, kMaxCode), c.code);
    }
}

TEST(GeneratorDesign, PhaseStepOfFrequency) {
    struct Case {
        double frequency;
        uint32_t integerPart;
        uint32_t fraction;
    };
    const Case cases[] = {
        {10000000.0, 273, 0x11111111u}, {1000000.0, 27, 1317123304u},
        {56250000.0, 1536, 0}, {65625000.0, 1792, 0}, {36621.09375, 1, 0}, {0.0, 0, 0},
        {-0.0, 0, 0}, {18310.546875, 0, 0x80000000u},
        // A step of 2^31 points per clock still fits the unsigned integer part.
        {78643200000000.0, 0x80000000u, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "frequency " << c.frequency);
        const auto step = PhaseStepOf(c.frequency, 300000000.0, kLength);
        ASSERT_TRUE(step.has_value());
        EXPECT_EQ(step->integerPart, c.integerPart);
        EXPECT_EQ(step->fraction, c.fraction);
    }
    for (double refused : {-1.0, -1e-300, 157286400000000.0, 1e300,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(testing::Message() << "frequency " << refused);
        EXPECT_FALSE(PhaseStepOf(refused, 300000000.0, kLength).has_value());
    }
}

}  // namespace
