// The driver control device of a machine with the kernel driver installed: the device
// "\\.\windrvr6" itself, through CreateFileA, DeviceIoControl and CloseHandle. Used when the
// driver-access library does not offer the device, and always with OSTREL_KERNEL_DRIVER.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel::os {

namespace {

// How long a request may stay pending before it is cancelled. The one request the engine sends
// (at teardown) completes at once on a working driver; this only keeps a stuck driver from
// holding the close for ever.
constexpr DWORD kRequestTimeoutMilliseconds = 5000;

HANDLE ToWin32(ControlHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ControlHandle OpenKernelControlDevice() {
    const HANDLE device =
        CreateFileA(WDC_CONTROL_DEVICE_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    // INVALID_HANDLE_VALUE is -1, the same as kInvalidControlHandle; say so explicitly anyway.
    if (device == INVALID_HANDLE_VALUE || device == nullptr) return kInvalidControlHandle;
    return reinterpret_cast<ControlHandle>(device);
}

bool KernelControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                                uint32_t inputBytes, uint32_t *output) {
    if (handle == kInvalidControlHandle || output == nullptr) return false;
    if (input == nullptr && inputBytes != 0) return false;
    const HANDLE device = ToWin32(handle);

    // The device is opened for overlapped I/O, and DeviceIoControl on such a handle without an
    // OVERLAPPED record has no defined outcome: give it one with its own event and wait here.
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return false;

    DWORD bytesReturned = 0;
    BOOL completed = DeviceIoControl(device, controlCode, const_cast<void *>(input), inputBytes,
                                     output, sizeof(*output), &bytesReturned, &overlapped);
    if (!completed && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kRequestTimeoutMilliseconds) != WAIT_OBJECT_0) {
            CancelIoEx(device, &overlapped);
        }
        // Even a cancelled request completes; wait for that, so that neither the output word
        // nor the OVERLAPPED record is still in the driver's hands when this frame ends.
        completed = GetOverlappedResult(device, &overlapped, &bytesReturned, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    return completed != FALSE;
}

void CloseKernelControlDevice(ControlHandle handle) {
    if (handle != kInvalidControlHandle) CloseHandle(ToWin32(handle));
}

}  // namespace ostrel::os
