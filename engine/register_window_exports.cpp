// Raw access to the control registers of the open board, by signed register index.
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t ReadMemory32(int32_t registerIndex, uint32_t *value) noexcept {
    if (value == nullptr) return DAQ_ERROR;
    return ostrel::ReadControlRegister(registerIndex, value);
}

OSTREL_API int32_t WriteMemory32(int32_t registerIndex, uint32_t value) noexcept {
    return ostrel::WriteControlRegister(registerIndex, value);
}

}  // extern "C"
