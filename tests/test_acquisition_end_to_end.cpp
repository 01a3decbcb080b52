// Acquisition from the simulated board to the application's lane buffers: known signals and zero
// errors on every model, tag gaps, the indicator, the start/stop/configure handshake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "support/open_model_board.h"

namespace {

using ostrel::g_engine;
using ostrel_test::OpenModel;

uint32_t Lanes() { return g_engine.model.ADCNumber; }

// Waits (up to 20 s of wall time) for an announced frame.
bool WaitForFrame() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (DAQ_NewDataFrameAvailable() == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Frame {
    std::vector<std::vector<int16_t>> lanes;
};

Frame ReadFrame(size_t samplesPerLane) {
    Frame frame;
    frame.lanes.assign(4, std::vector<int16_t>(samplesPerLane + 1, 0x7A7A));
    EXPECT_EQ(DAQ_GetLatestFrame(frame.lanes[0].data(), frame.lanes[1].data(),
                                 frame.lanes[2].data(), frame.lanes[3].data()),
              0);
    return frame;
}

// A constant level per input and a chosen zero error for the board's current front-end setting.
// Returns the code each lane's readout must hold: the board's raw code minus the offset in force.
// A single-lane board gets the same on all four inputs, whichever one it has selected.
std::vector<int16_t> SetKnownLevels() {
    std::vector<int16_t> expected;
    const int inputs = Lanes() == 1 ? 4 : static_cast<int>(Lanes());
    const int32_t maxCode = static_cast<int32_t>(g_engine.model.AdcMaxCode);
    // A gain every model decodes (the setter also chooses the offset in force again).
    for (uint32_t lane = 0; lane < Lanes(); ++lane) DAQ_SetGain(static_cast<int32_t>(lane), 0);
    for (int input = 0; input < inputs; ++input) {
        const int lane = Lanes() == 1 ? 0 : input;
        SimFrontEnd frontEnd{};
        EXPECT_EQ(SIM_GetFrontEnd(0, input, &frontEnd), 0);
        const int zeroError = 37 + 11 * lane;
        EXPECT_EQ(SIM_SetZeroError(0, input, frontEnd.coupling, frontEnd.termination,
                                   frontEnd.gain, frontEnd.attenuation, zeroError),
                  0);
        // Mid-scale is half the code range (2048 on model 7's 12 bits); the levels stay inside it.
        const int32_t midScale = (maxCode + 1) / 2;
        const double level = -midScale / 2 + 500.0 * lane;
        EXPECT_EQ(SIM_SetInputSignal(0, input, level, 0.0, 0.0, 0.0), 0);
        if (input != lane) continue;
        const int32_t raw = midScale + zeroError + static_cast<int32_t>(level);
        EXPECT_GT(raw, 0);
        EXPECT_LT(raw, maxCode);
        const int16_t offset = Lanes() == 1 ? g_engine.calibration.ChannelOffsets[0]
                                            : g_engine.calibration.ChannelOffsets[1 + lane];
        expected.push_back(static_cast<int16_t>(raw - offset));
    }
    return expected;
}

// Each case ends with the board's own thread stopped (SIM_Reset joins it), so that nothing of the
// simulator outlives the test.
class AcquisitionEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        if (g_engine.discovery.DeviceHandle != nullptr) DAQ_CloseDevice();
        SIM_SetFault(SIM_FAULT_DMA_STALL, 0);
        SIM_Reset();
    }
};

TEST_F(AcquisitionEndToEnd, KnownLevelsArriveOnEveryLaneOfEveryModel) {
    const struct {
        int32_t model;
        uint32_t length, number;
    } cases[] = {{5, 1000, 10}, {6, 4096, 64}, {7, 1024, 8},
                 {8, 1024, 16}, {9, 2048, 40}, {10, 4096, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", " << c.length << " x "
                                        << c.number);
        OpenModel(c.model);
        ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
        const std::vector<int16_t> expected = SetKnownLevels();
        ASSERT_EQ(DAQ_ConfigAcquisition(c.length, c.number), 0);
        ASSERT_EQ(DAQ_StartAcquisition(), 0);
        ASSERT_TRUE(WaitForFrame());
        const size_t perLane = static_cast<size_t>(c.length) * c.number;
        const Frame frame = ReadFrame(perLane);
        for (uint32_t lane = 0; lane < 4; ++lane) {
            SCOPED_TRACE(testing::Message() << "lane " << lane);
            const std::vector<int16_t> &samples = frame.lanes[lane];
            if (lane >= Lanes()) {
                EXPECT_EQ(samples[0], 0x7A7A) << "a lane the model lacks is not touched";
                continue;
            }
            const auto [low, high] = std::minmax_element(samples.begin(), samples.end() - 1);
            EXPECT_EQ(*low, expected[lane]);
            EXPECT_EQ(*high, expected[lane]);
            EXPECT_EQ(samples[perLane], 0x7A7A) << "nothing past record length x number";
        }
        EXPECT_EQ(DAQ_StopAcquisition(), 0);
        int32_t records = 0, frames = 0;
        float rate = 0.0f;
        EXPECT_EQ(DAQ_CheckDMA(&records, &frames, &rate), 0);
        EXPECT_GT(records, 0);
        EXPECT_GE(frames, 1);
        EXPECT_TRUE(g_engine.acquisition.DmaFinished.load());
        EXPECT_EQ(SIM_GetDroppedDmaWrites(0), 0u);
        DAQ_CloseDevice();
    }
}

TEST_F(AcquisitionEndToEnd, SamplesOfASineFollowEachOtherWithoutGaps) {
    // Two lanes, a sine on lane 0 and its negative on lane 1: within each returned frame the
    // lanes stay mirror images and neighbouring samples differ as little as the sine allows.
    OpenModel(6);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    for (int lane = 0; lane < 2; ++lane) {
        SimFrontEnd frontEnd{};
        ASSERT_EQ(SIM_GetFrontEnd(0, lane, &frontEnd), 0);
        ASSERT_EQ(SIM_SetZeroError(0, lane, frontEnd.coupling, frontEnd.termination,
                                   frontEnd.gain, frontEnd.attenuation, 0),
                  0);
        ASSERT_EQ(SIM_SetInputSignal(0, lane, 0.0, lane == 0 ? 4000.0 : -4000.0, 1.0e6, 0.0), 0);
    }
    ASSERT_EQ(DAQ_ConfigAcquisition(4096, 64), 0);
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    ASSERT_TRUE(WaitForFrame());
    const Frame frame = ReadFrame(4096 * 64);
    DAQ_StopAcquisition();
    const int16_t offset0 = g_engine.calibration.ChannelOffsets[1];
    const int16_t offset1 = g_engine.calibration.ChannelOffsets[2];
    // 150 MS/s and 1 MHz: at most 2 pi x 4000 / 150 = 168 codes between neighbours.
    int largestStep = 0;
    for (size_t i = 0; i < 4096 * 64; ++i) {
        const int level0 = frame.lanes[0][i] + offset0 - 8192;
        const int level1 = frame.lanes[1][i] + offset1 - 8192;
        ASSERT_NEAR(level0, -level1, 1) << "sample " << i;
        if ((i + 1) % 4096 != 0) {  // neighbours within one record
            largestStep =
                std::max(largestStep, std::abs(frame.lanes[0][i + 1] - frame.lanes[0][i]));
        }
    }
    EXPECT_LE(largestStep, 170);
    EXPECT_GE(largestStep, 150);
    DAQ_CloseDevice();
}

TEST_F(AcquisitionEndToEnd, ATagGapShowsAsOnePartialFrame) {
    OpenModel(5);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);  // 524 records per frame
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    ASSERT_TRUE(WaitForFrame());
    int32_t statistics[9] = {};
    DAQ_GetDebugValue(statistics);
    EXPECT_EQ(statistics[4], 0) << "no partial frame before the gap";
    ASSERT_EQ(SIM_SkipRecords(0, 10), 0);
    // Four more frames, so that the frame with the gap is recycled.
    int32_t records = 0, frames = 0, framesAtGap = 0;
    float rate = 0.0f;
    DAQ_CheckDMA(&records, &framesAtGap, &rate);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        DAQ_CheckDMA(&records, &frames, &rate);
    } while (frames < framesAtGap + 6 && std::chrono::steady_clock::now() < deadline);
    DAQ_StopAcquisition();
    DAQ_GetDebugValue(statistics);
    // The 10 records never written and no other; a gap across a frame boundary splits the loss
    // over two frames.
    ASSERT_GE(statistics[4], 1);
    ASSERT_LE(statistics[4], 2);
    if (statistics[4] == 1) {
        EXPECT_EQ(statistics[5], 524 - 10);
    }
    EXPECT_EQ(statistics[7], 0);
    EXPECT_EQ(statistics[8], 0);
    DAQ_CloseDevice();
}

TEST_F(AcquisitionEndToEnd, StartAndStopSetTheIndicator) {
    OpenModel(5);  // indicator at index -1004
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    EXPECT_EQ(DAQ_StartAcquisition(), 0);
    EXPECT_EQ(SIM_PeekRegister(0, -1004), 1u);
    EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(DAQ_StartAcquisition(), 0) << "already running: nothing happens";
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    EXPECT_EQ(SIM_PeekRegister(0, -1004), 0u);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    // The dispatcher was seen finished and its interrupt flag cleared before the stop returned.
    EXPECT_TRUE(g_engine.acquisition.DmaFinished.load());
    EXPECT_EQ(SIM_PeekBar(0, 2, 0x6000000, 4) & 0x200u, 0u);
    EXPECT_EQ(DAQ_StopAcquisition(), 0) << "stopped already: returns at once";

    // DAQ_FinalizeAcquisition stops without touching the indicator.
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    SIM_PokeRegister(0, -1004, 5);
    EXPECT_EQ(DAQ_FinalizeAcquisition(), 0);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(SIM_PeekRegister(0, -1004), 5u);
    DAQ_CloseDevice();
}

TEST_F(AcquisitionEndToEnd, TheAnnouncementStaysUntilReadOrRestarted) {
    OpenModel(8);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(1024, 16), 0);
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    ASSERT_TRUE(WaitForFrame());
    DAQ_StopAcquisition();
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 1);
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 1) << "asking does not clear it";
    g_engine.acquisition.Ring.NewFrameAvailable.store(true);
    SIM_SetFault(SIM_FAULT_DMA_STALL, 1);  // no frame in the next run
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 0) << "a start clears it";
    int32_t records = 1, frames = 0;
    float rate = 0.0f;
    DAQ_CheckDMA(&records, &frames, &rate);
    EXPECT_EQ(frames, -1) << "no frame complete yet in this run";
    DAQ_StopAcquisition();
    SIM_SetFault(SIM_FAULT_DMA_STALL, 0);
    DAQ_CloseDevice();
}

TEST_F(AcquisitionEndToEnd, ConfigurationStopsARunningThreadUnlessTheRequestIsUnchanged) {
    OpenModel(9);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 100), 0);
    EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
    const int16_t *ring = g_engine.acquisition.FrameRing.get();
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 100), 0) << "unchanged while running";
    EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(g_engine.acquisition.FrameRing.get(), ring);
    EXPECT_EQ(DAQ_ConfigAcquisition(1024, 100), 0) << "unchanged: the thread keeps running";
    EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());

    EXPECT_EQ(DAQ_ConfigAcquisition(2048, 100), 0);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load()) << "a new request stops it";
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(2048, 100), 0) << "stopped: configured and started";
    EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
    ASSERT_TRUE(WaitForFrame());
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(99, 100), -1);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load()) << "stopped before the refusal";
    EXPECT_EQ(g_engine.acquisition.RecordLength, 2048u);
    DAQ_CloseDevice();
}

TEST_F(AcquisitionEndToEnd, CloseWhileRunningReleasesEverything) {
    OpenModel(10);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(4096, 32), 0);
    ASSERT_TRUE(WaitForFrame());
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
    EXPECT_EQ(SIM_GetDroppedDmaWrites(0), 0u);
}

TEST_F(AcquisitionEndToEnd, AStalledBoardDoesNotHoldTheStopAndTheEngineStaysUsable) {
    OpenModel(6);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(4096, 64), 0);
    // The thread has queued descriptors once it has read the dispatcher's status three more times
    // (a pass reads it at least once, and its first pass queues); a loaded machine may keep it
    // from running for a while.
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    const int readsBefore = SIM_GetCallCount("WDC_ReadAddr32");
    for (int wait = 0; wait < 2000 && SIM_GetCallCount("WDC_ReadAddr32") < readsBefore + 3; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(DAQ_StopAcquisition(), 0);  // returns after the thread gives up on the board
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_FALSE(g_engine.acquisition.DmaFinished.load());
    int32_t records = 1, frames = 0;
    float rate = 0.0f;
    DAQ_CheckDMA(&records, &frames, &rate);
    EXPECT_EQ(records, 0);

    // The board recovers: a new configuration resets its dispatcher and frames flow again.
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(2048, 64), 0);
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    EXPECT_TRUE(WaitForFrame());
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    EXPECT_TRUE(g_engine.acquisition.DmaFinished.load());

    // Stalled again while running, then closed: the close gives everything back.
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
}

#if defined(__linux__)
// The names of the process's threads, as top -H shows them.
std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        names.push_back(name);
    }
    return names;
}

TEST_F(AcquisitionEndToEnd, TheThreadCanBeFoundByItsName) {
    OpenModel(9);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 16), 0);
    ASSERT_TRUE(WaitForFrame());
    const std::vector<std::string> running = ThreadNames();
    EXPECT_EQ(std::count(running.begin(), running.end(), "ostrel-acq"), 1);
    ASSERT_EQ(DAQ_StopAcquisition(), 0);
    // The thread has set its last flag; it may take a moment longer to leave the list.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::string> stopped = ThreadNames();
    while (std::count(stopped.begin(), stopped.end(), "ostrel-acq") != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stopped = ThreadNames();
    }
    EXPECT_EQ(std::count(stopped.begin(), stopped.end(), "ostrel-acq"), 0);
}
#endif

TEST_F(AcquisitionEndToEnd, HundredsOfStartStopConfigureCycles) {
    // Run under the thread sanitizer as well: the handshake, the counters and the ring shared
    // with the thread, and the simulated board's own thread.
    OpenModel(5);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    std::vector<int16_t> lane0(1000 * 21);  // the longest request below: 1000 x 21
    int framesSeen = 0, framesWaitedFor = 0;
    for (int cycle = 0; cycle < 300; ++cycle) {
        const uint32_t number = 10 + static_cast<uint32_t>(cycle % 3) * 5;
        switch (cycle % 4) {
            case 0:
                ASSERT_EQ(DAQ_ConfigAcquisition(1000, number), 0);
                ASSERT_EQ(DAQ_StartAcquisition(), 0);
                break;
            case 1:
                ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1000, number), 0);
                break;
            case 2:
                ASSERT_EQ(DAQ_StartAcquisition(), 0);
                break;
            default:
                ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1000, number), 0);
                ASSERT_EQ(DAQ_ConfigAcquisition(1000, number + 1), 0);  // stops it
                ASSERT_EQ(DAQ_StartAcquisition(), 0);
                break;
        }
        // Every tenth run lasts until a frame has come, so that records flow in many runs.
        if (cycle % 10 == 9) {
            ASSERT_TRUE(WaitForFrame());
            ++framesWaitedFor;
        }
        for (int read = 0; read < 3; ++read) {
            framesSeen += DAQ_NewDataFrameAvailable();
            ASSERT_EQ(DAQ_GetLatestFrame(lane0.data(), nullptr, nullptr, nullptr), 0);
            int32_t records = 0, frames = 0, statistics[9] = {};
            float rate = 0.0f;
            DAQ_CheckDMA(&records, &frames, &rate);
            DAQ_GetDebugValue(statistics);
        }
        if (cycle % 2 == 0) {
            ASSERT_EQ(DAQ_StopAcquisition(), 0);
        } else {
            ASSERT_EQ(DAQ_FinalizeAcquisition(), 0);
        }
        ASSERT_TRUE(g_engine.acquisition.ThreadStopped.load());
    }
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(SIM_GetDroppedDmaWrites(0), 0u);
    EXPECT_EQ(framesWaitedFor, 30);
    RecordProperty("framesSeen", framesSeen);
}

}  // namespace
