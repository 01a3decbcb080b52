// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t DAQ_SetGain(int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetGain(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetGainNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetAttenuation(int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetAttenuation(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetAttenuationNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetCoupling(int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetCoupling(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetCouplingNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetTermination(int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetTermination(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetTerminationNumber(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_SetInputChannel(int32_t) { return -1; }
OSTREL_API int32_t DAQ_GetInputChannel(int32_t *) { return -1; }

}  // extern "C"
