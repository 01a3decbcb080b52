// The configuration exports: record geometry to the board, then the acquisition set-up.
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_setup.h"
#include "acquisition/acquisition_thread.h"
#include "engine/engine_state.h"

extern "C" {

OSTREL_API int32_t DAQ_ConfigAcquisition(uint32_t recordLength, uint32_t recordNumber) noexcept {
    return ostrel::ConfigureAcquisition(recordLength, recordNumber);
}

OSTREL_API int32_t DAQ_ConfigAcquisition_and_Start(uint32_t recordLength,
                                                   uint32_t recordNumber) noexcept {
    return ostrel::ConfigureAndStartAcquisition(recordLength, recordNumber);
}

OSTREL_API int32_t DAQ_FinalizeAcquisition(void) noexcept {
    return ostrel::StopAcquisitionThread();
}

}  // extern "C"
