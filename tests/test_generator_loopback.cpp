// End to end on a model-9 board with the simulator's loopback: what the generator plays is what
// the ADC lanes acquire. Frequency and amplitude of generated sines are measured in an acquired
// frame; a channel held off shows a flat lane.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "test_generator_board.h"

namespace {

using namespace generator_test;

constexpr uint32_t kRecordLength = 4096;
constexpr uint32_t kRecords = 16;

struct LaneMeasurement {
    double frequencyHz = 0.0;
    double amplitudeCodes = 0.0;  // half the peak-to-peak swing
};

// Rising crossings of the mid level, interpolated, counted within each record (records need not
// follow each other without a gap).
LaneMeasurement Measure(const std::vector<int16_t> &lane, double samplesPerSecond) {
    const auto [low, high] = std::minmax_element(lane.begin(), lane.end());
    LaneMeasurement result;
    result.amplitudeCodes = (*high - *low) / 2.0;
    if (*high - *low < 16) return result;
    const double middle = (*high + *low) / 2.0;
    const double hysteresis = 0.1 * (*high - *low);
    double cycles = 0.0, span = 0.0;
    for (uint32_t record = 0; record < kRecords; ++record) {
        const int16_t *samples = lane.data() + record * kRecordLength;
        bool armed = false;
        int crossings = 0;
        double first = 0.0, last = 0.0;
        for (uint32_t i = 1; i < kRecordLength; ++i) {
            if (samples[i] < middle - hysteresis) armed = true;
            if (armed && samples[i - 1] < middle && samples[i] >= middle) {
                const double position =
                    (i - 1) + (middle - samples[i - 1]) / (samples[i] - samples[i - 1]);
                if (crossings++ == 0) first = position;
                last = position;
                armed = false;
            }
        }
        if (crossings >= 2) {
            cycles += crossings - 1;
            span += last - first;
        }
    }
    if (span > 0.0) result.frequencyHz = cycles / span * samplesPerSecond;
    return result;
}

// One frame of both lanes through the loopback. The board runs at its full DMA speed: it then
// waits for the thread's descriptors and loses no record, so the frame read holds only acquired
// records. In realtime pacing a busy machine delays the thread, records are lost, and the frame
// before the newest record may be one that got few or none of them (ring memory never written).
// The loopback's time base is the sample index, the same at every pacing.
bool AcquireFrame(std::vector<int16_t> &lane0, std::vector<int16_t> &lane1) {
    lane0.assign(kRecordLength * kRecords, 0);
    lane1.assign(kRecordLength * kRecords, 0);
    if (SIM_SetDmaPacing(SIM_DMA_MAXRATE) != 0) return false;
    if (DAQ_ConfigAcquisition(kRecordLength, kRecords) != 0) return false;
    if (DAQ_StartAcquisition() != 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!DAQ_NewDataFrameAvailable() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool ready = DAQ_NewDataFrameAvailable() == 1;
    if (ready) DAQ_GetLatestFrame(lane0.data(), lane1.data(), nullptr, nullptr);
    DAQ_StopAcquisition();
    return ready;
}

TEST(GeneratorLoopback, AcquiredSinesHaveTheGeneratedFrequencyAndAmplitude) {
    ASSERT_EQ(OpenBoard(9), 0);
    ASSERT_EQ(SIM_SetLoopback(0, 1), 0);
    struct Case {
        int channel;
        float amplitude;
        double frequency;
        double amplitudeCodes;  // 8191 x amplitude / 4.75
    };
    const Case cases[] = {{0, 2.375f, 1000000.0, 4095.5}, {1, 3.0f, 3000000.0, 5173.3}};
    for (const Case &c : cases) {
        ASSERT_EQ(AWG_SetWaveformType(c.channel, 0), 0);
        ASSERT_EQ(AWG_SetAmplitude(c.channel, c.amplitude), 0);
        ASSERT_EQ(AWG_SetFrequency(c.channel, c.frequency), 0);
    }
    ASSERT_EQ(AWG_SyncAllChannels(), 0);

    std::vector<int16_t> lanes[2];
    ASSERT_TRUE(AcquireFrame(lanes[0], lanes[1]));
    uint32_t dividerCode = 0;
    float megasamples = 0;
    ASSERT_EQ(DAQ_GetSamplingRate(&dividerCode, &megasamples), 0);
    ASSERT_GT(megasamples, 0.0f);

    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " frequency "
                                        << c.frequency << " amplitude " << c.amplitude);
        const LaneMeasurement measured = Measure(lanes[c.channel], megasamples * 1e6);
        // Tolerances: 0.1 % of the frequency (the phase step resolves far finer; the crossing
        // interpolation over 16 records is good to a few 0.01 %), 1 % of the amplitude (sampling
        // misses the crest by at most cos(pi x f / rate)).
        EXPECT_NEAR(measured.frequencyHz, c.frequency, c.frequency * 1e-3);
        EXPECT_NEAR(measured.amplitudeCodes, c.amplitudeCodes, c.amplitudeCodes * 1e-2);
    }
    DAQ_CloseDevice();
}

TEST(GeneratorLoopback, ChannelHeldOffShowsAFlatLane) {
    ASSERT_EQ(OpenBoard(9), 0);
    ASSERT_EQ(SIM_SetLoopback(0, 1), 0);
    ASSERT_EQ(AWG_SetAmplitude(0, 3.0f), 0);
    ASSERT_EQ(AWG_SetFrequency(0, 2000000.0), 0);
    ASSERT_EQ(AWG_SetAmplitude(1, 3.0f), 0);
    ASSERT_EQ(AWG_SetFrequency(1, 2000000.0), 0);
    ASSERT_EQ(AWG_EnableOutput(1, 0), 0);

    std::vector<int16_t> lane0, lane1;
    ASSERT_TRUE(AcquireFrame(lane0, lane1));
    uint32_t dividerCode = 0;
    float megasamples = 0;
    ASSERT_EQ(DAQ_GetSamplingRate(&dividerCode, &megasamples), 0);
    EXPECT_NEAR(Measure(lane0, megasamples * 1e6).frequencyHz, 2000000.0, 2000.0);
    EXPECT_LT(Measure(lane1, megasamples * 1e6).amplitudeCodes, 2.0);
    DAQ_CloseDevice();
}

}  // namespace
