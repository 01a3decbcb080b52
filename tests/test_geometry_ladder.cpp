// Every model against a ladder of record geometries, acquired through the exports from the
// simulated board at its full pace. Each geometry the configuration accepts must keep announcing
// frames, lap after lap of the board through the 16 DMA chunks, and each readout must fill exactly
// record length x record number samples per lane into buffers of that size that end against a
// protected page. Geometries the board cannot record exactly are refused before anything changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "platform/os/os_services.h"
#include "support/guarded_buffer.h"
#include "support/open_model_board.h"

namespace {

using ostrel_test::GuardedBuffer;
using ostrel_test::OpenModel;

// Frames read per geometry: enough for the board to lap its 16 DMA chunks several times, after
// which a stall would show. A frame beyond the DMA buffer's size laps them within itself, so fewer
// of those are read (64 MiB frames in a sanitizer build on a busy machine take seconds each).
constexpr int32_t kFramesWanted = 8;
constexpr int32_t kLargeFramesWanted = 3;
constexpr size_t kLargeFrameBytes = 16u << 20;
// The bound of one cell: a floor far above a small frame's time on a loaded machine, plus time for
// the frames' bytes at a pace far below what even a sanitizer build reaches (a frame of the
// longest records may hold 64 MiB).
constexpr double kBoundSeconds = 20.0;
constexpr double kSlowestBytesPerSecond = 4.0e6;

// OSTREL_LADDER_REPORT=1 prints the frames of every cell (for comparing builds); a shorter bound
// can be given in seconds with OSTREL_LADDER_BOUND_S.
bool Reporting() { return std::getenv("OSTREL_LADDER_REPORT") != nullptr; }
int32_t FramesWanted(size_t frameBytes) {
    return frameBytes > kLargeFrameBytes ? kLargeFramesWanted : kFramesWanted;
}
double BoundSeconds(size_t frameBytes) {
    const char *text = std::getenv("OSTREL_LADDER_BOUND_S");
    const double seconds = text != nullptr ? std::atof(text) : 0.0;
    if (seconds > 0.0) return seconds;
    // The frames read, and the two the announcement lags behind.
    const double frames = FramesWanted(frameBytes) + 2;
    return kBoundSeconds + frames * static_cast<double>(frameBytes) / kSlowestBytesPerSecond;
}
// A value the readout cannot produce: codes are at most 14 bits, offsets near mid-scale.
constexpr int16_t kNeverWritten = 0x7F7F;

uint32_t LengthUnitOf(int32_t model) {
    switch (model) {
        case 6: case 9: case 10: return 4;
        case 7: return 8;
        default: return 1;
    }
}

double SecondsSince(int64_t start) {
    return static_cast<double>(ostrel::os::PerformanceCounter() - start) /
           static_cast<double>(ostrel::os::PerformanceFrequency());
}

struct LaneBuffers {
    LaneBuffers(int32_t lanes, size_t samplesPerLane) {
        for (int32_t lane = 0; lane < lanes; ++lane) {
            buffers.push_back(std::make_unique<GuardedBuffer<int16_t>>(samplesPerLane));
        }
    }
    int16_t *Lane(int32_t lane) {
        return lane < static_cast<int32_t>(buffers.size()) ? buffers[lane]->data() : nullptr;
    }
    std::vector<std::unique_ptr<GuardedBuffer<int16_t>>> buffers;
};

// Announced frames read out until `wanted` have come or the bound has passed; returns how many
// came. Every readout must fill each lane buffer completely.
int32_t ReadAnnouncedFrames(int32_t lanes, size_t samplesPerLane, int32_t wanted, double bound) {
    LaneBuffers buffers(lanes, samplesPerLane);
    int32_t frames = 0;
    const int64_t start = ostrel::os::PerformanceCounter();
    while (frames < wanted && SecondsSince(start) < bound) {
        if (DAQ_NewDataFrameAvailable() == 0) {
            ostrel::os::SleepMilliseconds(1);
            continue;
        }
        for (auto &buffer : buffers.buffers) buffer->Fill(kNeverWritten);
        EXPECT_EQ(DAQ_GetLatestFrame(buffers.Lane(0), buffers.Lane(1), buffers.Lane(2),
                                     buffers.Lane(3)),
                  0);
        for (int32_t lane = 0; lane < lanes; ++lane) {
            EXPECT_EQ(buffers.buffers[lane]->CountOf(kNeverWritten), 0u)
                << "lane " << lane << " not filled";
        }
        ++frames;
    }
    return frames;
}

// One model and one record length against every record number of the ladder.
class GeometryLadder : public ::testing::TestWithParam<std::tuple<int32_t, uint32_t>> {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0); }
    void TearDown() override {
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

constexpr uint32_t kModelMaximum = 0;  // stands for the model's longest record in the ladder

TEST_P(GeometryLadder, EveryAcceptedGeometryKeepsAnnouncingWholeFrames) {
    const int32_t model = std::get<0>(GetParam());
    OpenModel(model);
    int32_t lanes = 0;
    int32_t maximum = 0;
    ASSERT_EQ(DAQ_GetADCNumber(&lanes), 0);
    ASSERT_EQ(DAQ_GetMaxRecordLength(&maximum), 0);
    const uint32_t unit = LengthUnitOf(model);
    const uint32_t length = std::get<1>(GetParam()) == kModelMaximum
                                ? static_cast<uint32_t>(maximum)
                                : std::get<1>(GetParam());
    for (const uint32_t number : {1u, 4u, 16u, 64u, 1000u}) {
        SCOPED_TRACE(testing::Message() << "model " << model << ", " << length << " x " << number);
        const bool accepted = length % unit == 0 && length <= static_cast<uint32_t>(maximum);
        const int32_t configured = DAQ_ConfigAcquisition(length, number);
        EXPECT_EQ(configured, accepted ? 0 : -1);
        if (configured != 0) continue;
        ASSERT_EQ(DAQ_StartAcquisition(), 0);
        const size_t samplesPerLane = size_t{length} * number;
        const size_t frameBytes = std::max<size_t>(samplesPerLane * lanes * 2, 0x100000);
        const double bound = BoundSeconds(frameBytes);
        const int32_t wanted = FramesWanted(frameBytes);
        const int32_t frames = ReadAnnouncedFrames(lanes, samplesPerLane, wanted, bound);
        EXPECT_EQ(frames, wanted) << "frames announced within " << bound << " s";
        if (Reporting()) std::printf("ladder %d %u %u %d\n", model, length, number, frames);
        ASSERT_EQ(DAQ_StopAcquisition(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, GeometryLadder,
    ::testing::Combine(::testing::Values(5, 6, 7, 8, 9, 10),
                       ::testing::Values(32u, 1000u, 1001u, 1024u, 4096u, 8192u, kModelMaximum)),
    [](const ::testing::TestParamInfo<std::tuple<int32_t, uint32_t>> &info) {
        const uint32_t length = std::get<1>(info.param);
        return "Model" + std::to_string(std::get<0>(info.param)) + "Length" +
               (length == kModelMaximum ? std::string("Max") : std::to_string(length));
    });

}  // namespace
