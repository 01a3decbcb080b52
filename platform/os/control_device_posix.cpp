// The kernel driver's device on POSIX: /dev/windrvr6, the node the driver-access library's kernel
// driver creates, opened when the library does not offer the control device itself.
#include <fcntl.h>
#include <unistd.h>

#include "platform/os/os_services.h"

namespace ostrel::os {

namespace {

constexpr const char *kKernelDeviceNode = "/dev/windrvr6";

}  // namespace

ControlHandle OpenKernelControlDevice() {
    const int device = open(kKernelDeviceNode, O_RDONLY | O_CLOEXEC);
    return device >= 0 ? static_cast<ControlHandle>(device) : kInvalidControlHandle;
}

bool KernelControlDeviceRequest(ControlHandle handle, uint32_t, const void *, uint32_t,
                                uint32_t *output) {
    // The engine's one request carries a Windows control code, which means nothing to a POSIX
    // driver; sending it as an ioctl could ask the driver for something else. Its result is not
    // looked at, so the teardown goes on as if it had been refused.
    (void)handle;
    (void)output;
    return false;
}

void CloseKernelControlDevice(ControlHandle handle) {
    if (handle != kInvalidControlHandle) close(static_cast<int>(handle));
}

}  // namespace ostrel::os
