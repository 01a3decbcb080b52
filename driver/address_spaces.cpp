// Address-space services of an open device: how many there are, and a readable description of one.
#include <cstdio>

#include "driver/driver_layer.h"

namespace ostrel {

uint32_t ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces(WDC_DEVICE_HANDLE handle) {
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces")) return 0;
    return static_cast<const WDC_DEVICE *>(handle)->dwNumAddrSpaces;
}

int32_t ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(WDC_DEVICE_HANDLE handle, AddrSpaceInfo *info) {
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo")) return 0;
    if (info == nullptr) return 0;

    const auto *device = static_cast<const WDC_DEVICE *>(handle);
    const uint32_t space = info->dwNumAddrSp;
    if (space >= device->dwNumAddrSpaces || device->pAddrDesc == nullptr) {
        DriverError("ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo: Error - Address space %ld is out of "
                    "range (0 - %ld)\n",
                    static_cast<long>(space), static_cast<long>(device->dwNumAddrSpaces) - 1);
        return 0;
    }
    const WDC_ADDR_DESC &descriptor = device->pAddrDesc[space];

    std::snprintf(info->sName, sizeof(info->sName), "BAR %ld", static_cast<long>(space));
    std::snprintf(info->sType, sizeof(info->sType), "%s",
                  descriptor.fIsMemory ? "Memory" : "I/O");

    // The item index comes from the library's record; one outside the card's list describes
    // nothing we may read.
    if (WDC_AddrSpaceIsActive(handle, space) && descriptor.dwItemIndex < WD_CARD_ITEMS) {
        const WD_ITEMS &item = device->cardReg.Item[descriptor.dwItemIndex];
        const uint64_t base = descriptor.fIsMemory ? item.I.Mem.pPhysicalAddr : item.I.IO.pAddr;
        const auto low32 = [](uint64_t value) {
            return static_cast<unsigned long>(value & 0xFFFFFFFFu);
        };
        std::snprintf(info->sDesc, sizeof(info->sDesc), "0x%0*lX - 0x%0*lX (0x%lx bytes)", 8,
                      low32(base), 8, low32(base + descriptor.qwBytes - 1),
                      low32(descriptor.qwBytes));
    } else {
        std::snprintf(info->sDesc, sizeof(info->sDesc), "%s", "Inactive address space");
    }
    return 1;
}

}  // namespace ostrel
