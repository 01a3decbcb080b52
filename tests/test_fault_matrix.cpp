// Every simulator fault against every operation, from one table: the operation returns within its
// bound with the documented result, every resource is given back at the close, and the engine
// then opens and acquires again as if nothing had happened. Each fault runs on another model, so
// the matrix crosses all six.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "support/open_model_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using ostrel::g_engine;

enum Operation {
    kOpen,
    kConfigure,
    kStart,
    kRead,
    kCalibrateOffsets,
    kCalibrateScale,
    kCalibrateOnce,
    kBandwidthTest,
    kPoolCopy,
    kGeneratorUpdate,
    kStream,
    kClose,
    kOperationCount
};

const char *const kOperationNames[kOperationCount] = {
    "open",           "configure",          "start",         "read",      "calibrate offsets",
    "calibrate scale", "calibrate once",    "bandwidth test", "pool copy", "generator update",
    "stream",         "close"};

constexpr uint32_t kFaultStatus = 0x2000001F;  // any failure status: the engine looks only at != 0

struct FaultRow {
    int fault;
    const char *name;
    int32_t model;
    // Expected result of each operation while the fault is on (kAny: the fault does not decide
    // the result, which must then be what the operation returns without a fault).
    int32_t results[kOperationCount];
};

constexpr int32_t kFine = 0;            // the result without a fault: 0 everywhere
constexpr int32_t kStatus = 0x7FFFFFFF;  // the fault's status itself, as the close reports it

// clang-format off
const FaultRow kMatrix[] = {
//   fault                       name               model  open conf start read  cDC  cVS  c1  bw  pool awg  strm  close
    {SIM_FAULT_DEBUG_OPTIONS,    "debug options",    5,   {-1,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DRIVER_OPEN,      "driver open",      6,   {-1,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DRIVER_CLOSE,     "driver close",     7,   {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    kStatus}},
    {SIM_FAULT_SCAN,             "scan",             8,   {0,     0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DEVICE_INFO,      "device info",      9,   {-2,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DEVICE_OPEN,      "device open",      10,  {-2,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DEVICE_CLOSE,     "device close",     5,   {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DMA_LOCK,         "DMA lock",         6,   {-4,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_CONTROL_DEVICE,   "control device",   7,   {-3,    0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_DMA_STALL,        "DMA stall",        8,   {kFine, 0, 0,   0,    -1,  -1,  -1, -1, 0,   0,   0,    0}},
    {SIM_FAULT_INT_ENABLE,       "interrupt enable", 9,   {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_INT_DISABLE,      "interrupt disable",10,  {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_EVENT_REGISTER,   "event register",   5,   {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
    {SIM_FAULT_EVENT_UNREGISTER, "event unregister", 9,   {kFine, 0, 0,   0,    0,   0,   0,  0,  0,   0,   0,    0}},
};
// clang-format on

// Longest any cell may take: the engine's own waits end after 3 s (frame waits of a calibration,
// the bandwidth test) or 2 s (the stop's drain); a cell beyond this hangs.
constexpr auto kCellBound = std::chrono::seconds(15);
// The offset sweep settles 50 ms at each of up to 32 settings and waits for a frame at each; under
// ThreadSanitizer on a busy machine that alone takes well over ten seconds.
constexpr auto kSweepBound = std::chrono::seconds(90);

// Under ThreadSanitizer every sample costs tens of times more, and on a busy machine one of the
// sweep's frames can miss its 3 s wait: the sweep then reports its documented time-out (-1),
// which such a build accepts; the bound and the engine's state afterwards are still checked.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSlowBuild = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif
#else
constexpr bool kSlowBuild = false;
#endif

constexpr uint32_t kLength = 1000;
constexpr uint32_t kNumber = 16;

bool WaitForFrame(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    while (DAQ_NewDataFrameAvailable() == 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::size_t PoolBytes(int32_t model) { return 16u * 2u * (model == 5 ? 0xA000u : 0x22000u); }

void ExpectNoResourcesHeld() {
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DRIVER_OPEN), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

// Brings the engine to the state the operation starts from, with no fault on.
void Prepare(Operation operation, int32_t model) {
    const uint32_t deviceId = ostrel_test::DeviceIdOfModel(model);
    ASSERT_EQ(SIM_SetBoards(&deviceId, 1), 0);
    // A sine around mid-scale on every input, so that the vertical-scale calibration has a span
    // to measure whichever input the board has selected (the simulated board centres it on its
    // own mid-scale, 2048 on the 12-bit model 7).
    for (int input = 0; input < 4; ++input) SIM_SetInputSignal(0, input, 0.0, 1000.0, 1.0e5, 0.0);
    if (operation == kOpen) return;
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    if (operation == kBandwidthTest || operation == kGeneratorUpdate) return;
    ASSERT_EQ(DAQ_ConfigAcquisition(kLength, kNumber), 0);
    if (operation == kRead || operation == kClose) {
        ASSERT_EQ(DAQ_StartAcquisition(), 0);
    }
    if (operation == kStream) {
        ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), 0);
    }
}

// A few frames read from a stream running when the fault came, then its stop: each read returns a
// frame (numbered upwards, losses counted) or, with the DMA stalled, DAQ_TIMEOUT; after the stop
// the reads end in DAQ_ENDED. Returns the stop's result.
int32_t StreamThroughFault(bool faultStallsDma) {
    std::vector<int16_t> lanes[4];
    for (auto &lane : lanes) lane.assign(kLength * kNumber, 0);
    int32_t frames = 0;
    uint64_t lastSequence = 0, validRecords = 0;
    auto read = [&](int32_t timeoutMs) {
        DAQ_FrameInfo info{};
        info.size = sizeof(info);
        const int32_t result = DAQ_StreamRead(lanes[0].data(), lanes[1].data(), lanes[2].data(),
                                              lanes[3].data(), kLength * kNumber, &info, timeoutMs);
        if (result == 0) {
            if (frames > 0) {
                EXPECT_GT(info.frameSequence, lastSequence);
            }
            validRecords += info.recordsValid;
            EXPECT_EQ(info.recordsLostTotal, (info.frameSequence + 1) * kNumber - validRecords)
                << "frame " << info.frameSequence;
            lastSequence = info.frameSequence;
            ++frames;
        }
        return result;
    };
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int32_t result = read(faultStallsDma ? 200 : 10000);
        EXPECT_TRUE(result == 0 || (faultStallsDma && result == DAQ_TIMEOUT)) << result;
    }
    if (!faultStallsDma) {
        EXPECT_GT(frames, 0) << "no frame came";
    }
    const int32_t stopped = DAQ_StreamStop();
    int32_t end = 0;
    for (int attempt = 0; attempt < 16 && end == 0; ++attempt) end = read(0);
    EXPECT_EQ(end, DAQ_ENDED);
    return stopped;
}

int32_t RunOperation(Operation operation, int32_t model, bool faultStallsDma) {
    std::vector<int16_t> lanes[4];
    switch (operation) {
        case kOpen: return DAQ_OpenDevice(0);
        case kConfigure: return DAQ_ConfigAcquisition(kLength, kNumber);
        case kStart: return DAQ_StartAcquisition();
        case kRead: {
            const auto bound = std::chrono::milliseconds(faultStallsDma ? 200 : 10000);
            const bool announced = WaitForFrame(bound);
            if (!faultStallsDma) {
                EXPECT_TRUE(announced) << "no frame announced";
            }
            for (auto &lane : lanes) lane.assign(kLength * kNumber, 0);
            return DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(),
                                      lanes[3].data());
        }
        case kCalibrateOffsets: return DAQ_Calibration_DCOffset();
        case kCalibrateScale: return DAQ_Calibration_VerticalScale();
        case kCalibrateOnce: return DAQ_SelfCalibrationOnce();
        case kBandwidthTest: {
            std::vector<uint8_t> pool(PoolBytes(model));
            float rate = 0.0f;
            return DAQ_DMABandwidthTest(pool.data(), &rate);
        }
        case kPoolCopy: {
            std::vector<uint8_t> pool(PoolBytes(model));
            return DAQ_CopyDMAPool(pool.data());
        }
        case kGeneratorUpdate: return AWG_UpdateWaveform(0);
        case kStream: return StreamThroughFault(faultStallsDma);
        case kClose: return DAQ_CloseDevice();
        default: return -100;
    }
}

// The engine after the cell: a close gives everything back, and a new open acquires frames.
void ExpectEngineWorks(int32_t model) {
    DAQ_CloseDevice();
    ExpectNoResourcesHeld();
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(kLength, kNumber), 0);
    EXPECT_TRUE(WaitForFrame(std::chrono::seconds(10))) << "no frame after the fault was cleared";
    std::vector<int16_t> lanes[4];
    for (auto &lane : lanes) lane.assign(kLength * kNumber, 0);
    EXPECT_EQ(
        DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(), lanes[3].data()), 0);
    std::vector<uint8_t> pool(PoolBytes(model));
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    EXPECT_EQ(DAQ_CopyDMAPool(pool.data()), 0);
    DAQ_CloseDevice();
    ExpectNoResourcesHeld();
}

// One cell per test, so that each runs in a process of its own and within the test time-out
// under the sanitizers.
struct Cell {
    Operation operation;
    const FaultRow *row;
};

std::vector<Cell> AllCells() {
    std::vector<Cell> cells;
    for (int operation = 0; operation < kOperationCount; ++operation) {
        for (const FaultRow &row : kMatrix) {
            cells.push_back({static_cast<Operation>(operation), &row});
        }
    }
    return cells;
}

std::string Identifier(std::string text) {
    for (char &c : text) {
        if (c == ' ') c = '_';
    }
    return text;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrix, ReturnsInTimeWithItsResultAndLeavesNothingBehind) {
    const Operation operation = GetParam().operation;
    const FaultRow &row = *GetParam().row;
    SCOPED_TRACE(std::string(row.name) + " x " + kOperationNames[operation] + " on model " +
                 std::to_string(row.model));
    SIM_Reset();
    SIM_SetDmaPacing(SIM_DMA_MAXRATE);
    Prepare(operation, row.model);
    ASSERT_EQ(SIM_SetFault(row.fault, kFaultStatus), 0);
    const auto start = Clock::now();
    const int32_t result = RunOperation(operation, row.model, row.fault == SIM_FAULT_DMA_STALL);
    const auto elapsed = Clock::now() - start;
    const int32_t expected = row.results[operation];
    const bool sweepTimedOut = operation == kCalibrateOffsets && result == -1 && kSlowBuild;
    if (!sweepTimedOut) {
        EXPECT_EQ(result, expected == kStatus ? static_cast<int32_t>(kFaultStatus) : expected);
    }
    EXPECT_LT(elapsed, operation == kCalibrateOffsets ? kSweepBound : kCellBound)
        << "the operation did not return in its bound";
    ASSERT_EQ(SIM_SetFault(row.fault, 0), 0);
    ExpectEngineWorks(row.model);
}

INSTANTIATE_TEST_SUITE_P(EveryFaultAndOperation, FaultMatrix, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<Cell> &info) {
                             return Identifier(std::string(kOperationNames[info.param.operation]) +
                                               "_x_" + info.param.row->name);
                         });

}  // namespace
