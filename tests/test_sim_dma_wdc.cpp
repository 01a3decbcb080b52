// The simulated boards' DMA path as the engine reaches it: through the driver-access contract
// (byte-wise BAR 2 writes, 32-bit reads, a locked 16 MiB buffer) and the SIM_* controls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

constexpr uint32_t kBufferBytes = 0x1000000;
constexpr uint32_t kChunkBytes = 278528;  // every model but 5
constexpr uint32_t kStatus = 0x6000000;

WDC_DEVICE_HANDLE OpenBoard(int board) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = static_cast<uint32_t>(board) + 1;
    EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr), 0u);
    return handle;
}

void WriteBar32(WDC_DEVICE_HANDLE handle, uint32_t offset, uint32_t value) {
    for (uint32_t byte = 0; byte < 4; ++byte) {
        WDC_WriteAddr8(handle, 2, offset + byte, static_cast<uint8_t>(value >> (8 * byte)));
    }
}

uint32_t ReadBar32(WDC_DEVICE_HANDLE handle, uint32_t offset) {
    uint32_t value = 0;
    WDC_ReadAddr32(handle, 2, offset, &value);
    return value;
}

// A board opened with its DMA buffer locked, the window and the dispatcher programmed as the
// engine's set-up does, and the record geometry written through the register window.
struct OpenedBoard {
    WDC_DEVICE_HANDLE handle = nullptr;
    WD_DMA *dma = nullptr;
    uint8_t *user = nullptr;
    uint64_t bus = 0;
    uint32_t mask = 0;

    // Model 5 keeps its registers at 0x7FFF800, the others at 0x7FFF000.
    OpenedBoard(int board, uint32_t recordLengthRegister, uint32_t recordsInMemory,
                uint32_t recordNumber, uint32_t divider = 0, uint32_t registerBlock = 0x7FFF000) {
        handle = OpenBoard(board);
        void *address = nullptr;
        EXPECT_EQ(WDC_DMAContigBufLock(handle, &address, DMA_FROM_DEVICE_CONTIG, kBufferBytes, &dma),
                  0u);
        user = static_cast<uint8_t *>(address);
        bus = dma->Page[0].pPhysicalAddr;
        WDC_WriteAddr32(handle, 0, registerBlock, recordLengthRegister);
        WDC_WriteAddr32(handle, 0, registerBlock + 4, recordsInMemory);
        WDC_WriteAddr32(handle, 0, registerBlock + 8, recordNumber);
        WDC_WriteAddr32(handle, 0, registerBlock + 12, divider);
        WriteBar32(handle, 0x1000, 0xFFFFFFFCu);
        mask = ReadBar32(handle, 0x1000);
        WriteBar32(handle, 0x1000, static_cast<uint32_t>(bus & mask));
        WriteBar32(handle, 0x1004, 0);
        WriteBar32(handle, 0x6000004, 0x2);
        WriteBar32(handle, kStatus, 0);
        WriteBar32(handle, 0x6000004, 0x10);
    }
    ~OpenedBoard() { Close(); }
    void Close() {
        if (dma != nullptr) {
            EXPECT_EQ(WDC_DMABufUnlock(dma), 0u);
        }
        if (handle != nullptr) {
            EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
        }
        dma = nullptr;
        handle = nullptr;
    }
    uint32_t Target(uint32_t chunk) const {
        return static_cast<uint32_t>((bus + uint64_t{chunk} * kChunkBytes) & ~uint64_t{mask});
    }
    void Queue(uint32_t chunk, uint32_t control = 0x80004000u) {
        WriteBar32(handle, 0x6000020, 0x8000000);
        WriteBar32(handle, 0x6000024, Target(chunk));
        WriteBar32(handle, 0x6000028, kChunkBytes);
        WriteBar32(handle, 0x600002C, control);
    }
    bool WaitFinished() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (ReadBar32(handle, kStatus) == 0x202u) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    uint32_t Tag(uint64_t offset) const {
        return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(user + offset))
            .load(std::memory_order_acquire);
    }
    int16_t Sample(uint64_t offset) const {
        int16_t sample;
        std::memcpy(&sample, user + offset, sizeof(sample));
        return sample;
    }
};

class SimDmaWdcTest : public ::testing::Test {
protected:
    void SetUp() override { SIM_Reset(); }
    void TearDown() override { SIM_Reset(); }
};

TEST_F(SimDmaWdcTest, SixteenChunksLandInTheLockedBufferWithKnownSamples) {
    const uint32_t ids[] = {0xA001, 0xA005};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    // Model 8, record length 1024: slots of 4100 points, 33 per chunk; 128 records per frame.
    OpenedBoard board(1, 1024, 33, 512);
    EXPECT_EQ(board.mask, 0xF0000000u);
    // Lane 2 with coupling bit set: the zero error of the setting the board decodes.
    WDC_WriteAddr32(board.handle, 0, 0x7FFF000 + 4 * 7, 0x4);  // coupling register, lane 2 bit
    SimFrontEnd decoded;
    ASSERT_EQ(SIM_GetFrontEnd(1, 2, &decoded), 0);
    ASSERT_EQ(decoded.coupling, 1);
    ASSERT_EQ(SIM_SetZeroError(1, 2, decoded.coupling, decoded.termination, decoded.gain,
                               decoded.attenuation, -123),
              0);
    ASSERT_EQ(SIM_SetInputSignal(1, 2, 1500.0, 0, 0, 0), 0);
    for (uint32_t chunk = 0; chunk < 16; ++chunk) {
        board.Queue(chunk);
        ASSERT_EQ(ReadBar32(board.handle, kStatus), 0x202u);
        WriteBar32(board.handle, kStatus, 0x200);
    }
    for (uint32_t chunk = 0; chunk < 16; ++chunk) {
        SCOPED_TRACE(chunk);
        const uint64_t base = uint64_t{chunk} * kChunkBytes;
        for (uint32_t slot : {0u, 32u}) {
            const uint64_t slotBase = base + 2ull * slot * 4100;
            EXPECT_EQ(board.Tag(slotBase + 2 * 4096), (chunk * 33 + slot) % 512);
            EXPECT_EQ(board.Sample(slotBase + 2 * (4 * 10 + 2)), 8192 + 1500 - 123);
        }
    }
    EXPECT_EQ(SIM_GetDroppedDmaWrites(1), 0u);
    EXPECT_EQ(SIM_PeekBar(1, 2, kStatus, 4), 0x2u);
}

TEST_F(SimDmaWdcTest, ControlsRefuseUnknownBoardsAndModelsWithoutGenerator) {
    const uint32_t ids[] = {0xA005, 0xA006, 0xA002};
    ASSERT_EQ(SIM_SetBoards(ids, 3), 0);
    EXPECT_EQ(SIM_SetInputSignal(3, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(SIM_SetInputSignal(-1, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(SIM_SetInputSignal(1, 2, 0, 0, 0, 0), -1);  // two lanes
    EXPECT_EQ(SIM_SetInputSignal(0, 3, 0, 0, 0, 0), 0);   // four lanes
    EXPECT_EQ(SIM_SetZeroError(3, 0, 0, 0, 0, 0, 1), -1);
    EXPECT_EQ(SIM_SkipRecords(3, 1), -1);
    EXPECT_EQ(SIM_SkipRecords(0, -1), -1);
    EXPECT_EQ(SIM_SkipRecords(0, 0), 0);
    EXPECT_EQ(SIM_GetDroppedDmaWrites(3), 0u);
    EXPECT_EQ(SIM_SetLoopback(0, 1), -1);
    EXPECT_EQ(SIM_SetLoopback(1, 1), 0);
    EXPECT_EQ(SIM_SetLoopback(2, 1), 0);
    EXPECT_EQ(SIM_SetLoopback(3, 1), -1);
    EXPECT_EQ(SIM_SetDmaPacing(7), -1);
}

TEST_F(SimDmaWdcTest, WriteDmaBufferReachesOnlyTheLockedBufferOfTheOpenDevice) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(SIM_WriteDmaBuffer(0, bytes, sizeof(bytes)), -1);  // nothing locked
    {
        OpenedBoard board(0, 0, 0, 0);
        EXPECT_EQ(SIM_WriteDmaBuffer(100, bytes, sizeof(bytes)), 0);
        EXPECT_EQ(std::memcmp(board.user + 100, bytes, sizeof(bytes)), 0);
        EXPECT_EQ(SIM_WriteDmaBuffer(kBufferBytes - 5, bytes, 5), 0);
        EXPECT_EQ(board.user[kBufferBytes - 1], 5);
        EXPECT_EQ(SIM_WriteDmaBuffer(kBufferBytes - 4, bytes, 5), -1);
        EXPECT_EQ(SIM_WriteDmaBuffer(kBufferBytes, bytes, 1), -1);
        EXPECT_EQ(SIM_WriteDmaBuffer(kBufferBytes, bytes, 0), 0);
        EXPECT_EQ(SIM_WriteDmaBuffer(UINT64_MAX, bytes, 2), -1);
        EXPECT_EQ(SIM_WriteDmaBuffer(2, bytes, UINT64_MAX), -1);
        EXPECT_EQ(SIM_WriteDmaBuffer(0, nullptr, 1), -1);
        EXPECT_EQ(board.user[kBufferBytes - 5], 1);
    }
    EXPECT_EQ(SIM_WriteDmaBuffer(0, bytes, sizeof(bytes)), -1);  // unlocked again
}

TEST_F(SimDmaWdcTest, ResetRestoresRealtimePacingAndDefaultSignals) {
    const uint32_t ids[] = {0xA001};
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    ASSERT_EQ(SIM_SetInputSignal(0, 0, 3000, 0, 0, 0), 0);
    ASSERT_EQ(SIM_SkipRecords(0, 5), 0);
    SIM_Reset();
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    // Model 5 at 0.5 MS/s, 1000 points per record, two records per chunk: 4 ms of acquisition.
    OpenedBoard board(0, 1000, 2, 2096, 20, 0x7FFF800);
    WDC_WriteAddr32(board.handle, 0, 0x7FFF818, 3);  // gain code 3: gain 0
    SimFrontEnd decoded;
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &decoded), 0);
    ASSERT_EQ(decoded.gain, 0);
    board.Queue(0);
    ASSERT_TRUE(board.WaitFinished());
    const uint32_t first = board.Tag(2000);
    EXPECT_LE(first, 1u);  // nothing skipped
    EXPECT_EQ(board.Tag(2004 + 2000), first + 1);
    // Input channel 0 in the all-zero setting: power-on zero error -79 and no signal.
    EXPECT_EQ(board.Sample(10), 8192 - 79);

    // Realtime: the board acquires on its own clock, so the records of 20 ms with nothing queued
    // (ten of 2 ms) are lost and the next descriptor's first tag jumps past them; at the other
    // pacings the board waits for descriptors and the tags follow on. Any lateness of this thread
    // only lengthens the jump. (A look at the status right after a queue, expecting it unfinished,
    // would race with a pre-emption of this thread on a busy machine.)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    board.Queue(1);
    ASSERT_TRUE(board.WaitFinished());
    const uint32_t tagWrap = 2096;
    const uint32_t next = board.Tag(kChunkBytes + 2000);
    EXPECT_GE((next + tagWrap - (first + 2)) % tagWrap, 9u) << "first tag after the pause " << next;
    EXPECT_EQ(board.Tag(kChunkBytes + 2004 + 2000), (next + 1) % tagWrap);
}

TEST_F(SimDmaWdcTest, StallFaultAndDroppedWritesThroughTheContract) {
    const uint32_t ids[] = {0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    OpenedBoard board(0, 256, 67, 400);  // model 9, record length 1024
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    board.Queue(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ReadBar32(board.handle, kStatus), 0x3u);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
    ASSERT_TRUE(board.WaitFinished());
    EXPECT_EQ(board.Tag(2 * 2048), 0u);
    // A window that misses the buffer: 67 record writes refused.
    WriteBar32(board.handle, 0x1000, static_cast<uint32_t>((board.bus & board.mask) + 0x10000000));
    board.Queue(1);
    ASSERT_TRUE(board.WaitFinished());
    EXPECT_EQ(SIM_GetDroppedDmaWrites(0), 67u);
}

TEST_F(SimDmaWdcTest, EngineLikePollingWhileTheBoardFillsChunksAndSettingsChange) {
    // Two threads as in acquisition: one polls the status, queues a descriptor whenever the
    // buffer has room and watches the tags; the other changes the signal and the front end.
    const uint32_t ids[] = {0xA004};
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    // Model 7, record length 1024: 1032-point slots, 134 per chunk; tags wrap at 2000, so the
    // slots do not see the same tags round after round.
    OpenedBoard board(0, 128, 134, 2000);
    ASSERT_EQ(SIM_SetInputSignal(0, 0, -6000, 0, 0, 0), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::atomic<int> records{0};
    std::thread acquisition([&] {
        auto slotBase = [](uint32_t slot) {
            return uint64_t{slot / 134} * kChunkBytes + 2ull * (slot % 134) * 1032;
        };
        // What is in memory before the first descriptor is never taken (as the engine does).
        std::vector<uint32_t> lastTags(16 * 134);
        for (uint32_t slot = 0; slot < lastTags.size(); ++slot) {
            lastTags[slot] = board.Tag(slotBase(slot) + 2 * 1024);
        }
        uint32_t next = 0;
        while (!stop.load()) {
            if ((ReadBar32(board.handle, kStatus) & 0x4u) == 0) {
                board.Queue(next);
                next = (next + 1) % 16;
            }
            for (uint32_t slot = 0; slot < 16 * 134; ++slot) {
                const uint64_t base = slotBase(slot);
                const uint32_t tag = board.Tag(base + 2 * 1024);
                if (tag == lastTags[slot]) continue;
                lastTags[slot] = tag;
                // A record is produced at one setting: all its samples agree.
                const int16_t first = board.Sample(base);
                if (board.Sample(base + 2 * 1023) != first) inconsistent.fetch_add(1);
                records.fetch_add(1);
            }
        }
        // End of a run: drain and clear the flag, as the engine does.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (ReadBar32(board.handle, kStatus) != 0x202u &&
               std::chrono::steady_clock::now() < deadline) {
        }
        WriteBar32(board.handle, kStatus, 0x200);
    });
    // At least 100 changes, and on until enough records went by, whatever the machine's speed
    // (a loaded box under ThreadSanitizer may take far longer than 100 ms for them).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int change = 0; change < 100 || (records.load() <= 1000 &&
                                          std::chrono::steady_clock::now() < deadline);
         ++change) {
        SIM_SetInputSignal(0, 0, -6000 + change % 1000, 0, 0, 0);
        WDC_WriteAddr32(board.handle, 0, 0x7FFF000 + 4 * 6, static_cast<uint32_t>(change & 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop.store(true);
    acquisition.join();
    EXPECT_GT(records.load(), 1000);
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_EQ(ReadBar32(board.handle, kStatus), 0x2u);
    board.Close();
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
}

TEST_F(SimDmaWdcTest, UnlockWhileTheBoardThreadRunsStopsItsWrites) {
    const uint32_t ids[] = {0xA005};
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    for (int round = 0; round < 10; ++round) {
        OpenedBoard board(0, 1024, 33, 512);
        for (uint32_t chunk = 0; chunk < 5; ++chunk) board.Queue(chunk);
        EXPECT_EQ(WDC_DMABufUnlock(board.dma), 0u);  // the buffer is freed at once
        board.dma = nullptr;
        EXPECT_EQ(ReadBar32(board.handle, kStatus) & 0x1u, 0u);  // the queue went with it
    }
}

}  // namespace
