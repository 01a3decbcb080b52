// Register window (BAR 0, by signed register index) and the BAR 2 accesses of the DMA path.
#pragma once

#include <cstdint>

#include "engine/register_map.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

// BAR 0 byte offset of a register index: RegisterBase + sign-extended 32-bit product 2 x index.
uint64_t RegisterByteOffset(int32_t registerIndex);

// A control register of the open board by signed index. The read leaves *value as it was when no
// board is open; both return the engine's last status (the window looks at no library status).
int32_t ReadControlRegister(int32_t registerIndex, uint32_t *value);
int32_t WriteControlRegister(int32_t registerIndex, uint32_t value);

// A 32-bit read into a word preset to 0; the word is returned (0 when nothing was delivered).
uint32_t ReadBar32(WDC_DEVICE_HANDLE handle, uint32_t bar, uint32_t offset);
// Four byte writes at offset .. offset + 3, lowest byte first.
void WriteBar32(WDC_DEVICE_HANDLE handle, uint32_t bar, uint32_t offset, uint32_t value);

}  // namespace ostrel
