// The driver-access contract over the simulated bus. Every operation counts its call, honours its
// fault, and refuses a handle it did not hand out (or has closed) with WD_INVALID_HANDLE instead
// of touching memory through it.
#include <cstring>

#include "platform/sim/sim_bus.h"
#include "wdc_lib.h"

using ostrel::sim::Bus;
using ostrel::sim::Operation;
using ostrel::sim::SimBoard;

namespace {

struct StatusText {
    uint32_t status;
    const char *text;
};

// One distinct text per status the library returns.
constexpr StatusText kStatusTexts[] = {
    {WD_STATUS_SUCCESS, "Success"},
    {WD_WINDRIVER_STATUS_ERROR, "Driver status error"},
    {WD_INVALID_HANDLE, "Invalid handle: not an open device or buffer of this library"},
    {WD_READ_WRITE_CONFLICT, "Read/write conflict"},
    {WD_DEVICE_NOT_FOUND, "Device not found at the given location"},
    {WD_INVALID_PARAMETER, "Invalid parameter"},
    {WD_OPERATION_ALREADY_DONE, "Operation already done"},
    {WD_INSUFFICIENT_RESOURCES, "Insufficient resources"},
    {WD_NO_RESOURCES_ON_DEVICE, "No resources on the device"},
    {WD_NO_DEVICE_OBJECT, "The device has no interrupt resource"},
};
constexpr const char *kUnknownStatusText = "Unrecognised status code";

uint32_t ReadAccess(WDC_DEVICE_HANDLE handle, uint32_t addressSpace, uint64_t offset, int width,
                    uint32_t *value) {
    Bus &bus = Bus::Get();
    SimBoard *board = bus.BoardOfHandle(handle);
    if (board == nullptr) return WD_INVALID_HANDLE;
    const bool inRange = board->ReadBar(addressSpace, offset, width, value);
    bus.Log(*board, addressSpace, offset, width, false, *value);
    return inRange ? WD_STATUS_SUCCESS : WD_INVALID_PARAMETER;
}

uint32_t WriteAccess(WDC_DEVICE_HANDLE handle, uint32_t addressSpace, uint64_t offset, int width,
                     uint32_t value) {
    Bus &bus = Bus::Get();
    SimBoard *board = bus.BoardOfHandle(handle);
    if (board == nullptr) return WD_INVALID_HANDLE;
    const bool inRange = board->WriteBar(addressSpace, offset, width, value);
    bus.Log(*board, addressSpace, offset, width, true, value);
    return inRange ? WD_STATUS_SUCCESS : WD_INVALID_PARAMETER;
}

// The first access of a process may come before the bus has its boards; kept out of line so
// that the fast path of the point write stays free of calls.
#if defined(__GNUC__)
__attribute__((noinline, cold))
#endif
uint32_t WriteAddr16BeforeDefaults(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                   uint16_t value) {
    Bus::Get().Count(Operation::WDC_WriteAddr16);
    return WriteAccess(handle, addrSpace, offset, 2, value);
}

}  // namespace

extern "C" {

// ---- library -------------------------------------------------------------------------------------

uint32_t WDC_SetDebugOptions(uint32_t, const char *) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_SetDebugOptions);
    return bus.Fault(SIM_FAULT_DEBUG_OPTIONS);
}

uint32_t WDC_DriverOpen(uint32_t, const char *) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_DriverOpen);
    if (const uint32_t status = bus.Fault(SIM_FAULT_DRIVER_OPEN); status != 0) return status;
    bus.SetDriverOpen(true);
    return WD_STATUS_SUCCESS;
}

uint32_t WDC_DriverClose(void) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_DriverClose);
    if (const uint32_t status = bus.Fault(SIM_FAULT_DRIVER_CLOSE); status != 0) return status;
    bus.SetDriverOpen(false);
    return WD_STATUS_SUCCESS;
}

const char *Stat2Str(uint32_t status) {
    Bus::Get().Count(Operation::Stat2Str);
    for (const StatusText &entry : kStatusTexts) {
        if (entry.status == status) return entry.text;
    }
    return kUnknownStatusText;
}

// ---- bus and devices -----------------------------------------------------------------------------

uint32_t WDC_PciScanDevices(uint32_t vendorId, uint32_t deviceId, WDC_PCI_SCAN_RESULT *result) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_PciScanDevices);
    if (const uint32_t status = bus.Fault(SIM_FAULT_SCAN); status != 0) return status;
    if (result == nullptr) return WD_INVALID_PARAMETER;
    uint32_t found = 0;
    const int boards = bus.BoardCount();
    for (int index = 0; index < boards && found < WD_PCI_MAX_SCAN; ++index) {
        const SimBoard *board = bus.Board(index);
        if (board == nullptr) break;
        if (vendorId != 0 && vendorId != ostrel::sim::kVendorId) continue;
        if (deviceId != 0 && deviceId != board->DeviceId()) continue;
        result->deviceId[found].dwVendorId = ostrel::sim::kVendorId;
        result->deviceId[found].dwDeviceId = board->DeviceId();
        result->deviceSlot[found] = board->Slot();
        ++found;
    }
    result->dwNumDevices = found;
    return WD_STATUS_SUCCESS;
}

uint32_t WDC_PciGetDeviceInfo(WD_PCI_CARD_INFO *deviceInfo) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_PciGetDeviceInfo);
    if (const uint32_t status = bus.Fault(SIM_FAULT_DEVICE_INFO); status != 0) return status;
    if (deviceInfo == nullptr) return WD_INVALID_PARAMETER;
    const SimBoard *board = bus.BoardAtSlot(deviceInfo->pciSlot);
    if (board == nullptr) return WD_DEVICE_NOT_FOUND;
    board->FillCard(&deviceInfo->Card);
    return WD_STATUS_SUCCESS;
}

uint32_t WDC_PciDeviceOpen(WDC_DEVICE_HANDLE *handle, const WD_PCI_CARD_INFO *deviceInfo,
                           void *context, void *, const char *, void *) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_PciDeviceOpen);
    if (handle == nullptr || deviceInfo == nullptr) return WD_INVALID_PARAMETER;
    SimBoard *board = bus.BoardAtSlot(deviceInfo->pciSlot);
    const uint32_t fault = bus.Fault(SIM_FAULT_DEVICE_OPEN);
    if (fault != 0) {
        if (board != nullptr && bus.openFaultKeepsHandle()) *handle = bus.OpenDevice(*board, context);
        return fault;
    }
    if (board == nullptr) return WD_DEVICE_NOT_FOUND;
    *handle = bus.OpenDevice(*board, context);
    return WD_STATUS_SUCCESS;
}

uint32_t WDC_PciDeviceClose(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_PciDeviceClose);
    if (bus.BoardOfHandle(handle) == nullptr) return WD_INVALID_HANDLE;
    // A failed close still releases the handle: the caller forgets it either way.
    const uint32_t status = bus.Fault(SIM_FAULT_DEVICE_CLOSE);
    bus.CloseDevice(handle);
    return status;
}

void *WDC_GetDevContext(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_GetDevContext);
    void *context = nullptr;
    return bus.ContextOfHandle(handle, &context) ? context : nullptr;
}

int WDC_AddrSpaceIsActive(WDC_DEVICE_HANDLE handle, uint32_t addrSpace) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_AddrSpaceIsActive);
    if (bus.BoardOfHandle(handle) == nullptr) return 0;
    return ostrel::sim::AddressSpaceBytes(addrSpace) != 0 ? 1 : 0;
}

// ---- register and memory access ------------------------------------------------------------------

uint32_t WDC_ReadAddr8(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                       uint8_t *value) {
    Bus::Get().Count(Operation::WDC_ReadAddr8);
    if (value == nullptr) return WD_INVALID_PARAMETER;
    uint32_t word = 0;
    const uint32_t status = ReadAccess(handle, addrSpace, offset, 1, &word);
    *value = static_cast<uint8_t>(word);
    return status;
}

uint32_t WDC_ReadAddr16(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                        uint16_t *value) {
    Bus::Get().Count(Operation::WDC_ReadAddr16);
    if (value == nullptr) return WD_INVALID_PARAMETER;
    uint32_t word = 0;
    const uint32_t status = ReadAccess(handle, addrSpace, offset, 2, &word);
    *value = static_cast<uint16_t>(word);
    return status;
}

uint32_t WDC_ReadAddr32(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                        uint32_t *value) {
    Bus::Get().Count(Operation::WDC_ReadAddr32);
    if (value == nullptr) return WD_INVALID_PARAMETER;
    uint32_t word = 0;
    const uint32_t status = ReadAccess(handle, addrSpace, offset, 4, &word);
    *value = word;
    return status;
}

uint32_t WDC_WriteAddr8(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                        uint8_t value) {
    Bus::Get().Count(Operation::WDC_WriteAddr8);
    return WriteAccess(handle, addrSpace, offset, 1, value);
}

uint32_t WDC_WriteAddr16(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                         uint16_t value) {
    // A waveform update is 8192 of these: a point of a published handle's waveform memory is
    // stored without a further call. Everything else, and every logged write, goes the whole
    // way (which looks the handle up again).
    Bus *bus = Bus::Ready();
    if (bus == nullptr) return WriteAddr16BeforeDefaults(handle, addrSpace, offset, value);
    bus->Count(Operation::WDC_WriteAddr16);
    SimBoard *board = nullptr;
    if (bus->PublishedBoardOfHandle(handle, &board) && board != nullptr && !bus->LogEnabled() &&
        board->WriteWaveformPoint(addrSpace, offset, value)) {
        return WD_STATUS_SUCCESS;
    }
    return WriteAccess(handle, addrSpace, offset, 2, value);
}

uint32_t WDC_WriteAddr32(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                         uint32_t value) {
    Bus::Get().Count(Operation::WDC_WriteAddr32);
    return WriteAccess(handle, addrSpace, offset, 4, value);
}

uint32_t WDC_PciReadCfg32(WDC_DEVICE_HANDLE handle, uint32_t offset, uint32_t *value) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_PciReadCfg32);
    if (value == nullptr) return WD_INVALID_PARAMETER;
    *value = 0;
    SimBoard *board = bus.BoardOfHandle(handle);
    if (board == nullptr) return WD_INVALID_HANDLE;
    const bool inRange = board->ReadConfig(offset, value);
    bus.Log(*board, WDC_CONFIG_SPACE, offset, 4, false, *value);
    return inRange ? WD_STATUS_SUCCESS : WD_INVALID_PARAMETER;
}

// ---- DMA -------------------------------------------------------------------------------------------

uint32_t WDC_DMAContigBufLock(WDC_DEVICE_HANDLE handle, void **userAddress, uint32_t options,
                              uint32_t size, WD_DMA **dma) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_DMAContigBufLock);
    if (const uint32_t status = bus.Fault(SIM_FAULT_DMA_LOCK); status != 0) return status;
    if (userAddress == nullptr || dma == nullptr) return WD_INVALID_PARAMETER;
    WD_DMA *locked = nullptr;
    const uint32_t status = bus.LockDma(handle, options, size, &locked);
    if (status != WD_STATUS_SUCCESS) return status;
    *dma = locked;
    *userAddress = locked->pUserAddr;
    return WD_STATUS_SUCCESS;
}

uint32_t WDC_DMABufUnlock(WD_DMA *dma) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_DMABufUnlock);
    return bus.UnlockDma(dma);
}

// ---- interrupts and events -------------------------------------------------------------------------

uint32_t WDC_IntEnable(WDC_DEVICE_HANDLE handle, void *, uint32_t, uint32_t, INT_HANDLER handler,
                       void *data, int) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_IntEnable);
    return bus.EnableInterrupts(handle, handler, data);
}

uint32_t WDC_IntDisable(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_IntDisable);
    return bus.DisableInterrupts(handle);
}

int WDC_IntIsEnabled(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_IntIsEnabled);
    return bus.InterruptsEnabled(handle);
}

uint32_t WDC_EventRegister(WDC_DEVICE_HANDLE handle, uint32_t actions, EVENT_HANDLER handler,
                           void *data, int) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_EventRegister);
    return bus.RegisterEvents(handle, actions, handler, data);
}

uint32_t WDC_EventUnregister(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_EventUnregister);
    return bus.UnregisterEvents(handle);
}

int WDC_EventIsRegistered(WDC_DEVICE_HANDLE handle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_EventIsRegistered);
    return bus.EventsRegistered(handle);
}

// ---- the driver control device ---------------------------------------------------------------------

intptr_t WDC_ControlDeviceOpen(const char *deviceName) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_ControlDeviceOpen);
    if (bus.Fault(SIM_FAULT_CONTROL_DEVICE) != 0) return -1;
    if (deviceName == nullptr || std::strcmp(deviceName, WDC_CONTROL_DEVICE_NAME) != 0) return -1;
    return bus.OpenControlDevice();
}

int WDC_ControlDeviceRequest(intptr_t deviceHandle, uint32_t, const void *input,
                             uint32_t inputBytes, void *output, uint32_t outputBytes,
                             uint32_t *bytesReturned) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_ControlDeviceRequest);
    if (!bus.ControlDeviceOpen(deviceHandle)) return 0;
    if (input == nullptr && inputBytes != 0) return 0;
    // There is no kernel driver behind the simulated device: every request succeeds with a zero
    // result word.
    uint32_t returned = 0;
    if (output != nullptr && outputBytes >= sizeof(uint32_t)) {
        const uint32_t result = 0;
        std::memcpy(output, &result, sizeof(result));
        returned = sizeof(result);
    }
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return 1;
}

int WDC_ControlDeviceClose(intptr_t deviceHandle) {
    Bus &bus = Bus::Get();
    bus.Count(Operation::WDC_ControlDeviceClose);
    return bus.CloseControlDevice(deviceHandle) ? 1 : 0;
}

}  // extern "C"
