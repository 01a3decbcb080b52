// DMA lock and teardown, and the acquisition set-up: records per frame, slicing, slot table,
// translation window and dispatcher programming, refusals, resources on the simulated bus.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "acquisition/record_tag.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"
#include "support/open_model_board.h"

namespace {

using ostrel::g_engine;
using ostrel_test::OpenModel;

int Resources(int resource) { return SIM_GetResourceCount(resource); }

// BAR 2 accesses of the engine as 32-bit words: the byte writes of one WriteBar32 joined.
struct Bar2Access {
    bool write;
    uint32_t offset;
    uint32_t value;
};
bool operator==(const Bar2Access &a, const Bar2Access &b) {
    return a.write == b.write && a.offset == b.offset && (!a.write || a.value == b.value);
}
void PrintTo(const Bar2Access &access, std::ostream *out) {
    *out << (access.write ? "W 0x" : "R 0x") << std::hex << access.offset << " = 0x"
         << access.value;
}

std::vector<Bar2Access> Bar2Log() {
    std::vector<SimAccess> raw(1 << 16);
    const int count = SIM_GetAccessLog(raw.data(), static_cast<int>(raw.size()));
    std::vector<Bar2Access> accesses;
    for (int i = 0; i < count; ++i) {
        const SimAccess &access = raw[static_cast<size_t>(i)];
        if (access.space != 2) continue;
        const uint32_t offset = static_cast<uint32_t>(access.offset);
        if (access.write && access.width == 1 && (offset & 3u) != 0 && !accesses.empty() &&
            accesses.back().write && accesses.back().offset == (offset & ~3u)) {
            accesses.back().value |= access.value << (8 * (offset & 3u));
            continue;
        }
        accesses.push_back({access.write != 0, offset, access.value});
    }
    return accesses;
}

int LoggedAccesses() {
    std::vector<SimAccess> raw(1 << 16);
    return SIM_GetAccessLog(raw.data(), static_cast<int>(raw.size()));
}

uint32_t RecordNumberRegister(int32_t model) {
    return SIM_PeekRegister(0, model == 5 ? -1020 : -2044);
}

TEST(AcquisitionSetUp, RecordsPerFrameAreRaisedToTheMinimumFrame) {
    // Records per frame: the request when it holds at least 0x80000 points, otherwise
    // 0x80000 / lanes / record length.
    const struct {
        int32_t model;
        uint32_t length, number;
        uint32_t recordsPerFrame, recordPoints, recordsInChunk, dmaSlots, ringSlots;
    } cases[] = {
        {5, 1000, 10, 524, 1000, 40, 640, 2096},       // raised
        {6, 4096, 64, 64, 8192, 16, 256, 256},         // exactly 0x80000 points: not raised
        {8, 1024, 16, 128, 4096, 33, 528, 512},        // four lanes
        {7, 104, 1, 5041, 104, 1243, 19888, 20164},    // 13 of model 7's 8-point units
        {9, 1024, 1000, 1000, 2048, 67, 1072, 4000},
        {10, 64, 1, 8192, 64, 2048, 32768, 32768},     // slot count a multiple of the ring's
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", " << c.length << " x "
                                        << c.number);
        OpenModel(c.model);
        ASSERT_EQ(DAQ_ConfigAcquisition(c.length, c.number), 0);
        const ostrel::AcquisitionState &acquisition = g_engine.acquisition;
        EXPECT_EQ(RecordNumberRegister(c.model), c.recordsPerFrame * 4);
        EXPECT_EQ(acquisition.RecordsPerFrame, c.recordsPerFrame);
        EXPECT_EQ(acquisition.RecordNumber, c.number) << "the request is kept as given";
        EXPECT_EQ(acquisition.RecordLength, c.length);
        EXPECT_EQ(acquisition.RecordPoints, c.recordPoints);
        EXPECT_EQ(g_engine.geometry.RecordNumInMem, c.recordsInChunk);
        EXPECT_EQ(acquisition.DmaSlotCount, c.dmaSlots);
        EXPECT_EQ(acquisition.RingSlotCount, c.ringSlots);
        EXPECT_TRUE(acquisition.HostBuffersAllocated);
        EXPECT_EQ(acquisition.Ring.LatestFrameStart.load(), 0u);
        DAQ_CloseDevice();
    }
}

TEST(AcquisitionSetUp, SlotTrailersFollowTheBoardsLayout) {
    OpenModel(5);  // 40960-point chunks, 2 trailer points
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    const ostrel::AcquisitionState &acquisition = g_engine.acquisition;
    const uint8_t *base = acquisition.DmaBuffer;
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(acquisition.ChunkPoints, 40960u);
    EXPECT_EQ(acquisition.ChunkBytes, 81920u);
    EXPECT_EQ(acquisition.SlotTrailers[0] - base, 2 * 1000);
    EXPECT_EQ(acquisition.SlotTrailers[1] - base, 2 * (1002 + 1000));
    EXPECT_EQ(acquisition.SlotTrailers[40] - base, 2 * (40960 + 1000));
    EXPECT_EQ(acquisition.SlotTrailers[639] - base, 2 * (15 * 40960 + 39 * 1002 + 1000));
    // Every slot starts empty: no tag the board can write.
    for (uint32_t slot = 0; slot < acquisition.DmaSlotCount; ++slot) {
        ASSERT_EQ(ostrel::LoadRecordTag(acquisition.SlotTrailers[slot]), 0xFFFFFFFFu) << slot;
    }
}

TEST(AcquisitionSetUp, ProgramsTheTranslationWindowAndResetsTheDispatcher) {
    OpenModel(6);
    ostrel_test::StartRegisterLog();
    ASSERT_EQ(DAQ_ConfigAcquisition(4096, 64), 0);
    const std::vector<Bar2Access> log = Bar2Log();
    ASSERT_GE(log.size(), 2u);
    const uint32_t mask = log[1].value;  // the window's reply to 0xFFFFFFFC
    const ostrel::AcquisitionState &acquisition = g_engine.acquisition;
    const uint64_t busAddress = acquisition.DmaRecord->Page[0].pPhysicalAddr;
    const std::vector<Bar2Access> expected = {
        {true, 0x1000, 0xFFFFFFFC},
        {false, 0x1000, 0},
        {true, 0x1000, static_cast<uint32_t>(busAddress & mask)},
        {true, 0x1004, 0},
        {false, 0x6000000, 0},
        {true, 0x6000004, 0x2},
        {true, 0x6000000, 0},
        {true, 0x6000004, 0x10},
        {false, 0x6000000, 0},
        {false, 0x6000004, 0},
        {true, 0x6000004, log.size() > 10 ? log[9].value | 0x10 : 0x10},
        {false, 0x6000000, 0},
        {true, 0x6000000, 0},
        {false, 0x6000000, 0},
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(acquisition.TranslationMask, mask);
    EXPECT_EQ(acquisition.DmaSourceAddress, 0x8000000u);
    for (uint32_t chunk = 0; chunk < 16; ++chunk) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(acquisition.ChunkTargets[chunk],
                  static_cast<uint32_t>((busAddress + chunk * 278528u) & ~uint64_t{mask}));
    }
}

TEST(AcquisitionSetUp, RequestsTheBoardCannotTakeAreRefusedBeforeAnythingChanges) {
    const struct {
        bool andStart;
        uint32_t length, number;
    } cases[] = {
        {false, 16385, 10},       // above MaxRecordLength of model 5
        {true, 16385, 10},
        {false, 0xFFFFFFFF, 1},
        {false, 1024, 0x40000000},  // four times the records per frame overflows 32 bits
        {false, 1024, 1u << 22},    // 2^32 points: a 32-bit product would wrap to 0
        {true, 16384, 40000},       // a 5 GB ring
        {false, 16384, 0xFFFFFFFF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.andStart ? "and start " : "") << c.length << " x "
                                        << c.number);
        OpenModel(5);
        ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
        const ostrel::AcquisitionState &acquisition = g_engine.acquisition;
        const int16_t *ring = acquisition.FrameRing.get();
        const uint32_t lengthRegister = SIM_PeekRegister(0, -1024);
        ostrel_test::StartRegisterLog();
        const int32_t result = c.andStart ? DAQ_ConfigAcquisition_and_Start(c.length, c.number)
                                          : DAQ_ConfigAcquisition(c.length, c.number);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(acquisition.RecordLength, 1000u);
        EXPECT_EQ(acquisition.RecordNumber, 10u);
        EXPECT_EQ(acquisition.RecordsPerFrame, 524u);
        EXPECT_EQ(acquisition.FrameRing.get(), ring);
        EXPECT_TRUE(acquisition.HostBuffersAllocated);
        EXPECT_TRUE(acquisition.ThreadStopped.load());
        EXPECT_EQ(SIM_PeekRegister(0, -1024), lengthRegister);
        EXPECT_EQ(LoggedAccesses(), 0) << "no access to the board at all";
        DAQ_CloseDevice();
    }
}

TEST(AcquisitionSetUp, TooShortRecordsAreRefused) {
    const struct {
        bool andStart;
        uint32_t length;
        int32_t expected;
    } cases[] = {{false, 31, -1}, {false, 32, 0}, {true, 99, -1}, {false, 0, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.andStart ? "and start " : "") << c.length);
        OpenModel(5);
        const int32_t result = c.andStart ? DAQ_ConfigAcquisition_and_Start(c.length, 16)
                                          : DAQ_ConfigAcquisition(c.length, 16);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(g_engine.acquisition.HostBuffersAllocated, c.expected == 0);
        EXPECT_EQ(g_engine.acquisition.RecordLength, c.expected == 0 ? c.length : 0u);
        EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
        DAQ_CloseDevice();
    }
}

TEST(AcquisitionSetUp, TheSameRequestAgainTouchesNothing) {
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    const int16_t *ring = g_engine.acquisition.FrameRing.get();
    ostrel_test::StartRegisterLog();
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    EXPECT_EQ(LoggedAccesses(), 0);
    EXPECT_EQ(g_engine.acquisition.FrameRing.get(), ring);
    // A different request is configured.
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 11), 0);
    EXPECT_GT(LoggedAccesses(), 0);
    EXPECT_EQ(g_engine.acquisition.RecordNumber, 11u);
}

TEST(AcquisitionSetUp, NothingIsConfiguredOrStartedWithoutALockedBuffer) {
    const uint32_t id = 0xA001;
    ASSERT_EQ(SIM_SetBoards(&id, 1), 0);
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 10), -1) << "no board open";
    EXPECT_EQ(DAQ_StartAcquisition(), -1);

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_LOCK, WD_INSUFFICIENT_RESOURCES), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), -4);
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 10), -1);
    EXPECT_FALSE(g_engine.acquisition.HostBuffersAllocated);
    EXPECT_EQ(g_engine.acquisition.RecordNumber, 10u) << "the request is taken before the set-up";
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 10), -1) << "a failed request is tried again";
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(1000, 10), -1);
    const uint32_t led = SIM_PeekRegister(0, -1004);
    SIM_PokeRegister(0, -1004, 7);
    EXPECT_EQ(DAQ_StartAcquisition(), -1);
    EXPECT_EQ(SIM_PeekRegister(0, -1004), 7u) << "a refused start leaves the indicator";
    SIM_PokeRegister(0, -1004, led);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    std::vector<int16_t> lane0(10000, 0x1234);
    EXPECT_EQ(DAQ_GetLatestFrame(lane0.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lane0, std::vector<int16_t>(10000, 0x1234));
    DAQ_CloseDevice();
}

bool FailingThreadStarter(ostrel::os::ThreadBody, void *) { return false; }

TEST(AcquisitionSetUp, AThreadThatCannotBeCreatedLeavesTheAcquisitionStopped) {
    OpenModel(5);
    ostrel::Seams().startThread = FailingThreadStarter;
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(1000, 10), -1);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(DAQ_StartAcquisition(), -1);
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(DAQ_StopAcquisition(), 0) << "returns at once";
    ostrel::ResetTestSeams();
    DAQ_CloseDevice();
}

TEST(DmaBuffer, OpenLocksAndCloseReleasesOnce) {
    OpenModel(9);
    EXPECT_TRUE(g_engine.acquisition.DmaBufferLocked);
    EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 1);
    EXPECT_EQ(g_engine.acquisition.DmaRecord->dwBytes, 0x1000000u);
    ASSERT_EQ(DAQ_ConfigAcquisition(1024, 100), 0);

    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 0);
    EXPECT_FALSE(g_engine.acquisition.HostBuffersAllocated);
    EXPECT_EQ(g_engine.acquisition.FrameRing.get(), nullptr);
    EXPECT_EQ(SIM_GetCallCount("WDC_DMABufUnlock"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_ControlDeviceRequest"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_ControlDeviceClose"), 1);

    DAQ_CloseDevice();  // releases nothing more
    EXPECT_EQ(SIM_GetCallCount("WDC_DMABufUnlock"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_ControlDeviceRequest"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_ControlDeviceClose"), 1);
}

TEST(DmaBuffer, FailedLocksReleaseWhatTheyHeldAtClose) {
    const struct {
        int fault;
        int32_t expected;
        int controlDevicesHeld;
    } cases[] = {{SIM_FAULT_CONTROL_DEVICE, -3, 0}, {SIM_FAULT_DMA_LOCK, -4, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "fault " << c.fault);
        const uint32_t id = 0xA002;
        ASSERT_EQ(SIM_SetBoards(&id, 1), 0);
        ASSERT_EQ(SIM_SetFault(c.fault, WD_INSUFFICIENT_RESOURCES), 0);
        EXPECT_EQ(DAQ_OpenDevice(0), c.expected);
        EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), c.controlDevicesHeld);
        EXPECT_FALSE(g_engine.acquisition.DmaBufferLocked);
        ASSERT_EQ(SIM_SetFault(c.fault, 0), 0);
        DAQ_CloseDevice();
        EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 0);
    }
}

TEST(DmaBuffer, ASecondOpenWithoutCloseKeepsOneBufferAndOneControlDevice) {
    OpenModel(8);
    ASSERT_EQ(DAQ_ConfigAcquisition(1024, 16), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 1);
    EXPECT_FALSE(g_engine.acquisition.HostBuffersAllocated)
        << "the slot table of the released buffer is gone";
    EXPECT_EQ(DAQ_ConfigAcquisition(1024, 16), 0) << "configured again on the new buffer";
    DAQ_CloseDevice();
    EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

TEST(DmaBuffer, TheFirstConfigurationAfterAReopenIsNeverSkipped) {
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    DAQ_CloseDevice();
    EXPECT_EQ(g_engine.acquisition.RecordLength, 0u);
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    SIM_PokeRegister(0, -1020, 0);
    EXPECT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    EXPECT_EQ(SIM_PeekRegister(0, -1020), 2096u);
    EXPECT_TRUE(g_engine.acquisition.HostBuffersAllocated);
    DAQ_CloseDevice();
}

}  // namespace
