// The simulated bus through the driver-access contract, as any library user would see it: scan,
// card resources, device handles, BAR and configuration accesses, DMA buffers, faults, call and
// resource counts, the control device and the access log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

void SetEnvironment(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value == nullptr ? "" : value);
#else
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
#endif
}

WDC_PCI_SCAN_RESULT Scan() {
    WDC_PCI_SCAN_RESULT result;
    std::memset(&result, 0, sizeof(result));
    EXPECT_EQ(WDC_PciScanDevices(0x1172, 0, &result), 0u);
    return result;
}

WD_PCI_CARD_INFO CardInfo(uint32_t bus) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = bus;
    EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    return info;
}

WDC_DEVICE_HANDLE OpenBoard(int board, void *context = nullptr) {
    const WD_PCI_CARD_INFO info = CardInfo(static_cast<uint32_t>(board) + 1);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, context, nullptr, nullptr, nullptr), 0u);
    EXPECT_NE(handle, nullptr);
    return handle;
}

std::vector<SimAccess> AccessLog() {
    std::vector<SimAccess> entries(4096);
    const int count = SIM_GetAccessLog(entries.data(), static_cast<int>(entries.size()));
    entries.resize(count < 0 ? 0 : static_cast<size_t>(count));
    return entries;
}

// ---- scan and card resources ---------------------------------------------------------------------

TEST(SimBus, DefaultBusIsOneModel9Board) {
    const WDC_PCI_SCAN_RESULT result = Scan();
    ASSERT_EQ(result.dwNumDevices, 1u);
    EXPECT_EQ(result.deviceId[0].dwVendorId, 0x1172u);
    EXPECT_EQ(result.deviceId[0].dwDeviceId, 0xA006u);
    EXPECT_EQ(result.deviceSlot[0].dwBus, 1u);
    EXPECT_EQ(result.deviceSlot[0].dwSlot, 0u);
    EXPECT_EQ(result.deviceSlot[0].dwFunction, 0u);
}

TEST(SimBus, SetBoardsGivesScanOrderAndSlots) {
    const uint32_t ids[] = {0xA001, 0xA005, 0xE001, 0xA003};
    ASSERT_EQ(SIM_SetBoards(ids, 4), 0);
    const WDC_PCI_SCAN_RESULT result = Scan();
    ASSERT_EQ(result.dwNumDevices, 4u);
    for (uint32_t board = 0; board < 4; ++board) {
        SCOPED_TRACE(board);
        EXPECT_EQ(result.deviceId[board].dwVendorId, 0x1172u);
        EXPECT_EQ(result.deviceId[board].dwDeviceId, ids[board]);
        EXPECT_EQ(result.deviceSlot[board].dwBus, board + 1);
        EXPECT_EQ(result.deviceSlot[board].dwSlot, 0u);
        EXPECT_EQ(result.deviceSlot[board].dwFunction, 0u);
    }
    // Filters: a device ID, a foreign vendor.
    WDC_PCI_SCAN_RESULT filtered;
    std::memset(&filtered, 0, sizeof(filtered));
    ASSERT_EQ(WDC_PciScanDevices(0x1172, 0xE001, &filtered), 0u);
    ASSERT_EQ(filtered.dwNumDevices, 1u);
    EXPECT_EQ(filtered.deviceSlot[0].dwBus, 3u);
    std::memset(&filtered, 0, sizeof(filtered));
    ASSERT_EQ(WDC_PciScanDevices(0x10EE, 0, &filtered), 0u);
    EXPECT_EQ(filtered.dwNumDevices, 0u);
}

TEST(SimBus, SetBoardsLimits) {
    std::vector<uint32_t> ids(65, 0xA006);
    EXPECT_EQ(SIM_SetBoards(ids.data(), 65), -1);
    EXPECT_EQ(SIM_SetBoards(ids.data(), -1), -1);
    EXPECT_EQ(SIM_SetBoards(nullptr, 2), -1);
    EXPECT_EQ(Scan().dwNumDevices, 1u);  // refusals changed nothing

    ASSERT_EQ(SIM_SetBoards(ids.data(), 64), 0);
    const WDC_PCI_SCAN_RESULT result = Scan();
    ASSERT_EQ(result.dwNumDevices, 64u);
    EXPECT_EQ(result.deviceSlot[63].dwBus, 64u);

    ASSERT_EQ(SIM_SetBoards(nullptr, 0), 0);
    EXPECT_EQ(Scan().dwNumDevices, 0u);
}

TEST(SimBus, SetBoardsRefusedWhileAHandleIsOpen) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    const uint32_t ids[] = {0xA001, 0xA002};
    EXPECT_EQ(SIM_SetBoards(ids, 2), -1);
    EXPECT_EQ(Scan().dwNumDevices, 1u);
    ASSERT_EQ(WDC_PciDeviceClose(handle), 0u);
    EXPECT_EQ(SIM_SetBoards(ids, 2), 0);
}

TEST(SimBus, EnvironmentBoardList) {
    struct Case {
        const char *value;
        std::vector<uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {"A001,A006", {0xA001, 0xA006}},
        {"a002", {0xA002}},
        {" 0xA005 , E001,A003 ", {0xA005, 0xE001, 0xA003}},
        {"", {0xA006}},               // empty: default
        {"A001,,A006", {0xA006}},     // empty entry
        {"A001,", {0xA006}},          // trailing comma
        {"A00G", {0xA006}},           // not hexadecimal
        {"1A001", {0xA006}},          // more than 16 bits
        {"A001;A006", {0xA006}},      // wrong separator
    };
    for (const Case &entry : cases) {
        SCOPED_TRACE(entry.value);
        SetEnvironment("OSTREL_SIM_BOARDS", entry.value);
        SIM_Reset();
        const WDC_PCI_SCAN_RESULT result = Scan();
        ASSERT_EQ(result.dwNumDevices, entry.expected.size());
        for (size_t board = 0; board < entry.expected.size(); ++board) {
            EXPECT_EQ(result.deviceId[board].dwDeviceId, entry.expected[board]);
        }
    }
    std::string many;
    for (int board = 0; board < 65; ++board) many += board == 0 ? "A001" : ",A001";
    SetEnvironment("OSTREL_SIM_BOARDS", many.c_str());
    SIM_Reset();
    EXPECT_EQ(Scan().dwNumDevices, 1u);
    SetEnvironment("OSTREL_SIM_BOARDS", nullptr);
    SIM_Reset();
    EXPECT_EQ(Scan().deviceId[0].dwDeviceId, 0xA006u);
}

TEST(SimBus, CardResourcesPerBoard) {
    const uint32_t ids[] = {0xA001, 0xA002, 0xA007};
    ASSERT_EQ(SIM_SetBoards(ids, 3), 0);
    std::vector<uint64_t> bases;
    for (uint32_t board = 0; board < 3; ++board) {
        SCOPED_TRACE(board);
        const WD_PCI_CARD_INFO info = CardInfo(board + 1);
        ASSERT_EQ(info.Card.dwItems, 5u);
        const uint64_t lengths[] = {0x10000000, 0x08000000, 0x10000};
        const uint32_t bars[] = {0, 2, 4};
        for (int item = 0; item < 3; ++item) {
            const WD_ITEMS &entry = info.Card.Item[item];
            EXPECT_EQ(entry.item, static_cast<uint32_t>(ITEM_MEMORY));
            EXPECT_EQ(entry.I.Mem.qwBytes, lengths[item]);
            EXPECT_EQ(entry.I.Mem.dwBar, bars[item]);
            EXPECT_LT(entry.I.Mem.pPhysicalAddr + entry.I.Mem.qwBytes, 0x100000000ull);
            EXPECT_NE(entry.I.Mem.pPhysicalAddr, 0u);
            bases.push_back(entry.I.Mem.pPhysicalAddr);
        }
        EXPECT_EQ(info.Card.Item[3].item, static_cast<uint32_t>(ITEM_INTERRUPT));
        EXPECT_EQ(info.Card.Item[3].I.words[0], 16u + board);
        EXPECT_EQ(info.Card.Item[4].item, static_cast<uint32_t>(ITEM_BUS));
    }
    for (size_t first = 0; first < bases.size(); ++first) {
        for (size_t second = first + 1; second < bases.size(); ++second) {
            EXPECT_NE(bases[first], bases[second]) << first << " " << second;
        }
    }
    WD_PCI_CARD_INFO missing;
    std::memset(&missing, 0, sizeof(missing));
    missing.pciSlot.dwBus = 4;
    EXPECT_EQ(WDC_PciGetDeviceInfo(&missing), static_cast<uint32_t>(WD_DEVICE_NOT_FOUND));
    EXPECT_EQ(WDC_PciGetDeviceInfo(nullptr), static_cast<uint32_t>(WD_INVALID_PARAMETER));
}

// ---- device handles ------------------------------------------------------------------------------

TEST(SimBus, DeviceRecordOfAnOpenHandle) {
    const uint32_t ids[] = {0xA001, 0xA005};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    int context = 0;
    WDC_DEVICE_HANDLE handle = OpenBoard(1, &context);
    const WDC_DEVICE *device = static_cast<const WDC_DEVICE *>(handle);
    EXPECT_EQ(device->id.dwVendorId, 0x1172u);
    EXPECT_EQ(device->id.dwDeviceId, 0xA005u);
    EXPECT_EQ(device->slot.dwBus, 2u);
    EXPECT_EQ(device->pCtx, &context);
    EXPECT_EQ(WDC_GetDevContext(handle), &context);
    EXPECT_EQ(device->hKernelPlugIn, 0u);
    ASSERT_EQ(device->dwNumAddrSpaces, 6u);
    ASSERT_NE(device->pAddrDesc, nullptr);
    for (uint32_t space = 0; space < 6; ++space) {
        SCOPED_TRACE(space);
        const bool active = space == 0 || space == 2 || space == 4;
        EXPECT_EQ(WDC_AddrSpaceIsActive(handle, space) != 0, active);
        const WDC_ADDR_DESC &description = device->pAddrDesc[space];
        EXPECT_EQ(description.dwAddrSpace, space);
        if (active) {
            EXPECT_NE(description.fIsMemory, 0u);
            const WD_ITEMS &item = device->cardReg.Item[description.dwItemIndex];
            EXPECT_EQ(item.item, static_cast<uint32_t>(ITEM_MEMORY));
            EXPECT_EQ(item.I.Mem.dwBar, space);
            EXPECT_EQ(item.I.Mem.qwBytes, description.qwBytes);
        } else {
            EXPECT_EQ(description.qwBytes, 0u);
            EXPECT_LT(description.dwItemIndex, static_cast<uint32_t>(WD_CARD_ITEMS));
        }
    }
    EXPECT_EQ(WDC_AddrSpaceIsActive(handle, 6), 0);
    EXPECT_EQ(device->cardReg.Item[3].I.Int.dwInterrupt, 17u);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, UnknownAndClosedHandlesAreRefused) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    ASSERT_EQ(WDC_PciDeviceClose(handle), 0u);
    int foreign = 0;
    for (WDC_DEVICE_HANDLE bad : {handle, static_cast<WDC_DEVICE_HANDLE>(&foreign),
                                  static_cast<WDC_DEVICE_HANDLE>(nullptr)}) {
        SCOPED_TRACE(bad);
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(WDC_PciDeviceClose(bad), static_cast<uint32_t>(WD_INVALID_HANDLE));
        EXPECT_EQ(WDC_GetDevContext(bad), nullptr);
        EXPECT_EQ(WDC_AddrSpaceIsActive(bad, 0), 0);
        EXPECT_EQ(WDC_ReadAddr32(bad, 0, 0x7FFF000, &value), static_cast<uint32_t>(WD_INVALID_HANDLE));
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(WDC_WriteAddr32(bad, 0, 0x7FFF000, 1), static_cast<uint32_t>(WD_INVALID_HANDLE));
        EXPECT_EQ(WDC_PciReadCfg32(bad, 8, &value), static_cast<uint32_t>(WD_INVALID_HANDLE));
        void *user = nullptr;
        WD_DMA *dma = nullptr;
        EXPECT_EQ(WDC_DMAContigBufLock(bad, &user, 0x22, 0x1000000, &dma),
                  static_cast<uint32_t>(WD_INVALID_HANDLE));
        EXPECT_EQ(dma, nullptr);
        EXPECT_EQ(WDC_IntIsEnabled(bad), 0);
        EXPECT_EQ(WDC_EventIsRegistered(bad), 0);
    }
    EXPECT_EQ(SIM_PeekRegister(0, -2048), 0u);  // no write went through
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

TEST(SimBus, SeveralHandlesToOneBoardShareItsRegisters) {
    WDC_DEVICE_HANDLE first = OpenBoard(0);
    WDC_DEVICE_HANDLE second = OpenBoard(0);
    EXPECT_NE(first, second);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 2);
    ASSERT_EQ(WDC_WriteAddr32(first, 0, 0x7FFF000, 0x12345678), 0u);
    uint32_t value = 0;
    ASSERT_EQ(WDC_ReadAddr32(second, 0, 0x7FFF000, &value), 0u);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(WDC_PciDeviceClose(first), 0u);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 1);
    ASSERT_EQ(WDC_ReadAddr32(second, 0, 0x7FFF000, &value), 0u);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(WDC_PciDeviceClose(second), 0u);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

// Point writes into the waveform memories take a short way past the handle table; it must know
// exactly the handles the table knows, however many are open, and nothing that was closed.
TEST(SimBus, PointWritesFollowEveryOpenAndClose) {
    constexpr int kHandles = 12;  // more than the access path keeps at hand
    constexpr uint64_t kPoint = 0x8080000;
    WDC_DEVICE_HANDLE handles[kHandles] = {};
    bool open[kHandles] = {};
    auto checkAll = [&](const char *stage) {
        SCOPED_TRACE(stage);
        for (int index = 0; index < kHandles; ++index) {
            SCOPED_TRACE(testing::Message() << "handle " << index << (open[index] ? " open" : ""));
            const uint64_t offset = kPoint + 2 * static_cast<uint64_t>(index);
            const uint16_t before = static_cast<uint16_t>(SIM_PeekBar(0, 0, offset, 2));
            const uint16_t value = static_cast<uint16_t>(before + 0x101);
            const uint32_t status = WDC_WriteAddr16(handles[index], 0, offset, value);
            if (open[index]) {
                EXPECT_EQ(status, 0u);
                EXPECT_EQ(SIM_PeekBar(0, 0, offset, 2), value);
            } else {
                EXPECT_EQ(status, static_cast<uint32_t>(WD_INVALID_HANDLE));
                EXPECT_EQ(SIM_PeekBar(0, 0, offset, 2), before);
            }
        }
    };
    for (int index = 0; index < kHandles; ++index) {
        handles[index] = OpenBoard(0);
        open[index] = true;
    }
    checkAll("all open");
    // Close from the middle and the ends, across the number kept at hand.
    for (int index : {5, 0, 11, 7, 1}) {
        ASSERT_EQ(WDC_PciDeviceClose(handles[index]), 0u);
        open[index] = false;
        checkAll("after a close");
    }
    const int before = SIM_GetCallCount("WDC_WriteAddr16");
    EXPECT_EQ(WDC_WriteAddr16(nullptr, 0, kPoint, 1), static_cast<uint32_t>(WD_INVALID_HANDLE));
    EXPECT_EQ(SIM_GetCallCount("WDC_WriteAddr16"), before + 1);
    for (int index = 0; index < kHandles; ++index) {
        if (open[index]) {
            EXPECT_EQ(WDC_PciDeviceClose(handles[index]), 0u);
        }
        open[index] = false;
    }
    checkAll("all closed");
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

TEST(SimBus, OpenAtAnEmptySlotFails) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = 9;
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr),
              static_cast<uint32_t>(WD_DEVICE_NOT_FOUND));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(WDC_PciDeviceOpen(nullptr, &info, nullptr, nullptr, nullptr, nullptr),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

// ---- BAR and configuration accesses ----------------------------------------------------------------

TEST(SimBus, LittleEndianAccessesOfEveryWidth) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    struct Case {
        uint32_t space;
        uint64_t offset;  // of a 32-bit word
    };
    // The register window, the waveform memory, sparse BAR 0, plain BAR 2 and BAR 4.
    const Case cases[] = {{0, 0x7FFF034}, {0, 0x8084010}, {0, 0x100}, {0, 0xFFFFFFC},
                          {2, 0x2000}, {2, 0x7FFFFFC}, {4, 0xFFFC}};
    for (const Case &entry : cases) {
        SCOPED_TRACE(testing::Message() << "space " << entry.space << " offset 0x" << std::hex
                                        << entry.offset);
        ASSERT_EQ(WDC_WriteAddr32(handle, entry.space, entry.offset, 0x11223344), 0u);
        uint8_t byte = 0;
        uint16_t half = 0;
        uint32_t word = 0;
        const uint8_t bytes[] = {0x44, 0x33, 0x22, 0x11};
        for (uint64_t index = 0; index < 4; ++index) {
            ASSERT_EQ(WDC_ReadAddr8(handle, entry.space, entry.offset + index, &byte), 0u);
            EXPECT_EQ(byte, bytes[index]);
        }
        ASSERT_EQ(WDC_ReadAddr16(handle, entry.space, entry.offset + 2, &half), 0u);
        EXPECT_EQ(half, 0x1122u);
        ASSERT_EQ(WDC_WriteAddr16(handle, entry.space, entry.offset, 0xBEEF), 0u);
        ASSERT_EQ(WDC_WriteAddr8(handle, entry.space, entry.offset + 3, 0xA5), 0u);
        ASSERT_EQ(WDC_ReadAddr32(handle, entry.space, entry.offset, &word), 0u);
        EXPECT_EQ(word, 0xA522BEEFu);
        EXPECT_EQ(SIM_PeekBar(0, static_cast<int>(entry.space), entry.offset, 4), 0xA522BEEFu);
        EXPECT_EQ(SIM_PeekBar(0, static_cast<int>(entry.space), entry.offset + 1, 2), 0x22BEu);
    }
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, UnalignedAccessesAcrossWordsAndWindowEdges) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    // Straddling two register words, the edge of the register window into sparse BAR 0, and
    // both edges of the waveform memories and odd points inside them.
    const uint64_t offsets[] = {0x7FFF002, 0x7FFEFFE, 0x7FFFFFE, 0x807FFFF, 0x1001,
                                0x8083FFF, 0x8087FFE, 0x8084001};
    for (const uint64_t offset : offsets) {
        SCOPED_TRACE(testing::Message() << std::hex << offset);
        ASSERT_EQ(WDC_WriteAddr32(handle, 0, offset, 0xCAFEF00D), 0u);
        uint32_t word = 0;
        ASSERT_EQ(WDC_ReadAddr32(handle, 0, offset, &word), 0u);
        EXPECT_EQ(word, 0xCAFEF00Du);
        EXPECT_EQ(SIM_PeekBar(0, 0, offset, 1), 0x0Du);
        EXPECT_EQ(SIM_PeekBar(0, 0, offset + 3, 1), 0xCAu);
        ASSERT_EQ(WDC_WriteAddr16(handle, 0, offset + 1, 0x1234), 0u);
        EXPECT_EQ(SIM_PeekBar(0, 0, offset, 4), 0xCA12340Du);
    }
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, OutOfRangeAccessesAreIgnoredAndReadZero) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    struct Case {
        uint32_t space;
        uint64_t offset;
        int width;
    };
    const Case cases[] = {
        {0, 0x10000000, 4}, {0, 0xFFFFFFE, 4}, {0, 0xFFFFFFF, 2}, {0, ~0ull, 1},
        {2, 0x08000000, 4}, {2, 0x7FFFFFF, 2}, {4, 0x10000, 1},   {4, 0xFFFE, 4},
        {1, 0, 4},          {3, 0, 4},         {5, 0, 4},         {6, 0, 4},
    };
    for (const Case &entry : cases) {
        SCOPED_TRACE(testing::Message() << "space " << entry.space << " offset 0x" << std::hex
                                        << entry.offset << " width " << entry.width);
        uint32_t status = 0;
        uint32_t value = 0xFFFFFFFF;
        if (entry.width == 1) {
            status = WDC_WriteAddr8(handle, entry.space, entry.offset, 0x5A);
            EXPECT_EQ(status, static_cast<uint32_t>(WD_INVALID_PARAMETER));
            uint8_t byte = 0xFF;
            EXPECT_EQ(WDC_ReadAddr8(handle, entry.space, entry.offset, &byte),
                      static_cast<uint32_t>(WD_INVALID_PARAMETER));
            value = byte;
        } else if (entry.width == 2) {
            status = WDC_WriteAddr16(handle, entry.space, entry.offset, 0x5A5A);
            EXPECT_EQ(status, static_cast<uint32_t>(WD_INVALID_PARAMETER));
            uint16_t half = 0xFFFF;
            EXPECT_EQ(WDC_ReadAddr16(handle, entry.space, entry.offset, &half),
                      static_cast<uint32_t>(WD_INVALID_PARAMETER));
            value = half;
        } else {
            status = WDC_WriteAddr32(handle, entry.space, entry.offset, 0x5A5A5A5A);
            EXPECT_EQ(status, static_cast<uint32_t>(WD_INVALID_PARAMETER));
            EXPECT_EQ(WDC_ReadAddr32(handle, entry.space, entry.offset, &value),
                      static_cast<uint32_t>(WD_INVALID_PARAMETER));
        }
        EXPECT_EQ(value, 0u);
    }
    // The partial write at the end of BAR 0 left the last in-range bytes alone.
    EXPECT_EQ(SIM_PeekBar(0, 0, 0xFFFFFFC, 4), 0u);
    EXPECT_EQ(SIM_PeekBar(0, 0, 0x10000000, 1), 0u);
    EXPECT_EQ(SIM_PeekBar(0, 1, 0, 4), 0u);
    EXPECT_EQ(SIM_PeekBar(0, 0, 0x100, 3), 0u);  // no such width
    EXPECT_EQ(WDC_ReadAddr32(handle, 0, 0, nullptr), static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, RegistersArePeekedAndPokedByIndex) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    // Worked offsets: -2048 -> 0x7FFF000, -2022 -> 0x7FFF034, -1024 -> 0x7FFF800, -1004 -> 0x7FFF828.
    const struct {
        int32_t index;
        uint64_t offset;
    } cases[] = {{-2048, 0x7FFF000}, {-2022, 0x7FFF034}, {-1024, 0x7FFF800}, {-1004, 0x7FFF828}};
    for (const auto &entry : cases) {
        SCOPED_TRACE(entry.index);
        ASSERT_EQ(WDC_WriteAddr32(handle, 0, entry.offset, 0xA0000000u + static_cast<uint32_t>(-entry.index)), 0u);
        EXPECT_EQ(SIM_PeekRegister(0, entry.index), 0xA0000000u + static_cast<uint32_t>(-entry.index));
        ASSERT_EQ(SIM_PokeRegister(0, entry.index, 0x600D), 0);
        uint32_t value = 0;
        ASSERT_EQ(WDC_ReadAddr32(handle, 0, entry.offset, &value), 0u);
        EXPECT_EQ(value, 0x600Du);
    }
    EXPECT_EQ(SIM_PokeRegister(0, INT32_MIN, 1), -1);        // below BAR 0
    EXPECT_EQ(SIM_PokeRegister(0, 0x4000000, 1), -1);        // 0x8000000 + 0x8000000: past the end
    EXPECT_EQ(SIM_PokeRegister(1, -2048, 1), -1);            // no such board
    EXPECT_EQ(SIM_PeekRegister(1, -2048), 0u);
    EXPECT_EQ(SIM_PeekRegister(0, INT32_MIN), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, ConfigurationSpace) {
    const uint32_t ids[] = {0xA001, 0xA007};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    ASSERT_EQ(SIM_SetConfigWord(1, 0x11800003), 0);
    EXPECT_EQ(SIM_SetConfigWord(2, 0), -1);
    WDC_DEVICE_HANDLE first = OpenBoard(0);
    WDC_DEVICE_HANDLE second = OpenBoard(1);
    uint32_t value = 0;
    ASSERT_EQ(WDC_PciReadCfg32(first, 8, &value), 0u);
    EXPECT_EQ(value, 0x11800009u);
    ASSERT_EQ(WDC_PciReadCfg32(second, 8, &value), 0u);
    EXPECT_EQ(value, 0x11800003u);
    ASSERT_EQ(WDC_PciReadCfg32(second, 0, &value), 0u);
    EXPECT_EQ(value, 0xA0071172u);
    ASSERT_EQ(WDC_PciReadCfg32(second, 0x10, &value), 0u);
    const WDC_DEVICE *device = static_cast<const WDC_DEVICE *>(second);
    EXPECT_EQ(value, static_cast<uint32_t>(device->cardReg.Item[0].I.Mem.pPhysicalAddr));
    value = 7;
    EXPECT_EQ(WDC_PciReadCfg32(second, 0x1000, &value), static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(WDC_PciReadCfg32(second, 8, nullptr), static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_PciDeviceClose(first), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(second), 0u);
}

// ---- DMA buffers ------------------------------------------------------------------------------------

TEST(SimBus, DmaBufferIsWritableAlignedAndBelow4GiB) {
    const uint32_t ids[] = {0xA002, 0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    WDC_DEVICE_HANDLE first = OpenBoard(0);
    WDC_DEVICE_HANDLE second = OpenBoard(1);
    constexpr uint32_t kBytes = 0x1000000;
    std::vector<WD_DMA *> locks;
    for (WDC_DEVICE_HANDLE handle : {first, second, first}) {
        void *user = nullptr;
        WD_DMA *dma = nullptr;
        ASSERT_EQ(WDC_DMAContigBufLock(handle, &user, DMA_FROM_DEVICE_CONTIG, kBytes, &dma), 0u);
        ASSERT_NE(dma, nullptr);
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(dma->pUserAddr, user);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(user) % 4096, 0u);
        EXPECT_EQ(dma->dwBytes, kBytes);
        EXPECT_EQ(dma->dwPages, 1u);
        EXPECT_EQ(dma->Page[0].dwBytes, kBytes);
        EXPECT_NE(dma->Page[0].pPhysicalAddr, 0u);
        EXPECT_LE(dma->Page[0].pPhysicalAddr + kBytes, 0x100000000ull);
        // Every byte belongs to us: first, last, and a pattern across it.
        uint8_t *bytes = static_cast<uint8_t *>(user);
        EXPECT_EQ(bytes[0], 0u);
        EXPECT_EQ(bytes[kBytes - 1], 0u);
        for (uint32_t at = 0; at < kBytes; at += 4093) bytes[at] = static_cast<uint8_t>(at);
        bytes[kBytes - 1] = 0x7E;
        for (uint32_t at = 0; at < kBytes; at += 4093) ASSERT_EQ(bytes[at], static_cast<uint8_t>(at));
        for (WD_DMA *earlier : locks) {
            const uint64_t a = earlier->Page[0].pPhysicalAddr;
            const uint64_t b = dma->Page[0].pPhysicalAddr;
            EXPECT_TRUE(a + kBytes <= b || b + kBytes <= a) << std::hex << a << " " << b;
        }
        locks.push_back(dma);
    }
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 3);
    for (WD_DMA *dma : locks) EXPECT_EQ(WDC_DMABufUnlock(dma), 0u);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(WDC_DMABufUnlock(locks[0]), static_cast<uint32_t>(WD_INVALID_HANDLE));  // twice
    EXPECT_EQ(WDC_DMABufUnlock(nullptr), static_cast<uint32_t>(WD_INVALID_HANDLE));
    EXPECT_EQ(WDC_PciDeviceClose(first), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(second), 0u);
}

TEST(SimBus, DmaLockRefusals) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    void *user = nullptr;
    WD_DMA *dma = nullptr;
    EXPECT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0, &dma),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0x20000000, &dma),
              static_cast<uint32_t>(WD_INSUFFICIENT_RESOURCES));
    EXPECT_EQ(WDC_DMAContigBufLock(handle, nullptr, 0x22, 0x1000000, &dma),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0x1000000, nullptr),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(dma, nullptr);
    EXPECT_EQ(user, nullptr);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

// ---- faults, counts, resources ----------------------------------------------------------------------

TEST(SimBus, EveryFaultFailsItsOperationUntilCleared) {
    struct Case {
        int fault;
        const char *operation;
    };
    const Case cases[] = {
        {SIM_FAULT_DEBUG_OPTIONS, "WDC_SetDebugOptions"}, {SIM_FAULT_DRIVER_OPEN, "WDC_DriverOpen"},
        {SIM_FAULT_DRIVER_CLOSE, "WDC_DriverClose"},     {SIM_FAULT_SCAN, "WDC_PciScanDevices"},
        {SIM_FAULT_DEVICE_INFO, "WDC_PciGetDeviceInfo"}, {SIM_FAULT_DEVICE_OPEN, "WDC_PciDeviceOpen"},
        {SIM_FAULT_DEVICE_CLOSE, "WDC_PciDeviceClose"},  {SIM_FAULT_DMA_LOCK, "WDC_DMAContigBufLock"},
    };
    const WD_PCI_CARD_INFO info = CardInfo(1);
    // Runs the operation once; returns its status.
    auto run = [&info](int fault) -> uint32_t {
        WDC_PCI_SCAN_RESULT scan;
        WD_PCI_CARD_INFO card = info;
        std::memset(&scan, 0, sizeof(scan));
        switch (fault) {
        case SIM_FAULT_DEBUG_OPTIONS: return WDC_SetDebugOptions(0x21, nullptr);
        case SIM_FAULT_DRIVER_OPEN: return WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT, nullptr);
        case SIM_FAULT_DRIVER_CLOSE: return WDC_DriverClose();
        case SIM_FAULT_SCAN: return WDC_PciScanDevices(0x1172, 0, &scan);
        case SIM_FAULT_DEVICE_INFO: return WDC_PciGetDeviceInfo(&card);
        case SIM_FAULT_DEVICE_OPEN: {
            WDC_DEVICE_HANDLE handle = nullptr;
            const uint32_t status =
                WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr);
            if (handle != nullptr) WDC_PciDeviceClose(handle);
            return status;
        }
        case SIM_FAULT_DEVICE_CLOSE: {
            WDC_DEVICE_HANDLE handle = nullptr;
            WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr);
            return WDC_PciDeviceClose(handle);
        }
        default: {
            WDC_DEVICE_HANDLE handle = nullptr;
            WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr);
            void *user = nullptr;
            WD_DMA *dma = nullptr;
            const uint32_t status = WDC_DMAContigBufLock(handle, &user, 0x22, 0x1000000, &dma);
            if (status == 0) WDC_DMABufUnlock(dma);
            WDC_PciDeviceClose(handle);
            return status;
        }
        }
    };
    for (const Case &entry : cases) {
        SCOPED_TRACE(entry.operation);
        const int before = SIM_GetCallCount(entry.operation);
        EXPECT_EQ(run(entry.fault), 0u);
        ASSERT_EQ(SIM_SetFault(entry.fault, 0x20000013), 0);
        EXPECT_EQ(run(entry.fault), 0x20000013u);
        EXPECT_EQ(run(entry.fault), 0x20000013u);  // stays until cleared
        ASSERT_EQ(SIM_SetFault(entry.fault, 0), 0);
        EXPECT_EQ(run(entry.fault), 0u);
        EXPECT_EQ(SIM_GetCallCount(entry.operation), before + 4);
        // Faults are independent: none of the others is set now.
        EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
        EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);
    }
    EXPECT_EQ(SIM_SetFault(0, 1), -1);
    EXPECT_EQ(SIM_SetFault(15, 1), -1);
}

TEST(SimBus, FaultsLeaveOutputsUntouched) {
    const WD_PCI_CARD_INFO info = CardInfo(1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_OPEN, 0x2000000A), 0);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr), 0x2000000Au);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
    // On request the failed open still hands out a handle, to be closed by the caller.
    ASSERT_EQ(SIM_SetOpenFaultKeepsHandle(1), 0);
    int context = 0;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, &context, nullptr, nullptr, nullptr), 0x2000000Au);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(WDC_GetDevContext(handle), &context);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 1);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_OPEN, 0), 0);

    handle = OpenBoard(0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_LOCK, 0x20000013), 0);
    void *user = &context;
    WD_DMA *dma = reinterpret_cast<WD_DMA *>(&context);
    EXPECT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0x1000000, &dma), 0x20000013u);
    EXPECT_EQ(user, &context);
    EXPECT_EQ(dma, reinterpret_cast<WD_DMA *>(&context));
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 0);

    // A failed close still releases the handle.
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_CLOSE, 0x20000001), 0);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0x20000001u);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 0);
    EXPECT_EQ(WDC_PciDeviceClose(handle), static_cast<uint32_t>(WD_INVALID_HANDLE));
}

TEST(SimBus, ResourceCountsFollowOpenAndClose) {
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DRIVER_OPEN), 0);
    ASSERT_EQ(WDC_SetDebugOptions(0x21, nullptr), 0u);
    ASSERT_EQ(WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT, nullptr), 0u);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DRIVER_OPEN), 1);
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    void *user = nullptr;
    WD_DMA *dma = nullptr;
    ASSERT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0x1000000, &dma), 0u);
    const intptr_t control = WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    EXPECT_GT(control, 0);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES), 1);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS), 1);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 1);

    EXPECT_EQ(WDC_DMABufUnlock(dma), 0u);
    EXPECT_EQ(WDC_ControlDeviceClose(control), 1);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
    EXPECT_EQ(WDC_DriverClose(), 0u);
    for (int resource = SIM_RESOURCE_DRIVER_OPEN; resource <= SIM_RESOURCE_CONTROL_DEVICE; ++resource) {
        EXPECT_EQ(SIM_GetResourceCount(resource), 0) << resource;
    }
    EXPECT_EQ(SIM_GetResourceCount(0), -1);
    EXPECT_EQ(SIM_GetResourceCount(5), -1);
}

TEST(SimBus, CallCountsByName) {
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 0);
    EXPECT_EQ(SIM_GetCallCount("Stat2Str"), 0);
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    uint32_t value = 0;
    for (int read = 0; read < 3; ++read) WDC_ReadAddr32(handle, 0, 0x7FFF000, &value);
    WDC_ReadAddr32(nullptr, 0, 0x7FFF000, &value);  // refused calls count too
    Stat2Str(0);
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 4);
    EXPECT_EQ(SIM_GetCallCount("Stat2Str"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_PciGetDeviceInfo"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_PciDeviceOpen"), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_WriteAddr32"), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_Nothing"), -1);
    EXPECT_EQ(SIM_GetCallCount(nullptr), -1);
    // SIM_* views are not engine calls.
    SIM_PeekRegister(0, -2048);
    SIM_PeekBar(0, 0, 0x7FFF000, 4);
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 4);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
    SIM_Reset();
    EXPECT_EQ(SIM_GetCallCount("WDC_ReadAddr32"), 0);
    EXPECT_EQ(SIM_GetCallCount("WDC_PciDeviceClose"), 0);
}

TEST(SimBus, StatusTextsAreDistinct) {
    const uint32_t statuses[] = {WD_STATUS_SUCCESS,        WD_INVALID_HANDLE,
                                 WD_READ_WRITE_CONFLICT,   WD_DEVICE_NOT_FOUND,
                                 WD_INVALID_PARAMETER,     WD_OPERATION_ALREADY_DONE,
                                 WD_INSUFFICIENT_RESOURCES, WD_NO_RESOURCES_ON_DEVICE,
                                 WD_NO_DEVICE_OBJECT,      WD_WINDRIVER_STATUS_ERROR};
    std::vector<std::string> texts;
    for (const uint32_t status : statuses) {
        const char *text = Stat2Str(status);
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 3u);
        for (const std::string &earlier : texts) EXPECT_NE(earlier, text) << std::hex << status;
        texts.push_back(text);
    }
    const char *unknown = Stat2Str(0x12345678);
    ASSERT_NE(unknown, nullptr);
    EXPECT_GT(std::strlen(unknown), 3u);
    for (const std::string &known : texts) EXPECT_NE(known, unknown);
    EXPECT_STREQ(Stat2Str(0x7777), unknown);
}

// ---- control device -----------------------------------------------------------------------------------

TEST(SimBus, ControlDevice) {
    const intptr_t handle = WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    ASSERT_GT(handle, 0);
    const intptr_t second = WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    EXPECT_GT(second, 0);
    EXPECT_NE(second, handle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 2);

    std::vector<uint8_t> input(1272, 0);
    uint32_t output = 0x20000000;
    uint32_t returned = 99;
    EXPECT_EQ(WDC_ControlDeviceRequest(handle, 0x9538379F, input.data(),
                                       static_cast<uint32_t>(input.size()), &output,
                                       sizeof(output), &returned),
              1);
    EXPECT_EQ(output, 0u);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(WDC_ControlDeviceRequest(12345, 0x9538379F, nullptr, 0, &output, 4, &returned), 0);

    EXPECT_EQ(WDC_ControlDeviceClose(handle), 1);
    EXPECT_EQ(WDC_ControlDeviceClose(handle), 0);  // already closed
    EXPECT_EQ(WDC_ControlDeviceRequest(handle, 0, nullptr, 0, &output, 4, &returned), 0);
    EXPECT_EQ(WDC_ControlDeviceClose(second), 1);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);

    EXPECT_EQ(WDC_ControlDeviceOpen("\\\\.\\other"), -1);
    EXPECT_EQ(WDC_ControlDeviceOpen(nullptr), -1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_CONTROL_DEVICE, 1), 0);
    EXPECT_EQ(WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME), -1);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_CONTROL_DEVICE, 0), 0);
    const intptr_t third = WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    EXPECT_GT(third, 0);
    EXPECT_EQ(WDC_ControlDeviceClose(third), 1);
    EXPECT_EQ(SIM_GetCallCount("WDC_ControlDeviceOpen"), 6);
}

// ---- access log ---------------------------------------------------------------------------------------

TEST(SimBus, AccessLogRecordsEngineAccessesOnly) {
    const uint32_t ids[] = {0xA001, 0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    WDC_DEVICE_HANDLE handle = OpenBoard(1);
    uint32_t value = 0;
    WDC_WriteAddr32(handle, 0, 0x7FFF000, 0x11);  // log off: not recorded
    SIM_SetAccessLog(1);
    WDC_WriteAddr32(handle, 0, 0x7FFF000, 0x1234);
    WDC_ReadAddr32(handle, 0, 0x7FFF000, &value);
    WDC_WriteAddr8(handle, 2, 0x600002F, 0x80);
    WDC_WriteAddr16(handle, 0, 0x8080002, 0xABCD);
    WDC_PciReadCfg32(handle, 8, &value);
    uint8_t byte = 0;
    WDC_ReadAddr8(handle, 0, 0x10000000, &byte);  // out of range: logged with 0
    SIM_PeekRegister(1, -2048);                   // not the engine
    SIM_PokeRegister(1, -2046, 5);
    SIM_PeekBar(1, 2, 0x6000000, 4);

    const std::vector<SimAccess> log = AccessLog();
    ASSERT_EQ(log.size(), 6u);
    const SimAccess expected[] = {
        {1, 0, 0x7FFF000, 4, 1, 0x1234},       {1, 0, 0x7FFF000, 4, 0, 0x1234},
        {1, 2, 0x600002F, 1, 1, 0x80},         {1, 0, 0x8080002, 2, 1, 0xABCD},
        {1, WDC_CONFIG_SPACE, 8, 4, 0, 0x11800009}, {1, 0, 0x10000000, 1, 0, 0},
    };
    for (size_t entry = 0; entry < log.size(); ++entry) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(log[entry].board, expected[entry].board);
        EXPECT_EQ(log[entry].space, expected[entry].space);
        EXPECT_EQ(log[entry].offset, expected[entry].offset);
        EXPECT_EQ(log[entry].width, expected[entry].width);
        EXPECT_EQ(log[entry].write, expected[entry].write);
        EXPECT_EQ(log[entry].value, expected[entry].value);
    }
    // Up to max oldest entries.
    SimAccess two[2];
    ASSERT_EQ(SIM_GetAccessLog(two, 2), 2);
    EXPECT_EQ(two[1].write, 0u);
    EXPECT_EQ(SIM_GetAccessLog(two, 0), 0);
    EXPECT_EQ(SIM_GetAccessLog(nullptr, 2), -1);
    EXPECT_EQ(SIM_GetAccessLog(two, -1), -1);

    SIM_SetAccessLog(0);
    WDC_ReadAddr32(handle, 0, 0x7FFF000, &value);
    EXPECT_EQ(AccessLog().size(), 6u);
    SIM_ClearAccessLog();
    EXPECT_EQ(AccessLog().size(), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimBus, ResetRestoresPowerOnState) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    WDC_WriteAddr32(handle, 0, 0x7FFF000, 0x55);
    WDC_WriteAddr16(handle, 0, 0x8080000, 0x1FFF);
    WDC_WriteAddr32(handle, 2, 0x2000, 0x66);
    SIM_SetConfigWord(0, 0x3);
    SIM_SetFault(SIM_FAULT_SCAN, 5);
    SIM_SetAccessLog(1);
    uint32_t value = 0;
    WDC_ReadAddr32(handle, 0, 0x7FFF000, &value);
    WDC_DriverOpen(WDC_DRV_OPEN_DEFAULT, nullptr);
    void *user = nullptr;
    WD_DMA *dma = nullptr;
    ASSERT_EQ(WDC_DMAContigBufLock(handle, &user, 0x22, 0x1000000, &dma), 0u);
    WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);

    SIM_Reset();  // also drops what was left open, without leaking it
    for (int resource = SIM_RESOURCE_DRIVER_OPEN; resource <= SIM_RESOURCE_CONTROL_DEVICE; ++resource) {
        EXPECT_EQ(SIM_GetResourceCount(resource), 0) << resource;
    }
    EXPECT_EQ(AccessLog().size(), 0u);
    EXPECT_EQ(SIM_PeekRegister(0, -2048), 0u);
    EXPECT_EQ(SIM_PeekBar(0, 0, 0x8080000, 2), 0u);
    EXPECT_EQ(SIM_PeekBar(0, 2, 0x2000, 4), 0u);
    EXPECT_EQ(Scan().dwNumDevices, 1u);  // fault cleared
    EXPECT_EQ(WDC_ReadAddr32(handle, 0, 0x7FFF000, &value), static_cast<uint32_t>(WD_INVALID_HANDLE));
    EXPECT_EQ(WDC_DMABufUnlock(dma), static_cast<uint32_t>(WD_INVALID_HANDLE));
    handle = OpenBoard(0);
    ASSERT_EQ(WDC_PciReadCfg32(handle, 8, &value), 0u);
    EXPECT_EQ(value, 0x11800009u);
    EXPECT_EQ(AccessLog().size(), 0u);  // the log is off after a reset until switched on
    SIM_SetAccessLog(1);
    WDC_ReadAddr32(handle, 0, 0x7FFF000, &value);
    EXPECT_EQ(AccessLog().size(), 1u);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

}  // namespace
