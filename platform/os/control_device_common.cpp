// The driver control device, provided by the driver-access library where no kernel driver device
// exists (always so with the simulated bus), so the open and close sequences run unchanged.
#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel::os {

ControlHandle OpenControlDevice() {
    const intptr_t handle = WDC_ControlDeviceOpen(WDC_CONTROL_DEVICE_NAME);
    return handle > 0 ? handle : kInvalidControlHandle;
}

bool ControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                          uint32_t inputBytes, uint32_t *output) {
    if (handle == kInvalidControlHandle || output == nullptr) return false;
    uint32_t bytesReturned = 0;
    return WDC_ControlDeviceRequest(handle, controlCode, input, inputBytes, output,
                                    sizeof(*output), &bytesReturned) != 0;
}

void CloseControlDevice(ControlHandle handle) {
    if (handle != kInvalidControlHandle) WDC_ControlDeviceClose(handle);
}

}  // namespace ostrel::os
