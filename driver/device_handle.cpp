// Device handles: open with a fresh DeviceContext, close (interrupts off first), and the validity
// check every service of the layer runs first.
#include <new>

#include "driver/driver_layer.h"

namespace ostrel {
namespace {

DeviceContext *ContextOf(WDC_DEVICE_HANDLE handle) {
    return static_cast<DeviceContext *>(WDC_GetDevContext(handle));
}

// The device accepts no active address space too; the search only feeds a trace point.
void TraceActiveAddressSpace(WDC_DEVICE_HANDLE handle) {
    const auto *device = static_cast<const WDC_DEVICE *>(handle);
    for (uint32_t space = 0; space < device->dwNumAddrSpaces; ++space) {
        if (WDC_AddrSpaceIsActive(handle, space)) return;
    }
    DriverTrace("Device does not have any active memory or I/O address spaces\n");
}

}  // namespace

WDC_DEVICE_HANDLE ALT_PCIE_QSYS_SIMPLE_DeviceOpen(const WD_PCI_CARD_INFO *deviceInfo) {
    if (deviceInfo == nullptr) {
        DriverError("ALT_PCIE_QSYS_SIMPLE_DeviceOpen: Error - NULL device information struct "
                    "pointer\n");
        return nullptr;
    }
    auto *context = new (std::nothrow) DeviceContext{};
    if (context == nullptr) {
        DriverError("Failed allocating memory for ALT_PCIE_QSYS_SIMPLE device context\n");
        return nullptr;
    }

    WDC_DEVICE_HANDLE handle = nullptr;
    const uint32_t status =
        WDC_PciDeviceOpen(&handle, deviceInfo, context, nullptr, nullptr, nullptr);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed opening a WDC device handle. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        // Leave nothing behind: a half-opened handle owns the context and frees it on close.
        if (handle != nullptr) {
            ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle);
        } else {
            delete context;
        }
        return nullptr;
    }

    TraceActiveAddressSpace(handle);
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_DeviceOpen: Opened a ALT_PCIE_QSYS_SIMPLE device (handle "
                "0x%p)\n",
                handle);
    return handle;
}

int32_t ALT_PCIE_QSYS_SIMPLE_DeviceClose(WDC_DEVICE_HANDLE handle) {
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_DeviceClose entered. Device handle: 0x%p\n", handle);
    if (handle == nullptr) {
        DriverError("ALT_PCIE_QSYS_SIMPLE_DeviceClose: Error - NULL device handle\n");
        return 0;
    }
    DeviceContext *context = ContextOf(handle);

    if (WDC_IntIsEnabled(handle)) {
        const uint32_t status = ALT_PCIE_QSYS_SIMPLE_IntDisable(handle);
        if (status != WD_STATUS_SUCCESS) {
            DriverError("Failed disabling interrupts. Error 0x%lx - %s\n",
                        static_cast<unsigned long>(status), Stat2Str(status));
        }
    }

    const uint32_t status = WDC_PciDeviceClose(handle);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed closing a WDC device handle (0x%p). Error 0x%lx - %s\n", handle,
                    static_cast<unsigned long>(status), Stat2Str(status));
    }
    delete context;  // also when the library reported a failure
    return status == WD_STATUS_SUCCESS ? 1 : 0;
}

bool CheckDeviceHandle(WDC_DEVICE_HANDLE handle, const char *operationName) {
    const char *missing = nullptr;
    if (handle == nullptr) {
        missing = "handle";
    } else if (WDC_GetDevContext(handle) == nullptr) {
        missing = "context";
    }
    if (missing == nullptr) return true;
    DriverError("%s: NULL device %s\n", operationName, missing);
    return false;
}

}  // namespace ostrel
