// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t DAQ_ConfigAcquisition(uint32_t, uint32_t) { return -1; }
OSTREL_API int32_t DAQ_ConfigAcquisition_and_Start(uint32_t, uint32_t) { return -1; }
OSTREL_API int32_t DAQ_FinalizeAcquisition(void) { return -1; }
OSTREL_API int32_t DAQ_StartAcquisition(void) { return -1; }
OSTREL_API int32_t DAQ_StopAcquisition(void) { return -1; }
OSTREL_API int32_t DAQ_GetLatestFrame(int16_t *, int16_t *, int16_t *, int16_t *) { return -1; }
OSTREL_API int32_t DAQ_NewDataFrameAvailable(void) { return -1; }
OSTREL_API int32_t DAQ_CheckDMA(int32_t *, int32_t *, float *) { return -1; }
OSTREL_API int32_t DAQ_GetDebugValue(int32_t *) { return -1; }

}  // extern "C"
