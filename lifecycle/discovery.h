// Bus scan and the opening and closing of one board's handle. Each writes its messages into
// StatusText.
#pragma once

#include <cstdint>

#include "engine/discovery_state.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

constexpr uint32_t kAnyDeviceId = 0;

// Scans for boards of the vendor (and device, 0 for any). True when at least one was found; the
// discovery tables then hold the first kMaxBoards of them. A failed or empty scan changes neither
// the tables nor DeviceCount.
bool DeviceFind(uint32_t vendorId, uint32_t deviceId);

// Reads the board's card information into DeviceResources and opens a handle; null on failure.
WDC_DEVICE_HANDLE DeviceOpen(const PciSlot &slot);

// Closes a non-null handle.
void DeviceClose(WDC_DEVICE_HANDLE handle);

}  // namespace ostrel
