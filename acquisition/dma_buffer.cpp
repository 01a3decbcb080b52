// Placeholder until the DMA buffer is built.
#include "acquisition/dma_buffer.h"

namespace ostrel {

int32_t DmaLock(WDC_DEVICE_HANDLE) { return 0; }
int32_t DmaTeardown() { return 0; }

}  // namespace ostrel
