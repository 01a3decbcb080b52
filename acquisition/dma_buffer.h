// DMA buffer lock at open and teardown at close.
#pragma once

#include <cstdint>

#include "platform/wdc/wdc_lib.h"

namespace ostrel {

// 0, -3 (driver control device cannot be opened) or -4 (buffer cannot be locked).
int32_t DmaLock(WDC_DEVICE_HANDLE handle);
// Stops the thread, releases the host buffers, unlocks the buffer, releases the control device.
int32_t DmaTeardown();

}  // namespace ostrel
