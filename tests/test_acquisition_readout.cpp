// Frame readout: lane split, offsets, 16-bit wrap, lane pointers, bounds, and the ring shared with
// a writing thread. The engine state is set up by hand here (no board).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "OstrelDAQEngine.h"
#include "acquisition/frame_readout.h"
#include "acquisition_fake_dma.h"
#include "engine/engine_state.h"

namespace ostrel::testing {
namespace {

constexpr int16_t kUntouched = 0x5A5A;

// A configured ring of four frames, filled with ring sample i = pattern(i).
void SetUpRing(uint32_t lanes, uint32_t recordLength, uint32_t recordNumber,
               uint32_t recordsPerFrame, int16_t (*pattern)(size_t)) {
    g_engine.model.ADCNumber = lanes;
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.RecordLength = recordLength;
    acquisition.RecordNumber = recordNumber;
    acquisition.RecordsPerFrame = recordsPerFrame;
    acquisition.RecordPoints = recordLength * lanes;
    acquisition.RingSlotCount = recordsPerFrame * 4;
    const size_t samples = static_cast<size_t>(acquisition.RingSlotCount) * acquisition.RecordPoints;
    acquisition.FrameRing.reset(new int16_t[samples]);
    for (size_t i = 0; i < samples; ++i) acquisition.FrameRing[i] = pattern(i);
    acquisition.HostBuffersAllocated = true;
}

int16_t Ramp(size_t i) { return static_cast<int16_t>(i * 13 + 5); }

void SetOffsets(int16_t single, int16_t lane0, int16_t lane1, int16_t lane2, int16_t lane3) {
    int16_t *offsets = g_engine.calibration.ChannelOffsets;
    offsets[0] = single;
    offsets[1] = lane0;
    offsets[2] = lane1;
    offsets[3] = lane2;
    offsets[4] = lane3;
}

TEST(FrameReadout, OneLaneCopiesTheRecordsOfTheLatestFrame) {
    // Record points 1000, record number 10, latest frame at ring record 524 (ring frame 1 of a
    // 524-record frame): 10000 samples from ring sample 524000 on.
    SetUpRing(1, 1000, 10, 524, Ramp);
    SetOffsets(8191, 1, 2, 3, 4);
    g_engine.acquisition.Ring.LatestFrameStart.store(524);
    g_engine.acquisition.Ring.NewFrameAvailable.store(true);
    std::vector<int16_t> lane0(10001, kUntouched);
    ASSERT_EQ(DAQ_GetLatestFrame(lane0.data(), nullptr, nullptr, nullptr), 0);
    for (size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(lane0[i], static_cast<int16_t>(Ramp(524000 + i) - 8191)) << "sample " << i;
    }
    EXPECT_EQ(lane0[10000], kUntouched);
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 0);
}

TEST(FrameReadout, TwoLanesTakeEvenAndOddPoints) {
    // Record length 4096 on two lanes: 8192 points per record, 64 records: 262144 per lane.
    SetUpRing(2, 4096, 64, 64, Ramp);
    SetOffsets(0, 100, -200, 0, 0);
    g_engine.acquisition.Ring.LatestFrameStart.store(128);
    std::vector<int16_t> lane0(262145, kUntouched), lane1(262145, kUntouched);
    std::vector<int16_t> lane2(4, kUntouched), lane3(4, kUntouched);
    ASSERT_EQ(DAQ_GetLatestFrame(lane0.data(), lane1.data(), lane2.data(), lane3.data()), 0);
    const size_t start = 128 * 8192;
    for (size_t i = 0; i < 262144; ++i) {
        ASSERT_EQ(lane0[i], static_cast<int16_t>(Ramp(start + 2 * i) - 100)) << i;
        ASSERT_EQ(lane1[i], static_cast<int16_t>(Ramp(start + 2 * i + 1) + 200)) << i;
    }
    EXPECT_EQ(lane0[262144], kUntouched);
    EXPECT_EQ(lane1[262144], kUntouched);
    EXPECT_EQ(lane2, std::vector<int16_t>(4, kUntouched)) << "the model has no lane 2";
    EXPECT_EQ(lane3, std::vector<int16_t>(4, kUntouched));
}

TEST(FrameReadout, FourLanesTakeEveryFourthPoint) {
    SetUpRing(4, 1000, 3, 131, Ramp);
    SetOffsets(0, 1, 2, 3, 4);
    g_engine.acquisition.Ring.LatestFrameStart.store(3 * 131);
    std::vector<std::vector<int16_t>> lanes(4, std::vector<int16_t>(3001, kUntouched));
    ASSERT_EQ(DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(),
                                 lanes[3].data()),
              0);
    const size_t start = 3 * 131 * 4000;
    for (size_t lane = 0; lane < 4; ++lane) {
        for (size_t i = 0; i < 3000; ++i) {
            ASSERT_EQ(lanes[lane][i], static_cast<int16_t>(Ramp(start + 4 * i + lane) - (lane + 1)))
                << "lane " << lane << " sample " << i;
        }
        EXPECT_EQ(lanes[lane][3000], kUntouched);
    }
}

TEST(FrameReadout, DifferencesWrapToSixteenBits) {
    struct Case {
        int16_t sample;
        int16_t offset;
        int16_t expected;
    };
    const Case cases[] = {{-32768, 8192, 24576}, {32767, -1, -32768}, {0, 8192, -8192},
                          {8192, 8192, 0},       {16383, 8192, 8191}, {-1, 32767, -32768}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sample << " - " << c.offset);
        for (uint32_t lanes : {1u, 2u, 4u}) {
            SCOPED_TRACE(::testing::Message() << lanes << " lanes");
            static int16_t sample;
            sample = c.sample;
            SetUpRing(lanes, 32, 1, 4096 / lanes, [](size_t) { return sample; });
            SetOffsets(c.offset, c.offset, c.offset, c.offset, c.offset);
            std::vector<std::vector<int16_t>> out(4, std::vector<int16_t>(32, kUntouched));
            ASSERT_EQ(DAQ_GetLatestFrame(out[0].data(), out[1].data(), out[2].data(),
                                         out[3].data()),
                      0);
            for (uint32_t lane = 0; lane < lanes; ++lane) {
                EXPECT_EQ(out[lane][0], c.expected);
                EXPECT_EQ(out[lane][31], c.expected);
            }
        }
    }
}

TEST(FrameReadout, ANullPointerForALaneTheModelHasIsRefused) {
    struct Case {
        uint32_t lanes;
        int nullLane;
        int32_t expected;
    };
    const Case cases[] = {{1, 0, -1}, {1, 1, 0}, {1, 3, 0}, {2, 0, -1}, {2, 1, -1}, {2, 2, 0},
                          {2, 3, 0},  {4, 0, -1}, {4, 1, -1}, {4, 2, -1}, {4, 3, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.lanes << " lanes, lane " << c.nullLane << " null");
        SetUpRing(c.lanes, 32, 2, 64, Ramp);
        g_engine.acquisition.Ring.NewFrameAvailable.store(true);
        std::vector<std::vector<int16_t>> out(4, std::vector<int16_t>(64, kUntouched));
        int16_t *pointers[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
        pointers[c.nullLane] = nullptr;
        EXPECT_EQ(DAQ_GetLatestFrame(pointers[0], pointers[1], pointers[2], pointers[3]),
                  c.expected);
        if (c.expected < 0) {
            EXPECT_EQ(DAQ_NewDataFrameAvailable(), 1) << "a refusal changes nothing";
            for (const auto &lane : out) EXPECT_EQ(lane[0], kUntouched);
        } else {
            EXPECT_EQ(DAQ_NewDataFrameAvailable(), 0);
        }
    }
}

TEST(FrameReadout, NothingIsCopiedWithoutHostBuffers) {
    // A record number left from a configuration whose set-up failed: no ring to read.
    g_engine.model.ADCNumber = 1;
    g_engine.acquisition.RecordNumber = 10;
    g_engine.acquisition.RecordPoints = 1000;
    g_engine.acquisition.RecordsPerFrame = 524;
    g_engine.acquisition.HostBuffersAllocated = false;
    g_engine.acquisition.Ring.NewFrameAvailable.store(true);
    std::vector<int16_t> lane0(10000, kUntouched);
    EXPECT_EQ(DAQ_GetLatestFrame(lane0.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lane0, std::vector<int16_t>(10000, kUntouched));
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 0);
}

TEST(FrameReadout, NeverReadsBeyondOneFrame) {
    // A record number above the records per frame (never produced by a configuration) is cut to
    // one frame; the last ring frame is read up to the ring's end and not past it.
    SetUpRing(1, 100, 50, 10, Ramp);
    g_engine.acquisition.Ring.LatestFrameStart.store(30);
    SetOffsets(0, 0, 0, 0, 0);
    std::vector<int16_t> lane0(5000, kUntouched);
    EXPECT_EQ(DAQ_GetLatestFrame(lane0.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lane0[999], Ramp(3999));
    EXPECT_EQ(lane0[1000], kUntouched);
}

TEST(AcquisitionStatus, CountersAsTheThreadPublishedThem) {
    RingStatus &ring = g_engine.acquisition.Ring;
    ring.RecordsReceived.store(1234);
    ring.FrameCounter.store(-1);
    ring.DataRate.store(98.5f);
    for (int index = 0; index < 9; ++index) ring.FrameStatistics[index].store(index * 10);
    int32_t records = 0, frames = 0, statistics[10] = {};
    float rate = 0.0f;
    EXPECT_EQ(DAQ_CheckDMA(&records, &frames, &rate), 0);
    EXPECT_EQ(records, 1234);
    EXPECT_EQ(frames, -1);
    EXPECT_FLOAT_EQ(rate, 98.5f);
    statistics[9] = 777;
    EXPECT_EQ(DAQ_GetDebugValue(statistics), 0);
    for (int index = 0; index < 9; ++index) EXPECT_EQ(statistics[index], index * 10);
    EXPECT_EQ(statistics[9], 777) << "nine values, not more";
    // Null pointers are refused and nothing is written.
    records = frames = 5;
    EXPECT_EQ(DAQ_CheckDMA(nullptr, &frames, &rate), -1);
    EXPECT_EQ(DAQ_CheckDMA(&records, nullptr, &rate), -1);
    EXPECT_EQ(DAQ_CheckDMA(&records, &frames, nullptr), -1);
    EXPECT_EQ(records, 5);
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(DAQ_GetDebugValue(nullptr), -1);
    ring.NewFrameAvailable.store(true);
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 1);
    EXPECT_EQ(DAQ_NewDataFrameAvailable(), 1);
}

TEST(FrameReadout, KernelsMatchAPlainLoopAtEveryLength) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-32768, 32767);
    const int16_t offsets[4] = {8192, -3, 32767, -32768};
    for (size_t perLane : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 63u, 1000u, 1031u}) {
        SCOPED_TRACE(::testing::Message() << perLane << " points per lane");
        std::vector<int16_t> source(perLane * 4 + 1);
        for (auto &sample : source) sample = static_cast<int16_t>(value(random));
        std::vector<std::vector<int16_t>> out(4, std::vector<int16_t>(perLane + 1, kUntouched));
        SplitOneLane(source.data(), perLane, offsets[0], out[0].data());
        for (size_t i = 0; i < perLane; ++i) {
            ASSERT_EQ(out[0][i], static_cast<int16_t>(source[i] - offsets[0]));
        }
        SplitTwoLanes(source.data(), perLane, offsets[1], offsets[2], out[1].data(),
                      out[2].data());
        for (size_t i = 0; i < perLane; ++i) {
            ASSERT_EQ(out[1][i], static_cast<int16_t>(source[2 * i] - offsets[1]));
            ASSERT_EQ(out[2][i], static_cast<int16_t>(source[2 * i + 1] - offsets[2]));
        }
        for (auto &lane : out) std::fill(lane.begin(), lane.end(), kUntouched);
        SplitFourLanes(source.data(), perLane, offsets, out[0].data(), out[1].data(),
                       out[2].data(), out[3].data());
        for (size_t lane = 0; lane < 4; ++lane) {
            for (size_t i = 0; i < perLane; ++i) {
                ASSERT_EQ(out[lane][i], static_cast<int16_t>(source[4 * i + lane] - offsets[lane]));
            }
            EXPECT_EQ(out[lane][perLane], kUntouched);
        }
    }
}

TEST(FrameReadout, AFrameIsNeverReturnedWhileTheThreadRewritesIt) {
    // The writer laps a small ring many times while the reader copies frames: every record the
    // reader returns must be one record (all of its samples written by one copy). 112 slots,
    // 8 records per frame, so the writer keeps coming back to the frame being read.
    const FakeGeometry geometry{256, 4, 7 * 260, 7, 8};
    FakeDma dma(geometry);
    dma.MarkEmpty();
    SetUpRing(1, 256, 8, 8, [](size_t) { return int16_t{0}; });
    SetOffsets(0, 0, 0, 0, 0);
    ScanLayout layout = dma.Layout();
    layout.FrameRing = g_engine.acquisition.FrameRing.get();
    RecordScanner scanner(layout, g_engine.acquisition.Ring, ManualClock::Read, 1);
    scanner.BeginRun();

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int pass = 0; pass < 20000; ++pass) {
            dma.ProduceQueued(1 + pass % 40, scanner);
            scanner.Pass();
        }
        done.store(true);
    });
    std::vector<int16_t> frame(8 * 256);
    int reads = 0;
    int tornRecords = 0;
    while (!done.load() || reads < 100) {
        ASSERT_EQ(DAQ_GetLatestFrame(frame.data(), nullptr, nullptr, nullptr), 0);
        ++reads;
        for (int record = 0; record < 8; ++record) {
            const int16_t *samples = frame.data() + record * 256;
            if (!std::all_of(samples, samples + 256, [&](int16_t s) { return s == samples[0]; })) {
                ++tornRecords;
            }
        }
    }
    writer.join();
    EXPECT_EQ(tornRecords, 0) << "over " << reads << " frames read";
    EXPECT_GT(g_engine.acquisition.Ring.RecordsReceived.load(), 20000);
}

}  // namespace
}  // namespace ostrel::testing
