// The control-register window in BAR 0 and the 32-bit BAR 2 accesses of the DMA path. No access
// looks at the library's status: a caller that needs to know whether the board is there uses the
// open result.
#include "engine/register_window.h"

#include "engine/engine_state.h"

namespace ostrel {

uint64_t RegisterByteOffset(int32_t registerIndex) {
    // The 32-bit product 2 x index, sign-extended and added to the 64-bit base: negative indices
    // lie just below RegisterBase. Unsigned arithmetic keeps the wrap of huge indices defined.
    const auto doubled = static_cast<int32_t>(static_cast<uint32_t>(registerIndex) * 2u);
    return g_engine.model.RegisterBase + static_cast<uint64_t>(static_cast<int64_t>(doubled));
}

int32_t ReadControlRegister(int32_t registerIndex, uint32_t *value) {
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    if (handle != nullptr) WDC_ReadAddr32(handle, 0, RegisterByteOffset(registerIndex), value);
    return g_engine.discovery.LastStatus;
}

int32_t WriteControlRegister(int32_t registerIndex, uint32_t value) {
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    if (handle != nullptr) WDC_WriteAddr32(handle, 0, RegisterByteOffset(registerIndex), value);
    return g_engine.discovery.LastStatus;
}

uint32_t ReadBar32(WDC_DEVICE_HANDLE handle, uint32_t bar, uint32_t offset) {
    uint32_t word = 0;
    if (handle != nullptr) WDC_ReadAddr32(handle, bar, offset, &word);
    return word;
}

void WriteBar32(WDC_DEVICE_HANDLE handle, uint32_t bar, uint32_t offset, uint32_t value) {
    if (handle == nullptr) return;
    // Byte by byte, lowest first: the order the board's BAR 2 bridge expects.
    for (uint32_t byte = 0; byte < 4; ++byte) {
        WDC_WriteAddr8(handle, bar, uint64_t{offset} + byte,
                       static_cast<uint8_t>(value >> (8 * byte)));
    }
}

}  // namespace ostrel
