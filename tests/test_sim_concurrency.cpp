// The simulated bus under the access pattern of the engine: the application thread writes BAR 0
// registers and waveform memory, the acquisition thread polls and writes BAR 2, and the board's
// own side reads registers, all at once. Run under the tsan preset as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

WDC_DEVICE_HANDLE OpenBoard(int board) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = static_cast<uint32_t>(board) + 1;
    EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr), 0u);
    return handle;
}

constexpr int kRounds = 20000;

TEST(SimConcurrency, WholeRegisterWritesAreNeverSeenTorn) {
    WDC_DEVICE_HANDLE writer = OpenBoard(0);
    WDC_DEVICE_HANDLE reader = OpenBoard(0);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> ready{0};
    std::thread application([&] {
        while (ready.load() < 2) std::this_thread::yield();  // overlap with both readers
        for (int round = 0; round < kRounds; ++round) {
            const uint32_t value = (round & 1) != 0 ? 0xFFFFFFFFu : 0x00000000u;
            WDC_WriteAddr32(writer, 0, 0x7FFF000, value);                       // RegRecordLength
            WDC_WriteAddr16(writer, 0, 0x8080000 + 2 * static_cast<uint64_t>(round % 8192),
                            static_cast<uint16_t>(round));
        }
        done.store(true);
    });
    // The board's own view of the same register, as its DMA thread reads it.
    std::thread board([&] {
        ready.fetch_add(1);
        while (!done.load()) {
            const uint32_t value = SIM_PeekRegister(0, -2048);
            if (value != 0 && value != 0xFFFFFFFFu) torn.fetch_add(1);
            SimFrontEnd frontEnd{};
            SIM_GetFrontEnd(0, 1, &frontEnd);
        }
    });
    // The acquisition thread: BAR 2 polling through its own handle.
    std::thread acquisition([&] {
        uint32_t status = 0;
        ready.fetch_add(1);
        while (!done.load()) {
            WDC_ReadAddr32(reader, 2, 0x6000000, &status);
            WDC_WriteAddr8(reader, 2, 0x2000, 0x5A);
            uint32_t value = 0;
            WDC_ReadAddr32(reader, 0, 0x7FFF000, &value);
            if (value != 0 && value != 0xFFFFFFFFu) torn.fetch_add(1);
        }
    });
    application.join();
    board.join();
    acquisition.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(SIM_PeekBar(0, 0, 0x8080000 + 2 * ((kRounds - 1) % 8192), 2),
              static_cast<uint32_t>((kRounds - 1) & 0xFFFF));
    EXPECT_EQ(WDC_PciDeviceClose(writer), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(reader), 0u);
}

TEST(SimConcurrency, PartialWritesToOneWordLoseNoUpdate) {
    WDC_DEVICE_HANDLE first = OpenBoard(0);
    WDC_DEVICE_HANDLE second = OpenBoard(0);
    // A dense register word, a word of sparse BAR 0 and a word of plain BAR 2.
    const struct {
        uint32_t space;
        uint64_t offset;
    } words[] = {{0, 0x7FFF010}, {0, 0x200}, {2, 0x3000}};
    for (const auto &word : words) {
        SCOPED_TRACE(testing::Message() << word.space << " 0x" << std::hex << word.offset);
        std::thread low([&] {
            for (int round = 0; round < kRounds; ++round) {
                WDC_WriteAddr8(first, word.space, word.offset, static_cast<uint8_t>(round));
            }
            WDC_WriteAddr8(first, word.space, word.offset, 0x11);
        });
        std::thread high([&] {
            for (int round = 0; round < kRounds; ++round) {
                WDC_WriteAddr16(second, word.space, word.offset + 2, static_cast<uint16_t>(round));
            }
            WDC_WriteAddr16(second, word.space, word.offset + 2, 0x2233);
        });
        low.join();
        high.join();
        EXPECT_EQ(SIM_PeekBar(0, static_cast<int>(word.space), word.offset, 4), 0x22330011u);
    }
    EXPECT_EQ(WDC_PciDeviceClose(first), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(second), 0u);
}

TEST(SimConcurrency, HandlesOpenAndCloseWhileAnotherIsInUse) {
    WDC_DEVICE_HANDLE steady = OpenBoard(0);
    SIM_SetAccessLog(1);
    std::atomic<bool> done{false};
    std::thread user([&] {
        uint32_t value = 0;
        int rounds = 0;
        while (!done.load() || rounds < 1000) {
            EXPECT_EQ(WDC_ReadAddr32(steady, 0, 0x7FFF004, &value), 0u);
            ++rounds;
        }
    });
    for (int round = 0; round < 2000; ++round) {
        WDC_DEVICE_HANDLE transient = OpenBoard(0);
        WDC_WriteAddr32(transient, 0, 0x7FFF004, static_cast<uint32_t>(round));
        EXPECT_EQ(WDC_PciDeviceClose(transient), 0u);
    }
    done.store(true);
    user.join();
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 1);
    std::vector<SimAccess> log(8);
    EXPECT_EQ(SIM_GetAccessLog(log.data(), 8), 8);
    EXPECT_EQ(WDC_PciDeviceClose(steady), 0u);
}

}  // namespace
