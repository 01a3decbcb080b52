// The driver control device: the driver-access library's own when it offers one (the simulated
// bus always does), the kernel driver's device otherwise, so the open and close sequences run
// unchanged whichever library stands behind the contract. The library is bound once per process,
// so a handle always goes back to the side that gave it out.
#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel::os {

namespace {

bool LibraryProvidesControlDevice() {
#if defined(OSTREL_KERNEL_DRIVER)
    return false;
#else
    const WdcFunctions &library = Wdc();
    return library.ControlDeviceOpen != nullptr && library.ControlDeviceRequest != nullptr &&
           library.ControlDeviceClose != nullptr;
#endif
}

}  // namespace

ControlHandle OpenControlDevice() {
    if (!LibraryProvidesControlDevice()) return OpenKernelControlDevice();
    const intptr_t handle = Wdc().ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    return handle > 0 ? handle : kInvalidControlHandle;
}

bool ControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                          uint32_t inputBytes, uint32_t *output) {
    if (handle == kInvalidControlHandle || output == nullptr) return false;
    if (!LibraryProvidesControlDevice()) {
        return KernelControlDeviceRequest(handle, controlCode, input, inputBytes, output);
    }
    uint32_t bytesReturned = 0;
    return Wdc().ControlDeviceRequest(handle, controlCode, input, inputBytes, output,
                                      sizeof(*output), &bytesReturned) != 0;
}

void CloseControlDevice(ControlHandle handle) {
    if (handle == kInvalidControlHandle) return;
    if (!LibraryProvidesControlDevice()) {
        CloseKernelControlDevice(handle);
        return;
    }
    Wdc().ControlDeviceClose(handle);
}

}  // namespace ostrel::os
