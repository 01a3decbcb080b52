#include "lifecycle/discovery.h"

#include <algorithm>

#include "driver/driver_layer.h"
#include "engine/engine_state.h"
#include "engine/status_text.h"

namespace ostrel {
namespace {

// Card resource items the engine keeps, in the library's order: BAR 2, BAR 4, the interrupt.
constexpr int kBar2Item = 1;
constexpr int kBar4Item = 2;
constexpr int kInterruptItem = 3;

uint32_t Low32(uint64_t value) { return static_cast<uint32_t>(value); }

void KeepDeviceResources(const WD_CARD &card) {
    uint32_t *resources = g_engine.discovery.DeviceResources;
    resources[0] = Low32(card.Item[kBar2Item].I.Mem.pPhysicalAddr);
    resources[1] = Low32(card.Item[kBar2Item].I.Mem.qwBytes);
    resources[2] = Low32(card.Item[kBar4Item].I.Mem.pPhysicalAddr);
    resources[3] = Low32(card.Item[kBar4Item].I.Mem.qwBytes);
    resources[4] = card.Item[kInterruptItem].I.words[0];  // the interrupt number
}

}  // namespace

bool DeviceFind(uint32_t vendorId, uint32_t deviceId) {
    WDC_PCI_SCAN_RESULT scan{};
    const uint32_t status = WDC_PciScanDevices(vendorId, deviceId, &scan);
    if (status != WD_STATUS_SUCCESS) {
        SetStatusText("DeviceFind: Failed scanning the PCI bus. Error: 0x%lx - %s\n",
                      static_cast<unsigned long>(status), Stat2Str(status));
        return false;
    }
    const uint32_t found = scan.dwNumDevices;
    if (found == 0) {
        SetStatusText("No matching device was found for search criteria (Vendor ID 0x%lX, "
                      "Device ID 0x%lX)\n",
                      static_cast<unsigned long>(vendorId), static_cast<unsigned long>(deviceId));
        return false;
    }
    SetStatusText("Found %ld matching device%s [ Vendor ID 0x%lX%s, Device ID 0x%lX%s ]:\n",
                  static_cast<long>(found), found > 1 ? "s" : "",
                  static_cast<unsigned long>(vendorId), vendorId == 0 ? " (ALL)" : "",
                  static_cast<unsigned long>(deviceId), deviceId == 0 ? " (ALL)" : "");

    // The tables hold kMaxBoards boards; a bus with more records the first of them only, and
    // everything that reads the tables goes by DeviceCount.
    const uint32_t recorded =
        std::min<uint32_t>({found, uint32_t{kMaxBoards}, uint32_t{WD_PCI_MAX_SCAN}});
    DiscoveryState &discovery = g_engine.discovery;
    discovery.DeviceCount = static_cast<int32_t>(recorded);
    discovery.VendorID = scan.deviceId[0].dwVendorId;
    for (uint32_t board = 0; board < recorded; ++board) {
        const WD_PCI_SLOT &slot = scan.deviceSlot[board];
        discovery.DeviceIDs[board] = scan.deviceId[board].dwDeviceId;
        discovery.DeviceBusNumbers[board] = slot.dwBus;
        discovery.DeviceSlotNumbers[board] = slot.dwSlot;
        discovery.DeviceFunctionNumbers[board] = slot.dwFunction;
        discovery.DeviceSlots[board] = PciSlot{slot.dwBus, slot.dwSlot, slot.dwFunction};
    }
    return true;
}

WDC_DEVICE_HANDLE DeviceOpen(const PciSlot &slot) {
    WD_PCI_CARD_INFO cardInfo{};
    cardInfo.pciSlot = WD_PCI_SLOT{slot.bus, slot.slot, slot.function};
    const uint32_t status = WDC_PciGetDeviceInfo(&cardInfo);
    if (status != WD_STATUS_SUCCESS) {
        SetStatusText("DeviceOpen: Failed retrieving the device's resources information.\n"
                      "Error 0x%lx - %s\n",
                      static_cast<unsigned long>(status), Stat2Str(status));
        return nullptr;
    }
    KeepDeviceResources(cardInfo.Card);

    WDC_DEVICE_HANDLE handle = ALT_PCIE_QSYS_SIMPLE_DeviceOpen(&cardInfo);
    if (handle == nullptr) {
        SetStatusText("DeviceOpen: Failed opening a handle to the device: %s", DriverLastError());
        return nullptr;
    }
    return handle;
}

void DeviceClose(WDC_DEVICE_HANDLE handle) {
    if (handle == nullptr) return;
    if (ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle) == 0) {
        SetStatusText("DeviceClose: Failed closing ALT_PCIE_QSYS_SIMPLE device: %s",
                      DriverLastError());
    }
}

}  // namespace ostrel
