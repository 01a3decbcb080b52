// The control-register window in BAR 0 and the BAR 2 word accesses, checked against the
// simulated board's own view of its memory and its access log.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"
#include "support/board_scenario.h"

namespace {

using ostrel::g_engine;
using ostrel::test::AccessLog;
using ostrel::test::UseBoards;

TEST(RegisterWindow, ByteOffsetsLieBelowTheBase) {
    g_engine.model.RegisterBase = 0x8000000;
    const struct {
        int32_t index;
        uint64_t offset;
    } rows[] = {
        {-2048, 0x7FFF000}, {-2022, 0x7FFF034}, {-1024, 0x7FFF800}, {-1004, 0x7FFF828},
        {-2, 0x7FFFFFC},    {0, 0x8000000},     {1, 0x8000002},     {0x100, 0x8000200},
        // The doubled index is a 32-bit product, sign-extended before the 64-bit addition.
        {INT32_MIN, 0x8000000}, {0x40000000, 0xFFFFFFFF88000000ull}, {INT32_MAX, 0x7FFFFFE},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(ostrel::RegisterByteOffset(row.index), row.offset) << "index " << row.index;
    }
}

TEST(RegisterWindow, WriteReachesTheBoardAtTheIndexOffset) {
    UseBoards({0xA005});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    SIM_SetAccessLog(1);
    EXPECT_EQ(WriteMemory32(-2048, 0x12345678), 0);
    EXPECT_EQ(SIM_PeekBar(0, 0, 0x7FFF000, 4), 0x12345678u);
    EXPECT_EQ(SIM_PeekRegister(0, -2048), 0x12345678u);

    const std::vector<SimAccess> log = AccessLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].space, 0u);
    EXPECT_EQ(log[0].offset, 0x7FFF000u);
    EXPECT_EQ(log[0].width, 4u);
    EXPECT_EQ(log[0].write, 1u);
    EXPECT_EQ(log[0].value, 0x12345678u);
}

TEST(RegisterWindow, RegistersRoundTripThroughTheBoard) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const struct {
        int32_t index;
        uint32_t value;
    } rows[] = {{-2048, 0xDEADBEEF}, {-2022, 0x3}, {-2012, 0x80000001}, {-1024, 0x55AA55AA},
                {-1004, 0}, {-2, 0xFFFFFFFF}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "index " << row.index);
        EXPECT_EQ(WriteMemory32(row.index, row.value), 0);
        EXPECT_EQ(SIM_PeekRegister(0, row.index), row.value);
        uint32_t read = ~row.value;
        EXPECT_EQ(ReadMemory32(row.index, &read), 0);
        EXPECT_EQ(read, row.value);

        // And what the board holds is what the engine reads.
        ASSERT_EQ(SIM_PokeRegister(0, row.index, row.value ^ 0x0F0F0F0F), 0);
        EXPECT_EQ(ReadMemory32(row.index, &read), 0);
        EXPECT_EQ(read, row.value ^ 0x0F0F0F0F);
    }
}

TEST(RegisterWindow, WithoutAnOpenBoardNothingIsAccessed) {
    uint32_t value = 0xABCD;
    EXPECT_EQ(ReadMemory32(-2048, &value), 0);
    EXPECT_EQ(value, 0xABCDu);
    EXPECT_EQ(WriteMemory32(-2048, 1), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_WriteAddr32"), 0);

    // After a close as well.
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    const int reads = SIM_GetCallCount("WDC_ReadAddr32");
    const int writes = SIM_GetCallCount("WDC_WriteAddr32");
    EXPECT_EQ(ReadMemory32(-2048, &value), 0);
    EXPECT_EQ(value, 0xABCDu);
    EXPECT_EQ(WriteMemory32(-2048, 1), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), reads);
    EXPECT_EQ(SIM_GetCallCount("WDC_WriteAddr32"), writes);
}

TEST(RegisterWindow, ExportsReturnTheLastStatusUnchanged) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    g_engine.discovery.LastStatus = -3;
    uint32_t value = 0;
    EXPECT_EQ(WriteMemory32(-2040, 5), -3);
    EXPECT_EQ(ReadMemory32(-2040, &value), -3);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(g_engine.discovery.LastStatus, -3);
}

TEST(RegisterWindow, Bar2WordIsWrittenAsFourBytesLowestFirst) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    const struct {
        uint32_t offset;
        uint32_t value;
        uint8_t bytes[4];
    } rows[] = {{0x600002C, 0x80004000, {0x00, 0x40, 0x00, 0x80}},
                {0x1004, 0x00000000, {0x00, 0x00, 0x00, 0x00}},
                {0x2000, 0x11223344, {0x44, 0x33, 0x22, 0x11}}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "offset 0x" << std::hex << row.offset);
        SIM_ClearAccessLog();
        SIM_SetAccessLog(1);
        ostrel::WriteBar32(handle, 2, row.offset, row.value);
        SIM_SetAccessLog(0);
        const std::vector<SimAccess> log = AccessLog();
        ASSERT_EQ(log.size(), 4u);
        for (uint32_t byte = 0; byte < 4; ++byte) {
            SCOPED_TRACE(byte);
            EXPECT_EQ(log[byte].space, 2u);
            EXPECT_EQ(log[byte].offset, uint64_t{row.offset} + byte);
            EXPECT_EQ(log[byte].width, 1u);
            EXPECT_EQ(log[byte].write, 1u);
            EXPECT_EQ(log[byte].value, row.bytes[byte]);
        }
    }
    // Plain BAR 2 memory holds the assembled word.
    EXPECT_EQ(SIM_PeekBar(0, 2, 0x2000, 4), 0x11223344u);
}

TEST(RegisterWindow, Bar2WordReadsBackWhatWasWritten) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    ostrel::WriteBar32(handle, 2, 0x3000, 0xA1B2C3D4);
    SIM_SetAccessLog(1);
    EXPECT_EQ(ostrel::ReadBar32(handle, 2, 0x3000), 0xA1B2C3D4u);
    const std::vector<SimAccess> log = AccessLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].width, 4u);
    EXPECT_EQ(log[0].write, 0u);
    // Beyond the end of BAR 2 nothing is delivered: the word preset to 0 comes back.
    EXPECT_EQ(ostrel::ReadBar32(handle, 2, 0xFFFFFFF0), 0u);
}

TEST(RegisterWindow, Bar2AccessesWithoutAHandleDoNothing) {
    EXPECT_EQ(ostrel::ReadBar32(nullptr, 2, 0x1000), 0u);
    ostrel::WriteBar32(nullptr, 2, 0x1000, 0xFFFFFFFC);
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_WriteAddr8"), 0);
}

}  // namespace
