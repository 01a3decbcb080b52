// The engine's side of the driver-access contract: a table of the contract's operations, filled
// at run time from whichever library stands behind the contract (driver/driver_binding.cpp). The
// engine links against no driver-access library; its code keeps calling WDC_ReadAddr32 and the
// rest by their contract names, which in the engine are calls through the table in force.
// Included by wdc_lib.h in engine builds only; tests, the simulator and programs see the plain
// declarations instead.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel {

struct WdcFunctions {
    uint32_t (*SetDebugOptions)(uint32_t dbgOptions, const char *dbgFile);
    uint32_t (*DriverOpen)(uint32_t openOptions, const char *license);
    uint32_t (*DriverClose)();
    const char *(*StatusString)(uint32_t status);  // Stat2Str
    uint32_t (*PciScanDevices)(uint32_t vendorId, uint32_t deviceId, WDC_PCI_SCAN_RESULT *result);
    uint32_t (*PciGetDeviceInfo)(WD_PCI_CARD_INFO *deviceInfo);
    uint32_t (*PciDeviceOpen)(WDC_DEVICE_HANDLE *handle, const WD_PCI_CARD_INFO *deviceInfo,
                              void *context, void *reserved, const char *kernelPlugInName,
                              void *kernelPlugInData);
    uint32_t (*PciDeviceClose)(WDC_DEVICE_HANDLE handle);
    void *(*GetDevContext)(WDC_DEVICE_HANDLE handle);
    int (*AddrSpaceIsActive)(WDC_DEVICE_HANDLE handle, uint32_t addrSpace);
    uint32_t (*ReadAddr32)(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                           uint32_t *value);
    uint32_t (*WriteAddr8)(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                           uint8_t value);
    uint32_t (*WriteAddr16)(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                            uint16_t value);
    uint32_t (*WriteAddr32)(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                            uint32_t value);
    uint32_t (*PciReadCfg32)(WDC_DEVICE_HANDLE handle, uint32_t offset, uint32_t *value);
    uint32_t (*DMAContigBufLock)(WDC_DEVICE_HANDLE handle, void **userAddress, uint32_t options,
                                 uint32_t size, WD_DMA **dma);
    uint32_t (*DMABufUnlock)(WD_DMA *dma);
    uint32_t (*IntEnable)(WDC_DEVICE_HANDLE handle, void *transferCommands, uint32_t commandCount,
                          uint32_t options, INT_HANDLER handler, void *data, int useKernelPlugIn);
    uint32_t (*IntDisable)(WDC_DEVICE_HANDLE handle);
    int (*IntIsEnabled)(WDC_DEVICE_HANDLE handle);
    uint32_t (*EventRegister)(WDC_DEVICE_HANDLE handle, uint32_t actions, EVENT_HANDLER handler,
                              void *data, int useKernelPlugIn);
    uint32_t (*EventUnregister)(WDC_DEVICE_HANDLE handle);
    int (*EventIsRegistered)(WDC_DEVICE_HANDLE handle);
    // The driver control device. A library need not offer it: all three are null then, and the
    // engine opens the kernel driver's own device (platform/os).
    intptr_t (*ControlDeviceOpen)(const char *deviceName);
    int (*ControlDeviceRequest)(intptr_t deviceHandle, uint32_t controlCode, const void *input,
                                uint32_t inputBytes, void *output, uint32_t outputBytes,
                                uint32_t *bytesReturned);
    int (*ControlDeviceClose)(intptr_t deviceHandle);
};

// The table in force. Until a library is bound it is one whose operations all refuse (status
// WD_WINDRIVER_STATUS_ERROR, null handles and contexts, nothing active), so no call ever goes
// through a null pointer. Written by the application thread at binding, before any acquisition
// thread exists, and never changed afterwards; read by both threads.
extern std::atomic<const WdcFunctions *> g_wdcTable;

inline const WdcFunctions &Wdc() { return *g_wdcTable.load(std::memory_order_acquire); }

}  // namespace ostrel

#define WDC_SetDebugOptions (::ostrel::Wdc().SetDebugOptions)
#define WDC_DriverOpen (::ostrel::Wdc().DriverOpen)
#define WDC_DriverClose (::ostrel::Wdc().DriverClose)
#define Stat2Str (::ostrel::Wdc().StatusString)
#define WDC_PciScanDevices (::ostrel::Wdc().PciScanDevices)
#define WDC_PciGetDeviceInfo (::ostrel::Wdc().PciGetDeviceInfo)
#define WDC_PciDeviceOpen (::ostrel::Wdc().PciDeviceOpen)
#define WDC_PciDeviceClose (::ostrel::Wdc().PciDeviceClose)
#define WDC_GetDevContext (::ostrel::Wdc().GetDevContext)
#define WDC_AddrSpaceIsActive (::ostrel::Wdc().AddrSpaceIsActive)
#define WDC_ReadAddr32 (::ostrel::Wdc().ReadAddr32)
#define WDC_WriteAddr8 (::ostrel::Wdc().WriteAddr8)
#define WDC_WriteAddr16 (::ostrel::Wdc().WriteAddr16)
#define WDC_WriteAddr32 (::ostrel::Wdc().WriteAddr32)
#define WDC_PciReadCfg32 (::ostrel::Wdc().PciReadCfg32)
#define WDC_DMAContigBufLock (::ostrel::Wdc().DMAContigBufLock)
#define WDC_DMABufUnlock (::ostrel::Wdc().DMABufUnlock)
#define WDC_IntEnable (::ostrel::Wdc().IntEnable)
#define WDC_IntDisable (::ostrel::Wdc().IntDisable)
#define WDC_IntIsEnabled (::ostrel::Wdc().IntIsEnabled)
#define WDC_EventRegister (::ostrel::Wdc().EventRegister)
#define WDC_EventUnregister (::ostrel::Wdc().EventUnregister)
#define WDC_EventIsRegistered (::ostrel::Wdc().EventIsRegistered)
