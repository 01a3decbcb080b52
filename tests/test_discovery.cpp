// Bus scan, open and close through the exports: every path of the open, what the close resets,
// the discovery tables and the device-information exports with their refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "support/board_scenario.h"

namespace {

using ostrel::g_engine;
using ostrel::test::AccessLog;
using ostrel::test::ErrorText;
using ostrel::test::Format;
using ostrel::test::StatusText;
using ostrel::test::UseBoards;

constexpr uint32_t kVendor = 0x1172;

int Calls(const char *operation) { return SIM_GetCallCount(operation); }
int Resources(int resource) { return SIM_GetResourceCount(resource); }

// ---- scanning -------------------------------------------------------------------------------

TEST(Discovery, CheckSystemCountsTheBoardsOncePerOpenCloseCycle) {
    UseBoards({0xA006, 0xA001, 0xA005});
    int32_t count = -1;
    EXPECT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(StatusText(),
              "Found 3 matching devices [ Vendor ID 0x1172, Device ID 0x0 (ALL) ]:\n");

    count = -1;  // a second check neither scans nor writes the count
    EXPECT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(Calls("WDC_PciScanDevices"), 1);

    // The open that follows uses the recorded scan.
    EXPECT_EQ(DAQ_OpenDevice(2), 0);
    EXPECT_EQ(Calls("WDC_PciScanDevices"), 1);
    EXPECT_EQ(g_engine.model.ModelType, 8);
}

TEST(Discovery, OneBoardIsFoundInTheSingular) {
    UseBoards({0xA006});
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(StatusText(), "Found 1 matching device [ Vendor ID 0x1172, Device ID 0x0 (ALL) ]:\n");
}

TEST(Discovery, ScanRecordsVendorIdsAndLocationsInScanOrder) {
    UseBoards({0xA006, 0xA005});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const ostrel::DiscoveryState &discovery = g_engine.discovery;
    EXPECT_EQ(discovery.DeviceCount, 2);
    EXPECT_EQ(discovery.VendorID, kVendor);
    for (int board = 0; board < 2; ++board) {
        SCOPED_TRACE(board);
        // Board b of the simulated bus sits at bus b + 1, slot 0, function 0.
        EXPECT_EQ(discovery.DeviceBusNumbers[board], static_cast<uint32_t>(board + 1));
        EXPECT_EQ(discovery.DeviceSlotNumbers[board], 0u);
        EXPECT_EQ(discovery.DeviceFunctionNumbers[board], 0u);
        EXPECT_EQ(discovery.DeviceSlots[board].bus, static_cast<uint32_t>(board + 1));
    }
    EXPECT_EQ(discovery.DeviceIDs[0], 0xA006u);
    EXPECT_EQ(discovery.DeviceIDs[1], 0xA005u);
}

TEST(Discovery, NoBoardAfterACheckMakesTheOpenRefuseWithoutScanning) {
    UseBoards({});
    int32_t count = -1;
    EXPECT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(DAQ_OpenDevice(0), -1);
    EXPECT_EQ(g_engine.discovery.LastStatus, -1);
    EXPECT_EQ(Calls("WDC_PciScanDevices"), 1);
    EXPECT_EQ(Calls("WDC_PciDeviceOpen"), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(Discovery, NoBoardWithoutACheckScansOnEveryOpen) {
    UseBoards({});
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(DAQ_OpenDevice(0), 0);
        EXPECT_EQ(Calls("WDC_PciScanDevices"), attempt);
        EXPECT_FALSE(g_engine.discovery.SystemScanned);
        EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
        EXPECT_EQ(StatusText(), "No matching device was found for search criteria (Vendor ID "
                                "0x1172, Device ID 0x0)\n");
    }
    // One library reference is held for the cycle, whatever the number of opens, and the close
    // gives it back.
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);

    // A check after such an open takes no second reference either.
    EXPECT_EQ(DAQ_OpenDevice(0), 0);
    int32_t count = -1;
    EXPECT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(Discovery, FailedScanLeavesTheTablesOfTheScanBefore) {
    UseBoards({0xA005, 0xA001});
    ASSERT_EQ(DAQ_OpenDevice(1), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);

    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_SCAN, status), 0);
    EXPECT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(StatusText(), Format("DeviceFind: Failed scanning the PCI bus. Error: 0x%x - %s\n",
                                   status, Stat2Str(status)));
    EXPECT_FALSE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    EXPECT_EQ(g_engine.discovery.DeviceCount, 2);
    EXPECT_EQ(g_engine.discovery.DeviceIDs[1], 0xA001u);

    // An empty scan keeps them too.
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_SCAN, 0), 0);
    UseBoards({});
    EXPECT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(g_engine.discovery.DeviceCount, 2);
    int32_t model = -99;
    EXPECT_EQ(DAQ_GetDeviceModel(1, &model), 0);
    EXPECT_EQ(model, 5);
}

TEST(Discovery, AFullBusIsRecordedUpToFifteenBoards) {
    std::vector<uint32_t> ids;
    for (int board = 0; board < 20; ++board) ids.push_back(board % 2 ? 0xA005 : 0xA006);
    ids[14] = 0xA001;
    ids[15] = 0xA007;  // the sixteenth board is not recorded
    UseBoards(ids);

    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(count, 15);
    EXPECT_EQ(g_engine.discovery.DeviceCount, 15);
    EXPECT_EQ(StatusText(),
              "Found 20 matching devices [ Vendor ID 0x1172, Device ID 0x0 (ALL) ]:\n");
    // Neighbouring tables hold their own values: nothing spilled over.
    EXPECT_EQ(g_engine.discovery.DeviceBusNumbers[0], 1u);
    EXPECT_EQ(g_engine.discovery.DeviceSlots[0].bus, 1u);
    EXPECT_EQ(g_engine.discovery.ActiveDevice, 0);

    uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
    EXPECT_EQ(DAQ_GetDeviceInfo(14, &vendor, &device, &bus, &slot, &function, &resource), 0);
    EXPECT_EQ(device, 0xA001u);
    EXPECT_EQ(bus, 15u);
    EXPECT_EQ(DAQ_GetDeviceInfo(15, &vendor, &device, &bus, &slot, &function, &resource), -1);
    EXPECT_EQ(device, 0xA001u);

    EXPECT_EQ(DAQ_OpenDevice(14), 0);
    EXPECT_EQ(g_engine.model.ModelType, 5);
}

// ---- the open results -------------------------------------------------------------------------

TEST(OpenDevice, LibraryThatCannotBeOpenedRefusesAndKeepsItsReference) {
    const struct {
        int fault;
        uint32_t status;
        const char *format;
    } rows[] = {
        {SIM_FAULT_DRIVER_OPEN, WD_INSUFFICIENT_RESOURCES,
         "Failed to initialize the WDC library. Error 0x%x - %s\n"},
        {SIM_FAULT_DEBUG_OPTIONS, WD_INVALID_PARAMETER,
         "Failed to initialize debug options for WDC library.\nError 0x%x - %s\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "fault " << row.fault);
        g_engine.discovery.DriverOpenCount = 0;
        ASSERT_EQ(SIM_SetFault(row.fault, row.status), 0);
        EXPECT_EQ(DAQ_OpenDevice(0), -1);
        EXPECT_EQ(g_engine.discovery.LastStatus, static_cast<int32_t>(row.status));
        EXPECT_FALSE(g_engine.discovery.SystemScanned);
        EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
        EXPECT_EQ(ErrorText(), Format(row.format, row.status, Stat2Str(row.status)));
        EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);

        int32_t count = -5;  // the check refuses the same way and writes no count
        g_engine.discovery.DriverOpenCount = 0;
        EXPECT_EQ(DAQ_CheckSystem(&count), -1);
        EXPECT_EQ(count, -5);
        EXPECT_FALSE(g_engine.discovery.SystemScanned);
        ASSERT_EQ(SIM_SetFault(row.fault, 0), 0);
    }
    EXPECT_EQ(Calls("WDC_PciScanDevices"), 0);
}

TEST(OpenDevice, RevisionOtherThanNineRefusesWithTheDeviceOpen) {
    const struct {
        uint32_t word;
        int32_t result;
    } rows[] = {{0x11800009, 0},  {0x11800019, 0},  {0x00000009, 0},  {0x11800008, -2},
                {0x1180000A, -2}, {0x11800000, -2}, {0x1180000F, -2}, {0x11800090, -2},
                {0x11800001, -2}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "configuration word 0x" << std::hex << row.word);
        UseBoards({0xA002});
        ASSERT_EQ(SIM_SetConfigWord(0, row.word), 0);
        g_engine.model.SamplingRateCount = 0;
        EXPECT_EQ(DAQ_OpenDevice(0), row.result);
        EXPECT_EQ(g_engine.discovery.LastStatus, 0);
        // Open and identified either way; the rate table only when the revision matched.
        EXPECT_NE(g_engine.discovery.DeviceHandle, nullptr);
        EXPECT_EQ(g_engine.model.ModelType, 6);
        EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 1);
        EXPECT_EQ(g_engine.model.SamplingRateCount, row.result == 0 ? 6 : 0);

        EXPECT_EQ(DAQ_CloseDevice(), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
        EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    }
}

TEST(OpenDevice, FailedDeviceOpenEndsAsRevisionMismatchAndLeavesNothingOpen) {
    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_OPEN, status), 0);
    EXPECT_EQ(DAQ_OpenDevice(0), -2);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
    EXPECT_EQ(g_engine.model.ModelType, 9);  // the default board's model is applied all the same
    const std::string driverText =
        Format("Failed opening a WDC device handle. Error 0x%x - %s\n", status, Stat2Str(status));
    EXPECT_EQ(ErrorText(), driverText);
    EXPECT_EQ(StatusText(), "DeviceOpen: Failed opening a handle to the device: " + driverText);
    // No configuration read without a handle.
    EXPECT_EQ(Calls("WDC_PciReadCfg32"), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Calls("WDC_PciDeviceClose"), 0);
}

TEST(OpenDevice, FailedDeviceInformationEndsAsRevisionMismatch) {
    const uint32_t status = WD_DEVICE_NOT_FOUND;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_INFO, status), 0);
    EXPECT_EQ(DAQ_OpenDevice(0), -2);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    EXPECT_EQ(Calls("WDC_PciDeviceOpen"), 0);
    EXPECT_EQ(StatusText(),
              Format("DeviceOpen: Failed retrieving the device's resources information.\n"
                     "Error 0x%x - %s\n",
                     status, Stat2Str(status)));
}

TEST(OpenDevice, IndexOutOfRangeKeepsTheBoardOpenedBefore) {
    UseBoards({0xA001, 0xA005});
    const struct {
        int32_t index;
        int32_t activeDevice;
        int32_t modelType;
    } steps[] = {{1, 1, 8}, {7, 1, 8}, {-1, 1, 8}, {2, 1, 8}, {0, 0, 5}, {INT_MIN, 0, 5},
                 {INT_MAX, 0, 5}, {1, 1, 8}};
    for (const auto &step : steps) {
        SCOPED_TRACE(testing::Message() << "open index " << step.index);
        EXPECT_EQ(DAQ_OpenDevice(step.index), 0);
        EXPECT_EQ(g_engine.discovery.ActiveDevice, step.activeDevice);
        EXPECT_EQ(g_engine.model.ModelType, step.modelType);
        EXPECT_NE(g_engine.discovery.DeviceHandle, nullptr);
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

TEST(OpenDevice, FirstOpenInAFreshProcessWithAnIndexOutOfRangeOpensBoardZero) {
    UseBoards({0xA005, 0xA001});
    EXPECT_EQ(DAQ_OpenDevice(9), 0);
    EXPECT_EQ(g_engine.discovery.ActiveDevice, 0);
    EXPECT_EQ(g_engine.model.ModelType, 8);
}

TEST(OpenDevice, WhileAcquisitionRunsNothingChanges) {
    UseBoards({0xA001, 0xA005});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    g_engine.acquisition.ThreadStopped.store(false);  // as if the acquisition thread ran
    EXPECT_EQ(DAQ_OpenDevice(1), 0);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, handle);
    EXPECT_EQ(g_engine.discovery.ActiveDevice, 0);
    EXPECT_EQ(g_engine.model.ModelType, 5);
    EXPECT_EQ(Calls("WDC_PciDeviceOpen"), 1);
    g_engine.acquisition.ThreadStopped.store(true);
}

TEST(OpenDevice, KeepsTheResourcesOfTheOpenedBoard) {
    UseBoards({0xA006, 0xA005});
    ASSERT_EQ(DAQ_OpenDevice(1), 0);

    // The library's own view of the same board.
    WD_PCI_CARD_INFO info{};
    info.pciSlot = WD_PCI_SLOT{2, 0, 0};
    ASSERT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    uint32_t words[4] = {1, 1, 1, 1};
    EXPECT_EQ(GetDeviceResource(&words[0], &words[1], &words[2], &words[3]), 0);
    EXPECT_EQ(words[0], static_cast<uint32_t>(info.Card.Item[1].I.Mem.pPhysicalAddr));
    EXPECT_EQ(words[1], 0x08000000u);  // BAR 2 length
    EXPECT_EQ(words[2], static_cast<uint32_t>(info.Card.Item[2].I.Mem.pPhysicalAddr));
    EXPECT_EQ(words[3], 0x10000u);     // BAR 4 length
    EXPECT_NE(words[0], words[2]);

    // The resource word is that of the opened board (interrupt 16 + 1), whatever the index.
    for (int32_t index : {0, 1}) {
        uint32_t vendor = 0, device = 0, bus = 0, slot = 9, function = 9, resource = 0;
        EXPECT_EQ(DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource), 0);
        EXPECT_EQ(resource, 17u) << "index " << index;
        EXPECT_EQ(vendor, kVendor);
        EXPECT_EQ(device, index == 0 ? 0xA006u : 0xA005u);
        EXPECT_EQ(bus, static_cast<uint32_t>(index + 1));
        EXPECT_EQ(slot, 0u);
        EXPECT_EQ(function, 0u);
    }
}

// ---- a second open without a close ------------------------------------------------------------

// Waits (up to 20 s of wall time) for an announced frame and reads it; the median of lane 0.
bool ReadAFrame(uint32_t length, uint32_t number, int16_t &laneZeroMedian) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (DAQ_NewDataFrameAvailable() == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const size_t perLane = static_cast<size_t>(length) * number;
    std::vector<std::vector<int16_t>> lanes(4, std::vector<int16_t>(perLane));
    if (DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(), lanes[3].data()) !=
        0) {
        return false;
    }
    std::nth_element(lanes[0].begin(), lanes[0].begin() + perLane / 2, lanes[0].end());
    laneZeroMedian = lanes[0][perLane / 2];
    return true;
}

TEST(OpenDevice, ASecondOpenWithoutACloseHoldsOneBoard) {
    // What the first board is doing when the second open comes.
    enum class Acquisition { None, Configured, Stopped, Running };
    const struct {
        const char *name;
        std::vector<uint32_t> boards;
        uint32_t firstConfigWord;  // configuration word of board 0 at the first open
        int32_t firstIndex, firstResult, secondIndex;
        Acquisition acquisition;
        int32_t modelAfter;  // the model open after the second call
    } cases[] = {
        {"model 5, nothing configured", {0xA001}, 0x11800009, 0, 0, 0, Acquisition::None, 5},
        {"model 7, configured", {0xA004}, 0x11800009, 0, 0, 0, Acquisition::Configured, 7},
        {"model 8, acquired and stopped", {0xA005}, 0x11800009, 0, 0, 0, Acquisition::Stopped, 8},
        {"model 6 (generator), configured", {0xA002}, 0x11800009, 0, 0, 0,
         Acquisition::Configured, 6},
        {"model 10, then the model 9 beside it", {0xA007, 0xA006}, 0x11800009, 0, 0, 1,
         Acquisition::Stopped, 9},
        {"first open refused for its revision", {0xA006}, 0x11800008, 0, -2, 0, Acquisition::None,
         9},
        {"model 9 acquiring: the second open leaves it", {0xA006, 0xA001}, 0x11800009, 0, 0, 1,
         Acquisition::Running, 9},
    };
    constexpr uint32_t kLength = 1024, kNumber = 16;
    // Each board's inputs get a level of their own, so a frame tells which board it came from. The
    // readout is the level give or take the zero error (up to 300 codes) and the table offset in
    // force (up to about 1000); an unwritten buffer would read near -8192 - offset. The 12-bit
    // board centres on 2048, so it reads 6144 lower, with levels inside its range.
    auto twelveBit = [](uint32_t deviceId) { return deviceId == 0xA004 || deviceId == 0xE001; };
    auto levelOf = [&](const std::vector<uint32_t> &boards, int board) {
        return (board == 0 ? -1.0 : 1.0) * (twelveBit(boards[static_cast<size_t>(board)]) ? 1700.0
                                                                                           : 5000.0);
    };
    auto readoutOf = [&](const std::vector<uint32_t> &boards, int board) {
        return levelOf(boards, board) +
               (twelveBit(boards[static_cast<size_t>(board)]) ? 2048.0 - 8192.0 : 0.0);
    };
    constexpr int kLevelTolerance = 2000;

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SIM_Reset();
        UseBoards(c.boards);
        ASSERT_EQ(SIM_SetConfigWord(0, c.firstConfigWord), 0);
        ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
        for (int board = 0; board < static_cast<int>(c.boards.size()); ++board) {
            for (int input = 0; input < 4; ++input) {
                SIM_SetInputSignal(board, input, levelOf(c.boards, board), 0.0, 0.0, 0.0);
            }
        }

        ASSERT_EQ(DAQ_OpenDevice(c.firstIndex), c.firstResult);
        const bool firstOpened = c.firstResult == 0;
        if (firstOpened) {
            ASSERT_EQ(AWG_SetAmplitude(0, 0.5f), 0);
            if (c.acquisition != Acquisition::None) {
                ASSERT_EQ(DAQ_ConfigAcquisition(kLength, kNumber), 0);
            }
            if (c.acquisition == Acquisition::Stopped || c.acquisition == Acquisition::Running) {
                ASSERT_EQ(DAQ_StartAcquisition(), 0);
                int16_t median = 0;
                ASSERT_TRUE(ReadAFrame(kLength, kNumber, median));
            }
            if (c.acquisition == Acquisition::Stopped) {
                ASSERT_EQ(DAQ_StopAcquisition(), 0);
            }
        }
        ASSERT_EQ(SIM_SetConfigWord(0, 0x11800009), 0);

        const bool running = c.acquisition == Acquisition::Running;
        const WDC_DEVICE_HANDLE handleBefore = g_engine.discovery.DeviceHandle;
        EXPECT_EQ(DAQ_OpenDevice(c.secondIndex), 0);

        // One board held: one handle, one locked buffer, one control device, one library reference.
        EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 1);
        EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 1);
        EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 1);
        EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
        EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
        EXPECT_EQ(Calls("WDC_PciScanDevices"), 1) << "the scan is not repeated";
        EXPECT_EQ(Calls("WDC_PciDeviceOpen"), running ? 1 : 2);
        EXPECT_EQ(Calls("WDC_PciDeviceClose"), running ? 0 : 1);
        // The first board's buffer is given back before the new lock, unless it still acquires.
        EXPECT_EQ(Calls("WDC_DMABufUnlock"), running || !firstOpened ? 0 : 1);
        EXPECT_EQ(Calls("WDC_DMAContigBufLock"), running || !firstOpened ? 1 : 2);
        EXPECT_EQ(g_engine.model.ModelType, c.modelAfter);
        const int32_t acquiredBoard = running ? c.firstIndex : c.secondIndex;
        EXPECT_EQ(g_engine.discovery.ActiveDevice, acquiredBoard);
        if (running) {
            EXPECT_EQ(g_engine.discovery.DeviceHandle, handleBefore);
            EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
        } else {
            // The first board's record request and generator settings are gone with it.
            EXPECT_EQ(g_engine.acquisition.RecordLength, 0u);
            EXPECT_EQ(g_engine.acquisition.RecordNumber, 0u);
            EXPECT_FALSE(g_engine.acquisition.HostBuffersAllocated);
        }
        float amplitude = -1.0f;
        EXPECT_EQ(AWG_GetAmplitude(0, &amplitude), 0);
        EXPECT_EQ(amplitude, running && firstOpened ? 0.5f : 0.0f);

        // The board open now acquires frames of its own inputs.
        if (!running) {
            ASSERT_EQ(DAQ_ConfigAcquisition(kLength, kNumber), 0);
            ASSERT_EQ(DAQ_StartAcquisition(), 0);
        }
        int16_t median = 0;
        EXPECT_TRUE(ReadAFrame(kLength, kNumber, median));
        EXPECT_NEAR(median, readoutOf(c.boards, acquiredBoard), kLevelTolerance);
        EXPECT_EQ(DAQ_StopAcquisition(), 0);

        // And one close gives everything back.
        EXPECT_EQ(DAQ_CloseDevice(), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_DMA_BUFFERS), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_CONTROL_DEVICE), 0);
        EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
        EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
        EXPECT_FALSE(g_engine.generator.ChannelStateExists());
        SIM_Reset();  // the board's own thread ends before the next case
    }
}

// ---- the close ----------------------------------------------------------------------------------

TEST(CloseDevice, ReleasesTheBoardAndTheLibraryAndForgetsTheScan) {
    UseBoards({0xA006, 0xA005});
    ASSERT_EQ(DAQ_OpenDevice(1), 0);
    g_engine.acquisition.RecordLength = 1024;
    g_engine.acquisition.RecordNumber = 8;
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);

    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    EXPECT_FALSE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
    EXPECT_EQ(g_engine.acquisition.RecordLength, 0u);
    EXPECT_EQ(g_engine.acquisition.RecordNumber, 0u);
    // What the last board was stays readable.
    EXPECT_EQ(g_engine.discovery.DeviceCount, 2);
    EXPECT_EQ(g_engine.discovery.ActiveDevice, 1);
    EXPECT_EQ(g_engine.model.ModelType, 8);

    // The next open scans again.
    EXPECT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(Calls("WDC_PciScanDevices"), 2);
}

TEST(CloseDevice, TwiceClosesNoDeviceAndTheNextCycleStillClosesTheLibrary) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Calls("WDC_PciDeviceClose"), 1);
    EXPECT_EQ(Calls("WDC_DriverClose"), 1);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);

    // The surplus close took nothing: the next open and close leave the library closed.
    EXPECT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
    EXPECT_EQ(Calls("WDC_DriverOpen"), 2);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(CloseDevice, FailedDeviceCloseStillGivesBackTheLibrary) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    const uint32_t status = WD_INVALID_HANDLE;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_CLOSE, status), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    const std::string driverText =
        Format("Failed closing a WDC device handle (0x%p). Error 0x%x - %s\n", handle, status,
               Stat2Str(status));
    EXPECT_EQ(ErrorText(), driverText);
    EXPECT_EQ(StatusText(),
              "DeviceClose: Failed closing ALT_PCIE_QSYS_SIMPLE device: " + driverText);
    EXPECT_EQ(g_engine.discovery.DeviceHandle, nullptr);
    EXPECT_FALSE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(CloseDevice, FailedLibraryCloseIsTheResult) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    const uint32_t status = WD_WINDRIVER_STATUS_ERROR;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DRIVER_CLOSE, status), 0);
    EXPECT_EQ(DAQ_CloseDevice(), static_cast<int32_t>(status));
    EXPECT_EQ(g_engine.discovery.LastStatus, static_cast<int32_t>(status));
    EXPECT_EQ(ErrorText(),
              Format("Failed to uninit the WDC library. Error 0x%x - %s\n", status,
                     Stat2Str(status)));
    EXPECT_FALSE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
    // The library stayed open; a close once the fault has gone gives it back.
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DRIVER_CLOSE, 0), 0);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

// ---- device information and refusals ---------------------------------------------------------

TEST(DeviceInfo, BeforeAnyScanThereAreNoBoards) {
    int32_t count = -1;
    EXPECT_EQ(DAQ_GetDeviceNum(&count), 0);
    EXPECT_EQ(count, 0);
    int32_t model = 42;
    EXPECT_EQ(DAQ_GetDeviceModel(0, &model), -1);  // index 0 is not a recorded board
    EXPECT_EQ(model, 42);
}

TEST(DeviceInfo, ExportsReturnTheLastStatus) {
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    g_engine.discovery.LastStatus = 1234;
    int32_t count = 0;
    uint32_t words[6] = {};
    EXPECT_EQ(DAQ_GetDeviceNum(&count), 1234);
    EXPECT_EQ(
        DAQ_GetDeviceInfo(0, &words[0], &words[1], &words[2], &words[3], &words[4], &words[5]),
        1234);
    EXPECT_EQ(GetDeviceResource(&words[0], &words[1], &words[2], &words[3]), 1234);
    EXPECT_EQ(ReadConfigurationRegister(), 1234);
}

TEST(DeviceInfo, IndicesOutsideTheRecordedBoardsWriteNothing) {
    UseBoards({0xA006, 0xA005});
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    for (int32_t index : {-1, 2, 3, 14, 15, 16, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(testing::Message() << "index " << index);
        uint32_t words[6] = {7, 7, 7, 7, 7, 7};
        EXPECT_EQ(DAQ_GetDeviceInfo(index, &words[0], &words[1], &words[2], &words[3], &words[4],
                                    &words[5]),
                  -1);
        for (uint32_t word : words) EXPECT_EQ(word, 7u);
        int32_t model = 7;
        g_engine.discovery.LastStatus = 5;
        EXPECT_EQ(DAQ_GetDeviceModel(index, &model), -1);
        EXPECT_EQ(model, 7);
        EXPECT_EQ(g_engine.discovery.LastStatus, 5);
    }
}

TEST(DeviceInfo, NullOutPointersAreRefusedAndNothingIsWritten) {
    UseBoards({0xA006});
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    EXPECT_EQ(DAQ_CheckSystem(nullptr), -1);
    EXPECT_EQ(DAQ_GetDeviceNum(nullptr), -1);
    EXPECT_EQ(DAQ_GetDeviceModel(0, nullptr), -1);
    EXPECT_EQ(ReadMemory32(-2048, nullptr), -1);

    for (int missing = 0; missing < 6; ++missing) {
        SCOPED_TRACE(testing::Message() << "null argument " << missing);
        uint32_t words[6] = {7, 7, 7, 7, 7, 7};
        uint32_t *pointers[6] = {&words[0], &words[1], &words[2], &words[3], &words[4], &words[5]};
        pointers[missing] = nullptr;
        EXPECT_EQ(DAQ_GetDeviceInfo(0, pointers[0], pointers[1], pointers[2], pointers[3],
                                    pointers[4], pointers[5]),
                  -1);
        for (uint32_t word : words) EXPECT_EQ(word, 7u);
        if (missing < 4) {
            EXPECT_EQ(GetDeviceResource(pointers[0], pointers[1], pointers[2], pointers[3]), -1);
            for (uint32_t word : words) EXPECT_EQ(word, 7u);
        }
    }
}

TEST(DeviceInfo, CheckSystemWithANullCountTakesNoLibraryReference) {
    EXPECT_EQ(DAQ_CheckSystem(nullptr), -1);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
    EXPECT_FALSE(g_engine.discovery.SystemScanned);
    EXPECT_EQ(Calls("WDC_DriverOpen"), 0);
}

// ---- small board exports ------------------------------------------------------------------------

TEST(BoardExports, ReadConfigurationRegisterReadsTheRevisionWordTwice) {
    EXPECT_EQ(ReadConfigurationRegister(), 0);  // nothing open: no access
    EXPECT_EQ(Calls("WDC_PciReadCfg32"), 0);

    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    SIM_SetAccessLog(1);
    EXPECT_EQ(ReadConfigurationRegister(), 0);
    const std::vector<SimAccess> log = AccessLog();
    ASSERT_EQ(log.size(), 2u);
    for (const SimAccess &access : log) {
        EXPECT_EQ(access.space, WDC_CONFIG_SPACE);
        EXPECT_EQ(access.offset, 8u);
        EXPECT_EQ(access.width, 4u);
        EXPECT_EQ(access.write, 0u);
        EXPECT_EQ(access.value, 0x11800009u);
    }
}

TEST(BoardExports, TestFunctionIsTheFourthPowerModulo2To32) {
    const struct {
        uint32_t x;
        uint32_t result;
    } rows[] = {{0, 0},          {1, 1},           {2, 16},          {3, 81},
                {255, 0xFC05FC01}, {256, 0},        {65535, 0xFFFC0001}, {65536, 0},
                {0xFFFFFFFF, 1}, {0x80000000, 0}};
    for (const auto &row : rows) {
        EXPECT_EQ(TestFunction(row.x), row.result) << "x = " << row.x;
    }
}

}  // namespace
