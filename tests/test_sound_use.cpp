// What an application does around the acquisition, done the way applications do it: calibrate and
// then read with the buffers it already has, save calibration where it cannot be saved, end the
// program without closing, fork while acquiring. None of it may overrun a buffer, hang, crash or
// report a failure as success.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"
#include "platform/os/os_services.h"
#include "support/guarded_buffer.h"
#include "support/open_model_board.h"

namespace {

using ostrel_test::GuardedBuffer;
using ostrel_test::OpenModel;

constexpr uint32_t kLength = 1024;
constexpr uint32_t kNumber = 64;
constexpr int16_t kNeverWritten = 0x7F7F;

double SecondsSince(int64_t start) {
    return static_cast<double>(ostrel::os::PerformanceCounter() - start) /
           static_cast<double>(ostrel::os::PerformanceFrequency());
}

bool WaitForFrame(double seconds) {
    const int64_t start = ostrel::os::PerformanceCounter();
    while (SecondsSince(start) < seconds) {
        if (DAQ_NewDataFrameAvailable() != 0) return true;
        ostrel::os::SleepMilliseconds(1);
    }
    return false;
}

// Lane buffers of exactly the caller's geometry, each ending against a protected page.
struct CallerLanes {
    explicit CallerLanes(size_t samples) {
        for (auto &lane : lanes) lane = std::make_unique<GuardedBuffer<int16_t>>(samples);
    }
    int32_t Read() {
        for (auto &lane : lanes) lane->Fill(kNeverWritten);
        return DAQ_GetLatestFrame(lanes[0]->data(), lanes[1]->data(), lanes[2]->data(),
                                  lanes[3]->data());
    }
    std::unique_ptr<GuardedBuffer<int16_t>> lanes[4];
};

using Procedure = int32_t (*)();
struct ProcedureCase {
    const char *name;
    Procedure run;
};
const ProcedureCase kCalibrations[] = {{"DC offset", DAQ_Calibration_DCOffset},
                                       {"vertical scale", DAQ_Calibration_VerticalScale},
                                       {"single self-calibration", DAQ_SelfCalibrationOnce}};

class SoundUse : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0); }
    void TearDown() override {
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

// Every model, every calibration: the application configures its geometry, acquires, calibrates,
// and goes on reading into the buffers it sized before. Both the readout right after the
// calibration and the frames of a new start fill exactly those buffers.
class CalibrationThenReadout : public SoundUse, public ::testing::WithParamInterface<int32_t> {};

TEST_P(CalibrationThenReadout, FitsTheCallersBuffers) {
    const int32_t model = GetParam();
    {
        for (const ProcedureCase &calibration : kCalibrations) {
            SCOPED_TRACE(testing::Message() << "model " << model << ", " << calibration.name);
            OpenModel(model);
            // A sine for the scale; calibrations need not succeed to be tested here.
            for (int input = 0; input < 4; ++input) SIM_SetInputSignal(0, input, 0, 1000, 1e5, 2);
            int32_t lanes = 0;
            ASSERT_EQ(DAQ_GetADCNumber(&lanes), 0);
            CallerLanes buffers(size_t{kLength} * kNumber);
            ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(kLength, kNumber), 0);
            ASSERT_TRUE(WaitForFrame(10.0));
            ASSERT_EQ(buffers.Read(), 0);

            const int32_t result = calibration.run();
            EXPECT_TRUE(result == 0 || result == -1) << result;
            EXPECT_EQ(ostrel::g_engine.acquisition.RecordLength, kLength);
            EXPECT_EQ(ostrel::g_engine.acquisition.RecordNumber, kNumber);
            ASSERT_EQ(buffers.Read(), 0) << "the readout right after the calibration";
            ASSERT_EQ(DAQ_StartAcquisition(), 0) << "the caller's geometry is configured";
            ASSERT_TRUE(WaitForFrame(10.0));
            ASSERT_EQ(buffers.Read(), 0);
            for (int32_t lane = 0; lane < lanes; ++lane) {
                EXPECT_EQ(buffers.lanes[lane]->CountOf(kNeverWritten), 0u) << "lane " << lane;
            }
            EXPECT_EQ(DAQ_StopAcquisition(), 0);
            DAQ_CloseDevice();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CalibrationThenReadout, ::testing::Values(5, 6, 7, 8, 9, 10),
                         [](const ::testing::TestParamInfo<int32_t> &info) {
                             return "Model" + std::to_string(info.param);
                         });

// A reader that the OS sets aside in the middle of a copy: meanwhile the thread laps the ring and
// recycles the very frame being copied. Nothing enters a held frame, so the copy is still whole,
// and a calibration (which passes over frames with records missing) still finds its frame at
// once instead of waiting out its bound on a busy machine.
void HoldUntilRecycled(int32_t frame) {
    const std::atomic<int32_t> &records = ostrel::g_engine.acquisition.Ring.FrameRecords[frame];
    const int64_t start = ostrel::os::PerformanceCounter();
    while (records.load() != 0 && SecondsSince(start) < 2.0) ostrel::os::SleepMilliseconds(1);
}

class SlowReader : public SoundUse, public ::testing::WithParamInterface<int32_t> {
protected:
    void TearDown() override {
        ostrel::ResetTestSeams();
        SoundUse::TearDown();
    }
};

TEST_P(SlowReader, StillGetsWholeFrames) {
    OpenModel(GetParam());
    ostrel::Seams().whileFrameHeld = HoldUntilRecycled;
    EXPECT_EQ(DAQ_SelfCalibrationOnce(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, SlowReader, ::testing::Values(5, 6, 7, 8, 9, 10),
                         [](const ::testing::TestParamInfo<int32_t> &info) {
                             return "Model" + std::to_string(info.param);
                         });

// A calibration of an application that configured nothing leaves nothing configured: the readout
// then copies nothing, whatever pointers it is given.
TEST_F(SoundUse, CalibrationWithoutAConfigurationLeavesNothingToRead) {
    OpenModel(9);
    ASSERT_EQ(DAQ_SelfCalibrationOnce(), 0);
    GuardedBuffer<int16_t> empty(0);
    EXPECT_EQ(DAQ_GetLatestFrame(empty.data(), empty.data(), empty.data(), empty.data()), 0);
    EXPECT_EQ(DAQ_StartAcquisition(), -1) << "nothing configured to acquire into";
}

// The card-data file cannot be written (a directory holds its name): the sweep's offsets are in
// force, and the result says the file was not written.
TEST_F(SoundUse, DcOffsetThatCannotSaveItsFileSaysSo) {
    OpenModel(6);
    namespace fs = std::filesystem;
    fs::remove("CardData_K9T3A.dat");
    fs::create_directory("CardData_K9T3A.dat");
    for (int lane = 0; lane < 2; ++lane) SIM_SetInputSignal(0, lane, 40.0, 0, 0, 0);
    EXPECT_EQ(DAQ_Calibration_DCOffset(), -2);
    EXPECT_TRUE(fs::is_directory("CardData_K9T3A.dat"));
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(kLength, kNumber), 0);
    ASSERT_TRUE(WaitForFrame(10.0));
    CallerLanes buffers(size_t{kLength} * kNumber);
    ASSERT_EQ(buffers.Read(), 0);
    // The zero errors and the 40 codes of the input are measured away on both lanes.
    for (int lane = 0; lane < 2; ++lane) {
        double sum = 0;
        for (size_t i = 0; i < buffers.lanes[lane]->size(); ++i) sum += buffers.lanes[lane]->data()[i];
        EXPECT_NEAR(sum / static_cast<double>(buffers.lanes[lane]->size()), 0.0, 2.0) << lane;
    }
    fs::remove_all("CardData_K9T3A.dat");
}

#if !defined(_WIN32)

// Runs body in a child process and returns its wait status, or -1 when it has not ended within
// the bound (it is then killed).
int RunInChild(void (*body)(), double boundSeconds) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    const int64_t start = ostrel::os::PerformanceCounter();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (SecondsSince(start) > boundSeconds) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        ostrel::os::SleepMilliseconds(5);
    }
    return status;
}

// A program that ends while acquiring, without closing: the engine stops its thread before the
// ring goes away. Each run is a fresh process that exits through the normal exit path.
TEST_F(SoundUse, ExitWhileAcquiringWithoutCloseEndsCleanly) {
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        const int status = RunInChild(
            [] {
                const uint32_t id = ostrel_test::DeviceIdOfModel(7);
                if (SIM_SetBoards(&id, 1) != 0 || DAQ_OpenDevice(0) != 0) _exit(3);
                if (DAQ_ConfigAcquisition_and_Start(1024, 64) != 0) _exit(4);
                ostrel::os::SleepMilliseconds(static_cast<uint32_t>(getpid() % 7));
                std::exit(0);  // static destruction with the thread still copying
            },
            20.0);
        ASSERT_NE(status, -1) << "the exit hung";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

// A child of a process that acquires has no acquisition thread: its close must not wait for one.
// The parent's acquisition goes on.
TEST_F(SoundUse, CloseInAForkedChildDoesNotWaitForTheParentsThread) {
    OpenModel(9);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(kLength, kNumber), 0);
    ASSERT_TRUE(WaitForFrame(10.0));
    const int status = RunInChild([] { _exit(DAQ_CloseDevice() == 0 ? 0 : 5); }, 20.0);
    ASSERT_NE(status, -1) << "the child's close hung";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    CallerLanes buffers(size_t{kLength} * kNumber);
    ASSERT_EQ(buffers.Read(), 0);  // clears the announcement
    ASSERT_TRUE(WaitForFrame(10.0)) << "the parent still acquires";
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
}

#endif

}  // namespace
