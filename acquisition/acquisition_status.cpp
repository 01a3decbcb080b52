// The acquisition thread's counters, as the application reads them. Each value is one atomic read;
// values of one call may come from different passes.
#include "OstrelDAQEngine.h"
#include "acquisition/frame_readout.h"
#include "engine/engine_state.h"

extern "C" {

OSTREL_API int32_t DAQ_NewDataFrameAvailable(void) noexcept {
    return ostrel::NewFrameAnnounced() ? 1 : 0;
}

OSTREL_API int32_t DAQ_CheckDMA(int32_t *recordsReceived, int32_t *frameCounter,
                                float *dataRate) noexcept {
    if (recordsReceived == nullptr || frameCounter == nullptr || dataRate == nullptr) {
        return DAQ_ERROR;
    }
    const ostrel::RingStatus &ring = ostrel::g_engine.acquisition.Ring;
    *recordsReceived = ring.RecordsReceived.load(std::memory_order_relaxed);
    *frameCounter = ring.FrameCounter.load(std::memory_order_relaxed);
    *dataRate = ring.DataRate.load(std::memory_order_relaxed);
    return 0;
}

OSTREL_API int32_t DAQ_GetDebugValue(int32_t *values) noexcept {
    if (values == nullptr) return DAQ_ERROR;
    const ostrel::RingStatus &ring = ostrel::g_engine.acquisition.Ring;
    for (int index = 0; index < ostrel::kFrameStatisticsCount; ++index) {
        values[index] = ring.FrameStatistics[index].load(std::memory_order_relaxed);
    }
    return 0;
}

}  // extern "C"
