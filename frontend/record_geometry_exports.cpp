// Record geometry: record length and count, record slots per DMA chunk, record counters, and the
// per-model acquisition constants. The board's registers are the only store of the length and
// count; the getters read them back.
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "frontend/board_registers.h"
#include "frontend/record_geometry.h"
#include "frontend/record_length_coding.h"

using namespace ostrel;

namespace {

bool AcquisitionRunning() {
    return !g_engine.acquisition.ThreadStopped.load(std::memory_order_acquire);
}

constexpr int16_t kDmaChunkCount = 16;  // DMA chunks of the DMA buffer, one per descriptor

}  // namespace

extern "C" {

OSTREL_API int32_t DAQ_SetRecordLength(uint32_t recordLength) noexcept {
    // The running acquisition thread sliced the DMA buffer for the length in force; a board
    // writing another length under it would never complete a frame again.
    if (AcquisitionRunning()) return DAQ_ERROR;
    return WriteRecordLength(recordLength);
}

OSTREL_API int32_t DAQ_GetRecordLength(int32_t *recordLength) noexcept {
    if (recordLength == nullptr) return DAQ_ERROR;
    const auto coding = RecordLengthCodingOf(g_engine.model.ModelType);
    uint32_t value = 0;
    if (coding && ReadRoleRegister(Reg::RecordLength, value)) {
        *recordLength = static_cast<int32_t>(DecodeRecordLength(*coding, value));
    }
    return 0;
}

OSTREL_API int32_t DAQ_SetRecordNumber(int32_t recordsPerFrame) noexcept {
    // The tags of a running acquisition wrap at the ring it was set up with.
    if (AcquisitionRunning()) return DAQ_ERROR;
    return WriteRecordsPerFrame(recordsPerFrame);
}

OSTREL_API int32_t DAQ_GetRecordNumber(int32_t *recordsPerFrame) noexcept {
    if (recordsPerFrame == nullptr) return DAQ_ERROR;
    uint32_t value = 0;
    if (ReadRoleRegister(Reg::RecordNumber, value)) {
        *recordsPerFrame = static_cast<int32_t>(value / kRecordNumberScale);
    }
    return 0;
}

OSTREL_API int32_t DAQ_SetRecordCounters(int32_t counter0, int32_t counter1, int32_t counter2,
                                         int32_t counter3) noexcept {
    int32_t(&counters)[4] = g_engine.geometry.RecordCounters;
    counters[0] = counter0;
    counters[1] = counter1;
    counters[2] = counter2;
    counters[3] = counter3;
    // Only the board with a record-counter register (model 9) takes the first value.
    WriteRoleRegister(Reg::RecordCounter, static_cast<uint32_t>(counter0));
    return 0;
}

OSTREL_API int32_t DAQ_GetMaxRecordLength(int32_t *maxRecordLength) noexcept {
    if (maxRecordLength == nullptr) return DAQ_ERROR;
    *maxRecordLength = static_cast<int32_t>(g_engine.model.MaxRecordLength);
    return 0;
}

OSTREL_API int32_t DAQ_GetRecordNumInMem(int32_t *recordsInChunk) noexcept {
    if (recordsInChunk == nullptr) return DAQ_ERROR;
    *recordsInChunk = static_cast<int32_t>(g_engine.geometry.RecordNumInMem);
    return 0;
}

OSTREL_API int32_t DAQ_GetDMATransferPoints(int32_t *chunkPoints) noexcept {
    if (chunkPoints == nullptr) return DAQ_ERROR;
    *chunkPoints = static_cast<int32_t>(g_engine.model.DMATransferPoints);
    return 0;
}

OSTREL_API int32_t DAQ_GetADCNumber(int32_t *laneCount) noexcept {
    if (laneCount == nullptr) return DAQ_ERROR;
    *laneCount = static_cast<int32_t>(g_engine.model.ADCNumber);
    return 0;
}

OSTREL_API int32_t DAQ_GetDMAInfo(int16_t *trailerPoints, int16_t *dmaInfoValue,
                                  int16_t *chunkCount) noexcept {
    if (trailerPoints == nullptr || dmaInfoValue == nullptr || chunkCount == nullptr) {
        return DAQ_ERROR;
    }
    *trailerPoints = static_cast<int16_t>(g_engine.model.TrailerPoints);
    *dmaInfoValue = g_engine.model.DmaInfoValue;
    *chunkCount = kDmaChunkCount;
    return 0;
}

}  // extern "C"
