// Placeholder until the register window is built.
#include "engine/register_window.h"

namespace ostrel {

uint64_t RegisterByteOffset(int32_t) { return 0; }
uint32_t ReadBar32(WDC_DEVICE_HANDLE, uint32_t, uint32_t) { return 0; }
void WriteBar32(WDC_DEVICE_HANDLE, uint32_t, uint32_t, uint32_t) {}

}  // namespace ostrel
