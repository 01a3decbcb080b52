// The board driver layer: the only code that opens and closes things in the PCI driver-access
// library. It keeps a reference count on the library, opens and closes the device handle of one
// board with a small context, checks handles, and formats every failure into ErrorText. None of
// it is exported from the shared library.
#pragma once

#include <cstdint>

#include "engine/printf_format.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

// Statuses the layer returns itself; every other non-zero status is the library's own.
constexpr uint32_t kStatusInvalidHandle = WD_NO_RESOURCES_ON_DEVICE;  // handle failed the check
constexpr uint32_t kStatusAlreadyDone = WD_OPERATION_ALREADY_DONE;    // already in that state
constexpr uint32_t kStatusNoInterrupt = WD_NO_DEVICE_OBJECT;          // no interrupt resource
constexpr uint32_t kStatusNoDriverLibrary = WD_WINDRIVER_STATUS_ERROR;  // none could be bound

// What an interrupt handler receives, all zero before it is filled.
struct IntResult {
    uint32_t dwCounter = 0;         // interrupts received
    uint32_t dwLost = 0;            // interrupts lost
    uint32_t waitResult = 0;        // the library's stopped flag of the device's interrupt
    uint32_t dwEnabledIntType = 0;  // interrupt type in force
    uint32_t dwLastMessage = 0;     // last message word, for the message-carrying types only
};

using InterruptHandler = void (*)(WDC_DEVICE_HANDLE handle, IntResult *result);
using EventHandler = void (*)(WDC_DEVICE_HANDLE handle, uint32_t action);

// Handed to the library as the device's context at open, freed by device close.
struct DeviceContext {
    InterruptHandler interruptHandler = nullptr;
    EventHandler eventHandler = nullptr;
};

// A caller-supplied description of one address space: the number goes in, three texts come out.
struct AddrSpaceInfo {
    uint32_t dwNumAddrSp = 0;
    char sType[8] = {};
    char sName[128] = {};
    char sDesc[128] = {};
};

// Library reference count. Both return 0 or the library's failure status; the first open binds
// the library (driver_binding.h) and returns kStatusNoDriverLibrary when none can be.
uint32_t OpenDriverLibrary();
uint32_t CloseDriverLibrary();

// A device handle with a fresh DeviceContext, or null (nothing left behind on failure).
WDC_DEVICE_HANDLE ALT_PCIE_QSYS_SIMPLE_DeviceOpen(const WD_PCI_CARD_INFO *deviceInfo);
// 1 when the library closed the handle without error, else 0. Always frees the context.
int32_t ALT_PCIE_QSYS_SIMPLE_DeviceClose(WDC_DEVICE_HANDLE handle);

uint32_t ALT_PCIE_QSYS_SIMPLE_IntEnable(WDC_DEVICE_HANDLE handle, InterruptHandler handler);
uint32_t ALT_PCIE_QSYS_SIMPLE_IntDisable(WDC_DEVICE_HANDLE handle);
int32_t ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(WDC_DEVICE_HANDLE handle);
uint32_t ALT_PCIE_QSYS_SIMPLE_EventRegister(WDC_DEVICE_HANDLE handle, EventHandler handler);
uint32_t ALT_PCIE_QSYS_SIMPLE_EventUnregister(WDC_DEVICE_HANDLE handle);
int32_t ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(WDC_DEVICE_HANDLE handle);
uint32_t ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces(WDC_DEVICE_HANDLE handle);
// 1 when the texts were filled, else 0 (bad handle, null info, space out of range).
int32_t ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(WDC_DEVICE_HANDLE handle, AddrSpaceInfo *info);

// True when the handle is non-null and has a context; otherwise ErrorText names the caller.
bool CheckDeviceHandle(WDC_DEVICE_HANDLE handle, const char *operationName);

// Callbacks given to the library; data is the device handle.
void InterruptCallback(void *data);
void ALT_PCIE_QSYS_SIMPLE_EventHandler(WD_EVENT *event, void *data);

// Formats into ErrorText: at most 255 characters, always terminated, replacing what was there.
void DriverError(const char *format, ...) OSTREL_PRINTF_FORMAT(1, 2);
// Trace points of the layer; they format nothing and have no effect.
void DriverTrace(const char *format, ...) OSTREL_PRINTF_FORMAT(1, 2);
// The layer's last message.
const char *DriverLastError();

}  // namespace ostrel
