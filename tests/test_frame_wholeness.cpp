// A frame is announced once more than half of its records have arrived; a record that never came
// leaves older samples in its place. The readout tells the engine whether the frame it copied was
// whole, and the calibrations' frame wait passes over frames that were not.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "acquisition/frame_readout.h"
#include "acquisition/record_scanner.h"
#include "acquisition_fake_dma.h"
#include "calibration/frame_wait.h"
#include "engine/engine_state.h"

namespace ostrel::testing {
namespace {

constexpr uint32_t kRecordPoints = 64;
constexpr uint32_t kRecordsPerFrame = 8;

// One lane, 8 records of 64 points per frame, offsets 0, a scanner over a fake board.
struct Board {
    Board() : dma(FakeGeometry{kRecordPoints, 4, 4 * (kRecordPoints + 4), 4, kRecordsPerFrame}) {
        dma.MarkEmpty();
        g_engine.model.ADCNumber = 1;
        AcquisitionState &acquisition = g_engine.acquisition;
        acquisition.RecordLength = kRecordPoints;
        acquisition.RecordNumber = kRecordsPerFrame;
        acquisition.RecordsPerFrame = kRecordsPerFrame;
        acquisition.RecordPoints = kRecordPoints;
        acquisition.RingSlotCount = kRecordsPerFrame * 4;
        acquisition.FrameRing.reset(new int16_t[acquisition.RingSlotCount * kRecordPoints]());
        acquisition.HostBuffersAllocated = true;
        for (int16_t &offset : g_engine.calibration.ChannelOffsets) offset = 0;
        ScanLayout layout = dma.Layout();
        layout.FrameRing = acquisition.FrameRing.get();
        scanner = std::make_unique<RecordScanner>(layout, acquisition.Ring, ManualClock::Read, 1);
        scanner->BeginRun();
    }
    void Produce(uint32_t count) {
        dma.Produce(count);
        scanner->Pass();
    }
    void Skip(uint32_t count) { dma.SkipTags(count); }

    FakeDma dma;
    std::unique_ptr<RecordScanner> scanner;
};

// Each step is a run of records written (positive) or tags never written (negative); the frame
// read afterwards is the latest complete one. The record written just after a gap is not taken
// either (it does not follow the record in the slot before it).
TEST(FrameWholeness, ReadoutTellsWhetherEveryRecordOfTheFrameCame) {
    struct Case {
        const char *name;
        std::vector<int> steps;
        uint32_t latestFrame;
        bool whole;
    };
    const Case cases[] = {
        {"every record", {8, 1}, 0, true},
        {"two records never written", {3, -2, 3, 1}, 0, false},
        {"the last record never written", {7, -1, 2}, 0, false},
        {"a gap in the frame after", {8, 8, 2, -3, 3}, 1, true},
        {"five of eight", {5, -2, 2}, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Board board;
        for (int step : c.steps) {
            if (step > 0) board.Produce(static_cast<uint32_t>(step));
            if (step < 0) board.Skip(static_cast<uint32_t>(-step));
        }
        ASSERT_EQ(g_engine.acquisition.Ring.LatestFrameStart.load(),
                  c.latestFrame * kRecordsPerFrame);
        std::vector<int16_t> lane(kRecordsPerFrame * kRecordPoints);
        bool whole = !c.whole;
        ASSERT_EQ(ReadLatestFrame(lane.data(), nullptr, nullptr, nullptr, &whole), 0);
        EXPECT_EQ(whole, c.whole);
    }
}

TEST(FrameWholeness, NothingCopiedIsNotWhole) {
    Board board;
    board.Produce(9);
    g_engine.acquisition.HostBuffersAllocated = false;
    std::vector<int16_t> lane(kRecordsPerFrame * kRecordPoints);
    bool whole = true;
    ASSERT_EQ(ReadLatestFrame(lane.data(), nullptr, nullptr, nullptr, &whole), 0);
    EXPECT_FALSE(whole);
}

// The first complete frame after a start is never announced. Here the second (ring frame 1) comes
// with two records missing and the third (ring frame 2) whole: the wait must return the third.
TEST(FrameWholeness, CalibrationFrameWaitPassesOverAFrameWithRecordsMissing) {
    Board board;
    board.Produce(8);
    board.Produce(3);
    board.Skip(2);
    board.Produce(3);
    board.Produce(1);  // frame 1 announced with records 11 to 13 missing
    ASSERT_TRUE(g_engine.acquisition.Ring.NewFrameAvailable.load());

    std::atomic<bool> finished{false};
    std::thread boardThread([&] {
        // Once the partial frame has been taken, the rest of frame 2 and the first of frame 3.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (g_engine.acquisition.Ring.NewFrameAvailable.load() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        board.Produce(7);
        board.Produce(1);
        finished.store(true);
    });
    LaneBuffers buffers;
    ASSERT_TRUE(buffers.Allocate(kRecordsPerFrame * kRecordPoints));
    const bool read = WaitForFrame(buffers, 10.0);
    boardThread.join();
    ASSERT_TRUE(read);
    for (uint32_t record = 0; record < kRecordsPerFrame; ++record) {
        const uint32_t tag = 2 * kRecordsPerFrame + record;
        EXPECT_EQ(buffers.Lane(0)[record * kRecordPoints], FakeDma::ValueOf(tag, 0))
            << "record " << record;
    }
}

TEST(FrameWholeness, CalibrationFrameWaitGivesUpWhenNoFrameIsWhole) {
    Board board;
    board.Produce(8);
    board.Produce(5);
    board.Skip(2);
    board.Produce(2);  // frame 1 announced with 5 of 8
    ASSERT_TRUE(g_engine.acquisition.Ring.NewFrameAvailable.load());
    LaneBuffers buffers;
    ASSERT_TRUE(buffers.Allocate(kRecordsPerFrame * kRecordPoints));
    EXPECT_FALSE(WaitForFrame(buffers, 0.2));
}

}  // namespace
}  // namespace ostrel::testing
