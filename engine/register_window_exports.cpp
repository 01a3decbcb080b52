// Raw access to the control registers of the open board, by signed register index.
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t ReadMemory32(int32_t registerIndex, uint32_t *value) noexcept {
    if (value == nullptr) return DAQ_ERROR;
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    // With no board open the caller's value stays as it was.
    if (handle != nullptr) {
        WDC_ReadAddr32(handle, 0, ostrel::RegisterByteOffset(registerIndex), value);
    }
    return g_engine.discovery.LastStatus;
}

OSTREL_API int32_t WriteMemory32(int32_t registerIndex, uint32_t value) noexcept {
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    if (handle != nullptr) {
        WDC_WriteAddr32(handle, 0, ostrel::RegisterByteOffset(registerIndex), value);
    }
    return g_engine.discovery.LastStatus;
}

}  // extern "C"
