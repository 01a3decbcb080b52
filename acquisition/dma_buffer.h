// The locked DMA buffer: locked once at the end of the open, released at the start of the close.
#pragma once

#include <cstdint>

#include "platform/wdc/wdc_lib.h"

namespace ostrel {

// Keeps the handle for every BAR 2 access of the DMA path, opens the driver control device and
// locks the 16 MiB buffer. 0, -3 (driver control device cannot be opened) or -4 (buffer cannot be
// locked; the control device stays open until the teardown). A buffer and control device left
// from an earlier lock are released first (the acquisition thread is stopped).
int32_t DmaLock(WDC_DEVICE_HANDLE handle);

// Stops the acquisition thread, releases the host buffers, unlocks the buffer and releases the
// driver control device, each only if held. Always 0; a second call releases nothing.
int32_t DmaTeardown();

// In the child of a fork: the parent's acquisition thread, host buffers, DMA buffer and control
// device are the parent's. The child forgets them without releasing anything (an unlock here
// would take the buffer from under the parent's transfers), so its close waits for nothing.
void ForgetInheritedAcquisition();

// Bus address of the buffer's first page and its length in bytes; 0 when none is locked.
uint64_t DmaBufferBusAddress();
uint64_t DmaBufferBytes();

}  // namespace ostrel
