// Discovery and device fields of the engine state: what the last scan found and the open board.
#pragma once

#include <cstdint>

#include "platform/wdc/wdc_lib.h"

namespace ostrel {

constexpr int kMaxBoards = 15;             // entries of the discovery tables
constexpr uint32_t kOstrelVendorId = 0x1172;
constexpr int kErrorTextSize = 256;
constexpr int kStatusTextSize = 2048;

struct PciSlot {
    uint32_t bus = 0;
    uint32_t slot = 0;
    uint32_t function = 0;
};

struct DiscoveryState {
    bool SystemScanned = false;        // driver library open and bus scanned
    uint32_t DriverOpenCount = 0;      // references held on the driver library (wraps as unsigned)
    int32_t DeviceCount = 0;           // boards recorded by the last successful scan (at most 15)
    uint32_t VendorID = 0;
    uint32_t DeviceIDs[kMaxBoards] = {};
    uint32_t DeviceBusNumbers[kMaxBoards] = {};
    uint32_t DeviceSlotNumbers[kMaxBoards] = {};
    uint32_t DeviceFunctionNumbers[kMaxBoards] = {};
    PciSlot DeviceSlots[kMaxBoards] = {};
    int32_t ActiveDevice = 0;
    WDC_DEVICE_HANDLE DeviceHandle = nullptr;
    uint32_t DeviceResources[5] = {};
    int32_t LastStatus = 0;
    char ErrorText[kErrorTextSize] = {};    // last message of the board driver layer
    char StatusText[kStatusTextSize] = {};  // last message of discovery, open, close, DMA test
};

}  // namespace ostrel
