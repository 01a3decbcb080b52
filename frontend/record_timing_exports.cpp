// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t DAQ_SetRecordLength(uint32_t) { return -1; }
OSTREL_API int32_t DAQ_GetRecordLength(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetRecordNumber(int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetRecordNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetRecordCounters(int32_t, int32_t, int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_SetTrigger(int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetTrigger(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetSamplingRate(int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetSamplingRate(uint32_t *, float *) { return -1; }
OSTREL_API int32_t DAQ_GetClockDivider(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_CheckSamplingRates(int32_t, float *, int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetLEDCode(int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetMaxRecordLength(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetRecordNumInMem(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetDMATransferPoints(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetADCNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetDMAInfo(int16_t *, int16_t *, int16_t *) { return -1; }

}  // extern "C"
