// Sample arithmetic of the calibration family: DAQ_MeasureSignal, DAQ_GetVerticalInfo, the lane
// means the calibrations store, DelaySeconds, and the procedures' refusals with nothing open.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "calibration/delay_seconds.h"
#include "calibration/signal_measurement.h"
#include "engine/engine_state.h"
#include "platform/os/os_services.h"

namespace {

using ostrel::g_engine;

// The float nearest to 1/4660, the scale of most models.
const float kScale4660 = std::bit_cast<float>(0x3961042Du);

struct MeasureCase {
    const char *name;
    std::vector<int16_t> samples;
    float voltsPerCode;
    float peakToPeak, mean, rms;
};

TEST(MeasureSignal, WorkedValues) {
    const float scale = kScale4660;
    const MeasureCase cases[] = {
        {"100 and -100", {100, -100}, scale, 200 * scale, 0.0f, 100 * scale},
        {"the one sample -7", {-7}, scale, 0.0f, -7 * scale, 7 * scale},
        {"flat 5 at one volt per code", {5, 5, 5, 5}, 1.0f, 0.0f, 5.0f, 5.0f},
        // 3, 4 -> mean 3.5, RMS sqrt(12.5).
        {"3 and 4", {3, 4}, 1.0f, 1.0f, 3.5f, 3.5355339f},
        // The square of -32768 is 2^30, still a 32-bit product.
        {"full negative scale", {-32768, -32768}, 1.0f, 0.0f, -32768.0f, 32768.0f},
    };
    for (const MeasureCase &c : cases) {
        SCOPED_TRACE(c.name);
        g_engine.model.VoltsPerCode = c.voltsPerCode;
        float peakToPeak = -1.0f, mean = -1.0f, rms = -1.0f;
        ASSERT_EQ(DAQ_MeasureSignal(c.samples.data(), static_cast<int32_t>(c.samples.size()),
                                    &peakToPeak, &mean, &rms),
                  0);
        EXPECT_FLOAT_EQ(peakToPeak, c.peakToPeak);
        EXPECT_FLOAT_EQ(mean, c.mean);
        EXPECT_FLOAT_EQ(rms, c.rms);
    }
}

// 1024 samples of 16384 sum to exactly 2^24; from there a float sum cannot take a further +1
// (16777217 rounds back to even), so 1024 following ones are lost and the mean is 8192. In the
// other order every partial sum is exact and the mean is 8192.5. The result depends on the
// single-precision sum being taken in buffer order.
TEST(MeasureSignal, SumsInSinglePrecisionInBufferOrder) {
    g_engine.model.VoltsPerCode = 1.0f;
    std::vector<int16_t> largeFirst(1024, 16384);
    largeFirst.insert(largeFirst.end(), 1024, 1);
    std::vector<int16_t> onesFirst(1024, 1);
    onesFirst.insert(onesFirst.end(), 1024, 16384);
    float peakToPeak = 0, mean = 0, rms = 0;
    ASSERT_EQ(DAQ_MeasureSignal(largeFirst.data(), 2048, &peakToPeak, &mean, &rms), 0);
    EXPECT_EQ(mean, 8192.0f);
    EXPECT_EQ(peakToPeak, 16383.0f);
    ASSERT_EQ(DAQ_MeasureSignal(onesFirst.data(), 2048, &peakToPeak, &mean, &rms), 0);
    EXPECT_EQ(mean, 8192.5f);
}

TEST(MeasureSignal, RefusesBadArgumentsAndWritesNothing) {
    g_engine.model.VoltsPerCode = kScale4660;
    const int16_t samples[] = {1, 2, 3};
    struct Case {
        const char *name;
        const int16_t *samples;
        int32_t count;
        bool nullPeak, nullMean, nullRms;
    };
    const Case cases[] = {
        {"count 0", samples, 0, false, false, false},
        {"count -1", samples, -1, false, false, false},
        {"most negative count", samples, INT32_MIN, false, false, false},
        {"null samples", nullptr, 3, false, false, false},
        {"null peak-to-peak", samples, 3, true, false, false},
        {"null mean", samples, 3, false, true, false},
        {"null RMS", samples, 3, false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        float peakToPeak = 42.0f, mean = 42.0f, rms = 42.0f;
        EXPECT_EQ(DAQ_MeasureSignal(c.samples, c.count, c.nullPeak ? nullptr : &peakToPeak,
                                    c.nullMean ? nullptr : &mean, c.nullRms ? nullptr : &rms),
                  -1);
        EXPECT_EQ(peakToPeak, 42.0f);
        EXPECT_EQ(mean, 42.0f);
        EXPECT_EQ(rms, 42.0f);
    }
}

TEST(GetVerticalInfo, WorkedValue) {
    g_engine.model.AdcMaxCode = 16383;
    g_engine.model.VoltsPerCode = kScale4660;
    float fullScale = 0.0f;
    int32_t maxCode = 0;
    ASSERT_EQ(DAQ_GetVerticalInfo(&fullScale, &maxCode), 0);
    EXPECT_FLOAT_EQ(fullScale, 3515.6653f);
    EXPECT_EQ(maxCode, 16383);
}

TEST(GetVerticalInfo, ReportsTheStateBeforeAnyOpen) {
    float fullScale = 7.0f;
    int32_t maxCode = 7;
    ASSERT_EQ(DAQ_GetVerticalInfo(&fullScale, &maxCode), 0);
    EXPECT_EQ(fullScale, 0.0f);
    EXPECT_EQ(maxCode, 0);
}

TEST(GetVerticalInfo, RefusesNullPointersAndWritesNothing) {
    g_engine.model.AdcMaxCode = 16383;
    g_engine.model.VoltsPerCode = kScale4660;
    float fullScale = 7.0f;
    int32_t maxCode = 7;
    EXPECT_EQ(DAQ_GetVerticalInfo(nullptr, &maxCode), -1);
    EXPECT_EQ(maxCode, 7);
    EXPECT_EQ(DAQ_GetVerticalInfo(&fullScale, nullptr), -1);
    EXPECT_EQ(fullScale, 7.0f);
}

// Zero offsets as the calibrations store them: the mean truncated toward zero, never rounded
// down and never rounded to nearest.
TEST(LaneMeans, TruncateTowardZero) {
    struct Case {
        const char *name;
        std::vector<int16_t> samples;  // as read with mid-scale subtracted
        int16_t zeroOffset;            // DC-offset table entry
        int16_t singleLaneOffset;      // single self-calibration
    };
    // Raw codes 8189 (7 of 10) and 8190 (3 of 10) average 8189.3.
    std::vector<int16_t> mixed;
    for (int i = 0; i < 1000; ++i) mixed.push_back(i % 10 < 3 ? -2 : -3);
    // Raw codes averaging 8200.9: 9 of 10 at 8201, 1 of 10 at 8200.
    std::vector<int16_t> high;
    for (int i = 0; i < 1000; ++i) high.push_back(i % 10 == 0 ? 8 : 9);
    const Case cases[] = {
        {"codes all 8197", std::vector<int16_t>(4096, 5), 5, 8197},
        {"mean 8189.3", mixed, -2, 8189},
        {"mean 8200.9", high, 8, 8200},
        {"codes all 8192", std::vector<int16_t>(16, 0), 0, 8192},
        {"codes all 8191", std::vector<int16_t>(16, -1), -1, 8191},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ostrel::ZeroOffsetOfSamples(c.samples.data(), c.samples.size()), c.zeroOffset);
        EXPECT_EQ(ostrel::SingleLaneOffsetOfSamples(c.samples.data(), c.samples.size()),
                  c.singleLaneOffset);
    }
}

TEST(LaneMeans, TruncationSaturatesOutsideSixteenBits) {
    EXPECT_EQ(ostrel::TruncateToCode(-2.7f), -2);
    EXPECT_EQ(ostrel::TruncateToCode(2.7f), 2);
    EXPECT_EQ(ostrel::TruncateToCode(40000.0f), 32767);
    EXPECT_EQ(ostrel::TruncateToCode(-40000.0f), -32768);
    EXPECT_EQ(ostrel::TruncateToCode(std::numeric_limits<float>::quiet_NaN()), -32768);
}

TEST(DelaySeconds, WaitsAtLeastTheRequestedTime) {
    const float requests[] = {0.0f, 0.001f, 0.02f};
    for (const float seconds : requests) {
        SCOPED_TRACE(seconds);
        const int64_t start = ostrel::os::PerformanceCounter();
        EXPECT_EQ(ostrel::DelaySeconds(seconds), 0);
        const double elapsed = static_cast<double>(ostrel::os::PerformanceCounter() - start) /
                               static_cast<double>(ostrel::os::PerformanceFrequency());
        EXPECT_GE(elapsed, static_cast<double>(seconds));
    }
}

TEST(DelaySeconds, ReturnsAtOnceForNothingToWait) {
    // No run of spins at all: a negative or NaN request cannot be "greater than" 0 elapsed. A
    // wrong comparison would spin for ever on NaN or for a long time on a huge value; these end.
    EXPECT_EQ(ostrel::DelaySeconds(-1.0f), 0);
    EXPECT_EQ(ostrel::DelaySeconds(std::numeric_limits<float>::quiet_NaN()), 0);
}

// Nothing open: the procedures start nothing, touch no register and change no result.
TEST(CalibrationProcedures, RefuseWithNothingOpen) {
    g_engine.calibration.OffsetTable[0] = 77;
    g_engine.model.VoltsPerCode = kScale4660;
    const int16_t singleLane = g_engine.calibration.ChannelOffsets[0];
    SIM_SetAccessLog(1);
    SIM_ClearAccessLog();
    using Procedure = int32_t (*)();
    const Procedure procedures[] = {DAQ_Calibration_DCOffset, DAQ_Calibration_VerticalScale,
                                    DAQ_SelfCalibrationOnce};
    for (const Procedure procedure : procedures) {
        EXPECT_EQ(procedure(), -1);
        EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
        EXPECT_FALSE(g_engine.calibration.CalibrationActive);
    }
    SimAccess entry;
    EXPECT_EQ(SIM_GetAccessLog(&entry, 1), 0);
    EXPECT_EQ(g_engine.calibration.OffsetTable[0], 77);
    EXPECT_EQ(g_engine.model.VoltsPerCode, kScale4660);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[0], singleLane);
}

}  // namespace
