// Event services of an open device (insertion, removal, power changes). The caller's handler sits
// in the DeviceContext; the library calls ALT_PCIE_QSYS_SIMPLE_EventHandler.
#include "driver/driver_layer.h"

namespace ostrel {
namespace {

// Device insertion and removal, device power states and system power states.
constexpr uint32_t kEventActions = WD_INSERT | WD_REMOVE | WD_POWER_CHANGED_D0 |
                                   WD_POWER_CHANGED_D1 | WD_POWER_CHANGED_D2 |
                                   WD_POWER_CHANGED_D3 | WD_POWER_SYSTEM_WORKING |
                                   WD_POWER_SYSTEM_SLEEPING1 | WD_POWER_SYSTEM_SLEEPING2 |
                                   WD_POWER_SYSTEM_SLEEPING3 | WD_POWER_SYSTEM_HIBERNATE;
static_assert(kEventActions == 0x3BF3);

}  // namespace

uint32_t ALT_PCIE_QSYS_SIMPLE_EventRegister(WDC_DEVICE_HANDLE handle, EventHandler handler) {
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_EventRegister entered. Device handle: 0x%p\n", handle);
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_EventRegister")) {
        return kStatusInvalidHandle;
    }
    if (WDC_EventIsRegistered(handle)) {
        DriverError("Events are already registered ...\n");
        return kStatusAlreadyDone;
    }

    static_cast<DeviceContext *>(WDC_GetDevContext(handle))->eventHandler = handler;
    const uint32_t status = WDC_EventRegister(handle, kEventActions,
                                              ALT_PCIE_QSYS_SIMPLE_EventHandler, handle, 0);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed to register events. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        return status;
    }
    DriverTrace("Events registered\n");
    return 0;
}

uint32_t ALT_PCIE_QSYS_SIMPLE_EventUnregister(WDC_DEVICE_HANDLE handle) {
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_EventUnregister entered. Device handle: 0x%p\n", handle);
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_EventUnregister")) {
        return kStatusInvalidHandle;
    }
    if (!WDC_EventIsRegistered(handle)) {
        DriverError("Cannot unregister events - no events currently registered ...\n");
        return kStatusAlreadyDone;
    }
    const uint32_t status = WDC_EventUnregister(handle);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed to unregister events. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
    }
    return status;
}

int32_t ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(WDC_DEVICE_HANDLE handle) {
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_EventIsRegistered")) return 0;
    return WDC_EventIsRegistered(handle);
}

void ALT_PCIE_QSYS_SIMPLE_EventHandler(WD_EVENT *event, void *data) {
    WDC_DEVICE_HANDLE handle = data;
    const auto *context = static_cast<const DeviceContext *>(WDC_GetDevContext(handle));
    const uint32_t action = event != nullptr ? event->dwAction : 0u;
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_EventHandler entered, pData: 0x%p, dwAction 0x%lx\n",
                handle, static_cast<unsigned long>(action));
    if (context == nullptr || context->eventHandler == nullptr || event == nullptr) return;
    context->eventHandler(handle, action);
}

}  // namespace ostrel
