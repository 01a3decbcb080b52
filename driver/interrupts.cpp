// Interrupt services of an open device. The caller's handler sits in the DeviceContext; the
// library calls InterruptCallback, which hands the handler a snapshot of the interrupt state.
#include "driver/driver_layer.h"

namespace ostrel {
namespace {

// Interrupt types whose last message word means something.
constexpr uint32_t kMessageInterruptTypes = 0x10 | 0x20;

bool HasInterruptResource(WDC_DEVICE_HANDLE handle) {
    const auto *device = static_cast<const WDC_DEVICE *>(handle);
    const WD_CARD &card = device->cardReg;
    const uint32_t items = card.dwItems < WD_CARD_ITEMS ? card.dwItems : WD_CARD_ITEMS;
    for (uint32_t item = 0; item < items; ++item) {
        if (card.Item[item].item == ITEM_INTERRUPT) return true;
    }
    return false;
}

}  // namespace

uint32_t ALT_PCIE_QSYS_SIMPLE_IntEnable(WDC_DEVICE_HANDLE handle, InterruptHandler handler) {
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_IntEnable entered. Device handle: 0x%p\n", handle);
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_IntEnable")) return kStatusInvalidHandle;
    if (!HasInterruptResource(handle)) return kStatusNoInterrupt;
    if (WDC_IntIsEnabled(handle)) {
        DriverError("Interrupts are already enabled ...\n");
        return kStatusAlreadyDone;
    }

    static_cast<DeviceContext *>(WDC_GetDevContext(handle))->interruptHandler = handler;
    const auto *device = static_cast<const WDC_DEVICE *>(handle);
    const uint32_t status = WDC_IntEnable(handle, nullptr, 0, 0, InterruptCallback, handle,
                                          static_cast<int>(device->hKernelPlugIn));
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed enabling interrupts. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
        return status;
    }
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_IntEnable: Interrupts enabled\n");
    return 0;
}

uint32_t ALT_PCIE_QSYS_SIMPLE_IntDisable(WDC_DEVICE_HANDLE handle) {
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_IntDisable entered. Device handle: 0x%p\n", handle);
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_IntDisable")) {
        return kStatusInvalidHandle;
    }
    if (!WDC_IntIsEnabled(handle)) {
        DriverError("Interrupts are already disabled ...\n");
        return kStatusAlreadyDone;
    }
    const uint32_t status = WDC_IntDisable(handle);
    if (status != WD_STATUS_SUCCESS) {
        DriverError("Failed disabling interrupts. Error 0x%lx - %s\n",
                    static_cast<unsigned long>(status), Stat2Str(status));
    }
    return status;
}

int32_t ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(WDC_DEVICE_HANDLE handle) {
    if (!CheckDeviceHandle(handle, "ALT_PCIE_QSYS_SIMPLE_IntIsEnabled")) return 0;
    return WDC_IntIsEnabled(handle);
}

void InterruptCallback(void *data) {
    WDC_DEVICE_HANDLE handle = data;
    const auto *context = static_cast<const DeviceContext *>(WDC_GetDevContext(handle));
    // A library that calls after the context is gone, or before a handler is stored, finds
    // nobody to call.
    if (context == nullptr || context->interruptHandler == nullptr) return;

    const WD_INTERRUPT_STATE &state = static_cast<const WDC_DEVICE *>(handle)->Int;
    IntResult result;
    result.dwCounter = state.dwCounter;
    result.dwLost = state.dwLost;
    result.waitResult = state.fStopped;
    result.dwEnabledIntType = state.dwEnabledIntType;
    if ((state.dwEnabledIntType & kMessageInterruptTypes) != 0) {
        result.dwLastMessage = state.dwLastMessage;
    }
    context->interruptHandler(handle, &result);
}

}  // namespace ostrel
