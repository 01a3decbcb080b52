// The configuration exports: record geometry to the board, then the acquisition set-up.
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_setup.h"
#include "acquisition/acquisition_thread.h"
#include "engine/engine_state.h"

namespace ostrel {

namespace {

// Shared by both exports; minimumLength is 32 for a plain configuration and 100 when it starts.
int32_t ConfigureAcquisition(uint32_t recordLength, uint32_t recordNumber, uint32_t minimumLength,
                             bool start) {
    AcquisitionState &acquisition = g_engine.acquisition;
    const bool running = !acquisition.ThreadStopped.load(std::memory_order_acquire);
    // The same request again changes nothing. After a failed set-up there is nothing to keep, so
    // the request is tried again rather than reported as configured.
    const bool sameRequest = recordNumber == acquisition.RecordNumber &&
                             recordLength == acquisition.RecordLength &&
                             acquisition.HostBuffersAllocated;
    if (sameRequest && (!start || running)) return 0;

    // A request the board cannot take (above its longest record, or a ring beyond what can be
    // allocated) is refused before anything changes, a running acquisition included.
    AcquisitionPlan plan;
    const bool plannable = PlanAcquisition(recordLength, recordNumber, &plan);
    if (!plannable && recordLength >= minimumLength) return DAQ_ERROR;

    if (running && StopAcquisitionThread() != 0) return DAQ_ERROR;  // the thread still reads it all
    if (recordLength < minimumLength) return DAQ_ERROR;

    acquisition.RecordNumber = recordNumber;
    acquisition.RecordLength = recordLength;
    DAQ_SetRecordLength(recordLength);
    DAQ_SetRecordNumber(static_cast<int32_t>(plan.RecordsPerFrame));
    if (AcquisitionSetup(recordLength, plan.RecordsPerFrame) != 0) return DAQ_ERROR;
    if (start && StartAcquisitionThread() != 0) return DAQ_ERROR;
    return 0;
}

}  // namespace

}  // namespace ostrel

extern "C" {

OSTREL_API int32_t DAQ_ConfigAcquisition(uint32_t recordLength, uint32_t recordNumber) noexcept {
    return ostrel::ConfigureAcquisition(recordLength, recordNumber, 32, false);
}

OSTREL_API int32_t DAQ_ConfigAcquisition_and_Start(uint32_t recordLength,
                                                   uint32_t recordNumber) noexcept {
    return ostrel::ConfigureAcquisition(recordLength, recordNumber, 100, true);
}

OSTREL_API int32_t DAQ_FinalizeAcquisition(void) noexcept {
    return ostrel::StopAcquisitionThread();
}

}  // extern "C"
