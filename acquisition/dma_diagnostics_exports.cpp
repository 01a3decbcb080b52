// DMA diagnostics exports: thin wrappers over the bandwidth test, the pool copy and the pool
// analysis.
#include "OstrelDAQEngine.h"
#include "acquisition/dma_diagnostics.h"

extern "C" {

OSTREL_API int32_t DAQ_DMABandwidthTest(uint8_t *destination, float *megabytesPerSecond) noexcept {
    return ostrel::RunBandwidthTest(destination, megabytesPerSecond);
}

OSTREL_API int32_t DAQ_ProcessDMAPool(uint8_t *buffer, int32_t *firstTag, int32_t *recordCount,
                                      int32_t recordLength, int32_t recordsPerFrame) noexcept {
    return ostrel::ProcessDmaPool(buffer, firstTag, recordCount, recordLength, recordsPerFrame);
}

OSTREL_API int32_t DAQ_CopyDMAPool(uint8_t *destination) noexcept {
    return ostrel::CopyDmaPool(destination);
}

}  // extern "C"
