// Every export that writes into (or reads from) an array of the caller's, on every model, with the
// array sized exactly as the header promises and ending against a protected page: one element too
// many is a crash here, never a silent corruption.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "platform/os/os_services.h"
#include "support/guarded_buffer.h"
#include "support/open_model_board.h"

namespace {

using ostrel_test::GuardedBuffer;

constexpr uint8_t kUntouched = 0xA5;

size_t PoolBytesOf(int32_t model) { return 16u * (model == 5 ? 81920u : 278528u); }

class CallerBuffers : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
        ostrel_test::OpenModel(GetParam());
    }
    void TearDown() override {
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

TEST_P(CallerBuffers, DmaPoolCopiesFillExactlyTheModelsPool) {
    const size_t poolBytes = PoolBytesOf(GetParam());
    GuardedBuffer<uint8_t> pool(poolBytes);
    pool.Fill(kUntouched);
    EXPECT_EQ(DAQ_CopyDMAPool(pool.data()), 0) << "nothing set up yet";
    EXPECT_EQ(pool.CountOf(kUntouched), poolBytes) << "and nothing copied";

    float rate = 0;
    ASSERT_EQ(DAQ_DMABandwidthTest(pool.data(), &rate), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(1024, 64), 0);
    EXPECT_EQ(DAQ_CopyDMAPool(pool.data()), 0);
    // The set-up marks every record slot empty, so the copy must have written the trailers.
    EXPECT_LT(pool.CountOf(kUntouched), poolBytes);
}

TEST_P(CallerBuffers, StatusArraysHoldExactlyWhatTheHeaderSays) {
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 64), 0);
    for (int poll = 0; poll < 5000 && DAQ_NewDataFrameAvailable() == 0; ++poll) {
        ostrel::os::SleepMilliseconds(1);
    }
    GuardedBuffer<int32_t> statistics(9);
    EXPECT_EQ(DAQ_GetDebugValue(statistics.data()), 0);
    GuardedBuffer<int32_t> received(1), counter(1);
    GuardedBuffer<float> rate(1);
    EXPECT_EQ(DAQ_CheckDMA(received.data(), counter.data(), rate.data()), 0);
    GuardedBuffer<uint32_t> words(4);
    GetDeviceResource(words.data(), words.data() + 1, words.data() + 2, words.data() + 3);
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
}

TEST_P(CallerBuffers, MeasurementReadsExactlyCountSamples) {
    for (const int32_t count : {1, 2, 3, 1000, 65536}) {
        SCOPED_TRACE(count);
        GuardedBuffer<int16_t> samples(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) samples.data()[i] = static_cast<int16_t>(i % 200 - 100);
        float peakToPeak = -1, mean = -1, rms = -1;
        EXPECT_EQ(DAQ_MeasureSignal(samples.data(), count, &peakToPeak, &mean, &rms), 0);
        EXPECT_GE(peakToPeak, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CallerBuffers, ::testing::Values(5, 6, 7, 8, 9, 10),
                         [](const ::testing::TestParamInfo<int32_t> &info) {
                             return "Model" + std::to_string(info.param);
                         });

}  // namespace
