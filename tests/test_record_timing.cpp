// Record geometry, timing, indicator and counter exports on every model, checked against the
// simulated board's registers and the worked values of the record-length coding.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "platform/os/os_services.h"
#include "support/open_model_board.h"

namespace {

using ostrel_test::kModelBoards;
using ostrel_test::OpenModel;
using ostrel_test::RegisterAccess;
using ostrel_test::RegisterWrites;
using ostrel_test::StartRegisterLog;

// Register indices by model, written out from the board documentation (not from the engine).
struct ModelRegisters {
    int32_t model;
    int32_t recordLength, recordsInMemory, recordNumber, clockDivider, trigger, ledCode;
};
constexpr int32_t kNone = 0;
constexpr ModelRegisters kRegisters[] = {
    {5, -1024, -1022, -1020, -1018, -1016, -1004},
    {6, -2048, -2046, -2044, -2042, -2040, -2020},
    {7, -2048, -2046, -2044, -2042, -2040, -2030},
    {8, -2048, -2046, -2044, -2042, -2040, kNone},
    {9, -2048, -2046, -2044, -2042, -2040, -2012},
    {10, -2048, -2046, -2044, -2042, -2040, -2020},
};

const ModelRegisters &RegistersOf(int32_t model) {
    for (const ModelRegisters &registers : kRegisters) {
        if (registers.model == model) return registers;
    }
    return kRegisters[0];
}

TEST(RecordLength, WorkedValuesOnEveryModel) {
    const struct {
        int32_t model;
        uint32_t length;
        uint32_t written;
        uint32_t recordsInChunk;
        int32_t readBack;
    } cases[] = {
        {5, 1024, 1024, 39, 1024},  {5, 16384, 16384, 2, 16384}, {5, 100, 100, 401, 100},
        {6, 1000, 500, 69, 1000},   {7, 104, 13, 1243, 104},      {8, 8192, 8192, 4, 8192},
        {9, 1024, 256, 67, 1024},   {10, 1024, 256, 135, 512},   {10, 32768, 8192, 4, 16384},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", length " << c.length);
        OpenModel(c.model);
        const ModelRegisters &registers = RegistersOf(c.model);
        StartRegisterLog();
        EXPECT_EQ(DAQ_SetRecordLength(c.length), 0);
        // The length first, then the slots per chunk.
        const std::vector<RegisterAccess> expected = {{registers.recordLength, true, c.written},
                                                      {registers.recordsInMemory, true, c.recordsInChunk}};
        EXPECT_EQ(RegisterWrites(), expected);
        int32_t inChunk = -1;
        EXPECT_EQ(DAQ_GetRecordNumInMem(&inChunk), 0);
        EXPECT_EQ(inChunk, static_cast<int32_t>(c.recordsInChunk));
        int32_t length = -1;
        EXPECT_EQ(DAQ_GetRecordLength(&length), 0);
        EXPECT_EQ(length, c.readBack);
        DAQ_CloseDevice();
    }
}

TEST(RecordLength, MaximumIsAcceptedAndOneMoreIsRefused) {
    const struct {
        int32_t model;
        int32_t maximum;
    } cases[] = {{5, 16384}, {6, 16384}, {7, 16384}, {8, 8192}, {9, 16384}, {10, 32768}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        OpenModel(c.model);
        const ModelRegisters &registers = RegistersOf(c.model);
        int32_t maximum = 0;
        EXPECT_EQ(DAQ_GetMaxRecordLength(&maximum), 0);
        EXPECT_EQ(maximum, c.maximum);

        EXPECT_EQ(DAQ_SetRecordLength(static_cast<uint32_t>(c.maximum)), 0);
        const uint32_t lengthRegister = SIM_PeekRegister(0, registers.recordLength);
        const uint32_t chunkRegister = SIM_PeekRegister(0, registers.recordsInMemory);
        int32_t inChunk = 0;
        DAQ_GetRecordNumInMem(&inChunk);
        EXPECT_GT(inChunk, 0);

        StartRegisterLog();
        EXPECT_EQ(DAQ_SetRecordLength(static_cast<uint32_t>(c.maximum) + 1), -1);
        EXPECT_EQ(DAQ_SetRecordLength(0xFFFFFFFFu), -1);
        EXPECT_TRUE(RegisterWrites().empty());
        EXPECT_EQ(SIM_PeekRegister(0, registers.recordLength), lengthRegister);
        EXPECT_EQ(SIM_PeekRegister(0, registers.recordsInMemory), chunkRegister);
        int32_t after = 0;
        DAQ_GetRecordNumInMem(&after);
        EXPECT_EQ(after, inChunk);
        DAQ_CloseDevice();
    }
}

// The board counts the length in units of 4 points (models 6, 9, 10) or 8 (model 7); a length off
// that unit would be recorded shorter than the engine slices the buffer for. Every length in a
// stretch around 1000 on every model: the setter and both configuration exports take exactly the
// multiples of the unit and refuse the rest with no register written.
TEST(RecordLength, LengthsOffTheBoardsUnitAreRefusedEverywhere) {
    const struct {
        int32_t model;
        uint32_t unit;
    } cases[] = {{5, 1}, {6, 4}, {7, 8}, {8, 1}, {9, 4}, {10, 4}};
    for (const auto &c : cases) {
        OpenModel(c.model);
        for (uint32_t length = 992; length <= 1009; ++length) {
            SCOPED_TRACE(testing::Message() << "model " << c.model << ", length " << length);
            const bool onUnit = length % c.unit == 0;
            StartRegisterLog();
            EXPECT_EQ(DAQ_SetRecordLength(length), onUnit ? 0 : -1);
            EXPECT_EQ(RegisterWrites().empty(), !onUnit);
            EXPECT_EQ(DAQ_ConfigAcquisition(length, 4), onUnit ? 0 : -1);
            EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(length, 8), onUnit ? 0 : -1);
            if (onUnit) {
                int32_t readBack = 0;
                DAQ_GetRecordLength(&readBack);
                // Model 10 reports half the length it records.
                EXPECT_EQ(static_cast<uint32_t>(readBack), c.model == 10 ? length / 2 : length);
            }
            DAQ_StopAcquisition();
        }
        DAQ_CloseDevice();
    }
}

// While the thread acquires, the board's geometry is the one it was set up with: both setters are
// refused and write nothing, and frames keep coming.
TEST(RecordGeometry, SettersAreRefusedWhileAcquiring) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 16), 0);
        StartRegisterLog();
        EXPECT_EQ(DAQ_SetRecordLength(2048), -1);
        EXPECT_EQ(DAQ_SetRecordNumber(32), -1);
        EXPECT_TRUE(RegisterWrites().empty());
        int32_t frames = 0;
        for (int poll = 0; poll < 20000 && frames < 3; ++poll) {
            if (DAQ_NewDataFrameAvailable() != 0) {
                std::vector<int16_t> lanes(4 * 1024 * 16);
                DAQ_GetLatestFrame(lanes.data(), lanes.data() + 16384, lanes.data() + 2 * 16384,
                                   lanes.data() + 3 * 16384);
                ++frames;
            }
            ostrel::os::SleepMilliseconds(1);
        }
        EXPECT_EQ(frames, 3) << "frames keep coming";
        EXPECT_EQ(DAQ_StopAcquisition(), 0);
        EXPECT_EQ(DAQ_SetRecordLength(2048), 0) << "stopped, the setter works again";
        EXPECT_EQ(DAQ_SetRecordNumber(32), 0);
        DAQ_CloseDevice();
    }
}

TEST(RecordNumber, RegisterHoldsFourTimesTheCount) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        const int32_t index = RegistersOf(board.model).recordNumber;
        EXPECT_EQ(DAQ_SetRecordNumber(5), 0);
        EXPECT_EQ(SIM_PeekRegister(0, index), 20u);
        int32_t count = -1;
        EXPECT_EQ(DAQ_GetRecordNumber(&count), 0);
        EXPECT_EQ(count, 5);
        SIM_PokeRegister(0, index, 22);  // not a multiple of 4: rounded down
        EXPECT_EQ(DAQ_GetRecordNumber(&count), 0);
        EXPECT_EQ(count, 5);
        SIM_PokeRegister(0, index, 0xFFFFFFFCu);  // read as unsigned
        EXPECT_EQ(DAQ_GetRecordNumber(&count), 0);
        EXPECT_EQ(count, 0x3FFFFFFF);
        DAQ_CloseDevice();
    }
}

TEST(RecordCounters, StoredOnEveryModelAndWrittenOnModel9) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        StartRegisterLog();
        EXPECT_EQ(DAQ_SetRecordCounters(7, -8, 9, 10), 0);
        const auto &counters = ostrel::g_engine.geometry.RecordCounters;
        EXPECT_EQ(counters[0], 7);
        EXPECT_EQ(counters[1], -8);
        EXPECT_EQ(counters[2], 9);
        EXPECT_EQ(counters[3], 10);
        const std::vector<RegisterAccess> expected =
            board.model == 9 ? std::vector<RegisterAccess>{{-2020, true, 7}} : std::vector<RegisterAccess>{};
        EXPECT_EQ(RegisterWrites(), expected);
        DAQ_CloseDevice();
    }
}

TEST(Indicator, WrittenUnchangedExceptOnModel8) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        StartRegisterLog();
        EXPECT_EQ(DAQ_SetLEDCode(-3), 0);
        const int32_t index = RegistersOf(board.model).ledCode;
        const std::vector<RegisterAccess> expected =
            index == kNone ? std::vector<RegisterAccess>{}
                           : std::vector<RegisterAccess>{{index, true, 0xFFFFFFFDu}};
        EXPECT_EQ(RegisterWrites(), expected);
        DAQ_CloseDevice();
    }
}

TEST(Trigger, RoundTripThroughTheTriggerRegister) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        const int32_t index = RegistersOf(board.model).trigger;
        for (int32_t setting : {0, 1, 0x12345, -1}) {
            EXPECT_EQ(DAQ_SetTrigger(setting), 0);
            EXPECT_EQ(SIM_PeekRegister(0, index), static_cast<uint32_t>(setting));
            int32_t readBack = 99;
            EXPECT_EQ(DAQ_GetTrigger(&readBack), 0);
            EXPECT_EQ(readBack, setting);
        }
        DAQ_CloseDevice();
    }
}

TEST(SetterResult, WholeRegisterSettersReturnTheLastStatus) {
    OpenModel(9);
    ostrel::g_engine.discovery.LastStatus = 0x2000000E;  // whatever the last driver call left
    EXPECT_EQ(DAQ_SetTrigger(1), 0x2000000E);
    EXPECT_EQ(DAQ_SetSamplingRate(1), 0x2000000E);
    EXPECT_EQ(DAQ_SetRecordNumber(1), 0x2000000E);
    EXPECT_EQ(DAQ_SetLEDCode(1), 0x2000000E);
    // Record length and counters report 0 whatever the writes returned.
    EXPECT_EQ(DAQ_SetRecordLength(1024), 0);
    EXPECT_EQ(DAQ_SetRecordCounters(1, 2, 3, 4), 0);
    ostrel::g_engine.discovery.LastStatus = 0;
    DAQ_CloseDevice();
}

TEST(SamplingRate, DividerCodeAndRateTable) {
    const struct {
        int32_t model;
        int32_t count;
        int32_t code;
        float rate;
    } cases[] = {{5, 21, 20, 0.5f}, {5, 21, 7, 12.5f}, {6, 6, 2, 150.0f}, {7, 6, 5, 500.0f},
                 {8, 16, 3, 37.5f}, {8, 16, 15, 1.0f}, {9, 6, 0, 250.0f}, {10, 6, 4, 250.0f}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", code " << c.code);
        OpenModel(c.model);
        EXPECT_EQ(DAQ_SetSamplingRate(c.code), 0);
        EXPECT_EQ(SIM_PeekRegister(0, RegistersOf(c.model).clockDivider), static_cast<uint32_t>(c.code));
        int32_t divider = -1;
        EXPECT_EQ(DAQ_GetClockDivider(&divider), 0);
        EXPECT_EQ(divider, c.code);
        uint32_t code = 99;
        float rate = -1.0f;
        EXPECT_EQ(DAQ_GetSamplingRate(&code, &rate), 0);
        EXPECT_EQ(code, static_cast<uint32_t>(c.code));
        EXPECT_FLOAT_EQ(rate, c.rate);
        int32_t count = -1;
        EXPECT_EQ(DAQ_CheckSamplingRates(c.code, &rate, &count), 0);
        EXPECT_FLOAT_EQ(rate, c.rate);
        EXPECT_EQ(count, c.count);
        DAQ_CloseDevice();
    }
}

TEST(SamplingRate, CodesOutsideTheTableAreRefused) {
    OpenModel(5);
    for (int32_t index : {-1, 21, 22, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(testing::Message() << "index " << index);
        float rate = -7.0f;
        int32_t count = -7;
        EXPECT_EQ(DAQ_CheckSamplingRates(index, &rate, &count), -1);
        EXPECT_EQ(rate, -7.0f);
        EXPECT_EQ(count, -7);
    }
    // The board holds a code beyond the table: nothing is reported, not even the code.
    for (uint32_t code : {21u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << "register " << code);
        SIM_PokeRegister(0, -1018, code);
        uint32_t divider = 3;
        float rate = -7.0f;
        EXPECT_EQ(DAQ_GetSamplingRate(&divider, &rate), -1);
        EXPECT_EQ(divider, 3u);
        EXPECT_EQ(rate, -7.0f);
    }
    DAQ_CloseDevice();
}

TEST(ModelConstants, ReportedPerModel) {
    const struct {
        int32_t model;
        int32_t lanes, chunkPoints;
        int16_t trailer, info;
    } cases[] = {{5, 1, 40960, 2, 1},  {6, 2, 139264, 4, 1}, {7, 1, 139264, 8, 1},
                 {8, 4, 139264, 4, 1}, {9, 2, 139264, 8, 2}, {10, 1, 139264, 4, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        OpenModel(c.model);
        StartRegisterLog();
        int32_t lanes = 0, chunkPoints = 0;
        int16_t trailer = 0, info = 0, chunks = 0;
        EXPECT_EQ(DAQ_GetADCNumber(&lanes), 0);
        EXPECT_EQ(DAQ_GetDMATransferPoints(&chunkPoints), 0);
        EXPECT_EQ(DAQ_GetDMAInfo(&trailer, &info, &chunks), 0);
        EXPECT_EQ(lanes, c.lanes);
        EXPECT_EQ(chunkPoints, c.chunkPoints);
        EXPECT_EQ(trailer, c.trailer);
        EXPECT_EQ(info, c.info);
        EXPECT_EQ(chunks, 16);
        EXPECT_TRUE(ostrel_test::RegisterLog().empty()) << "the constants come from the engine state";
        DAQ_CloseDevice();
    }
}

TEST(BeforeOpen, RegisterExportsSkipTheBoardAndConstantsAreZero) {
    int32_t value = 77;
    EXPECT_EQ(DAQ_GetRecordLength(&value), 0);
    EXPECT_EQ(DAQ_GetRecordNumber(&value), 0);
    EXPECT_EQ(DAQ_GetTrigger(&value), 0);
    EXPECT_EQ(DAQ_GetClockDivider(&value), 0);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(DAQ_SetSamplingRate(3), 0);
    EXPECT_EQ(DAQ_SetTrigger(3), 0);
    EXPECT_EQ(DAQ_SetLEDCode(3), 0);
    EXPECT_EQ(DAQ_SetRecordNumber(3), 0);
    EXPECT_EQ(DAQ_SetRecordLength(0), 0);
    int32_t inChunk = 5;
    EXPECT_EQ(DAQ_GetRecordNumInMem(&inChunk), 0);
    EXPECT_EQ(inChunk, 0) << "a length of 0 is not above the (zero) maximum, but no model codes it";
    int32_t maximum = 5, lanes = 5, chunkPoints = 5;
    EXPECT_EQ(DAQ_GetMaxRecordLength(&maximum), 0);
    EXPECT_EQ(DAQ_GetADCNumber(&lanes), 0);
    EXPECT_EQ(DAQ_GetDMATransferPoints(&chunkPoints), 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(lanes, 0);
    EXPECT_EQ(chunkPoints, 0);
    // No register: the rate is looked up at the code the caller's variable holds.
    uint32_t code = 2;
    float rate = -1.0f;
    EXPECT_EQ(DAQ_GetSamplingRate(&code, &rate), 0);
    EXPECT_EQ(code, 2u);
    EXPECT_EQ(rate, 0.0f);
    code = 21;
    EXPECT_EQ(DAQ_GetSamplingRate(&code, &rate), -1);
}

TEST(UnrecognisedBoard, NoRegisterIsTouched) {
    ostrel_test::OpenBoardWithId(0xA003);
    ASSERT_EQ(ostrel::g_engine.model.ModelType, -1);
    StartRegisterLog();
    int32_t value = 77;
    EXPECT_EQ(DAQ_SetRecordLength(0), 0);
    EXPECT_EQ(DAQ_GetRecordLength(&value), 0);
    EXPECT_EQ(DAQ_SetRecordNumber(4), 0);
    EXPECT_EQ(DAQ_GetRecordNumber(&value), 0);
    EXPECT_EQ(DAQ_SetTrigger(4), 0);
    EXPECT_EQ(DAQ_GetTrigger(&value), 0);
    EXPECT_EQ(DAQ_SetSamplingRate(4), 0);
    EXPECT_EQ(DAQ_GetClockDivider(&value), 0);
    EXPECT_EQ(DAQ_SetLEDCode(4), 0);
    EXPECT_EQ(DAQ_SetRecordCounters(4, 4, 4, 4), 0);
    EXPECT_EQ(value, 77);
    EXPECT_TRUE(ostrel_test::RegisterLog().empty());
    DAQ_CloseDevice();
}

TEST(NullPointers, RefusedWithNothingWritten) {
    OpenModel(8);
    float rate = 1.0f;
    int32_t count = 1;
    uint32_t code = 1;
    int16_t a = 1, b = 1, c = 1;
    EXPECT_EQ(DAQ_GetRecordLength(nullptr), -1);
    EXPECT_EQ(DAQ_GetRecordNumber(nullptr), -1);
    EXPECT_EQ(DAQ_GetTrigger(nullptr), -1);
    EXPECT_EQ(DAQ_GetClockDivider(nullptr), -1);
    EXPECT_EQ(DAQ_GetSamplingRate(nullptr, &rate), -1);
    EXPECT_EQ(DAQ_GetSamplingRate(&code, nullptr), -1);
    EXPECT_EQ(DAQ_CheckSamplingRates(0, nullptr, &count), -1);
    EXPECT_EQ(DAQ_CheckSamplingRates(0, &rate, nullptr), -1);
    EXPECT_EQ(DAQ_GetMaxRecordLength(nullptr), -1);
    EXPECT_EQ(DAQ_GetRecordNumInMem(nullptr), -1);
    EXPECT_EQ(DAQ_GetDMATransferPoints(nullptr), -1);
    EXPECT_EQ(DAQ_GetADCNumber(nullptr), -1);
    EXPECT_EQ(DAQ_GetDMAInfo(nullptr, &b, &c), -1);
    EXPECT_EQ(DAQ_GetDMAInfo(&a, nullptr, &c), -1);
    EXPECT_EQ(DAQ_GetDMAInfo(&a, &b, nullptr), -1);
    EXPECT_EQ(rate, 1.0f);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(a + b + c, 3);
    DAQ_CloseDevice();
}

TEST(AfterClose, GettersLeaveTheirArgumentsAlone) {
    OpenModel(6);
    DAQ_SetTrigger(5);
    DAQ_CloseDevice();
    int32_t value = 77;
    EXPECT_EQ(DAQ_GetTrigger(&value), 0);
    EXPECT_EQ(DAQ_GetRecordLength(&value), 0);
    EXPECT_EQ(value, 77);
}

}  // namespace
