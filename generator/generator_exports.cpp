// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t AWG_DesignWaveform(int32_t, int32_t) { return -1; }
OSTREL_API int32_t AWG_UpdateWaveform(int32_t) { return -1; }
OSTREL_API int32_t AWG_SetWaveformType(int32_t, int32_t) { return -1; }
OSTREL_API int32_t AWG_GetWaveformType(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t AWG_SetAmplitude(int32_t, float) { return -1; }
OSTREL_API int32_t AWG_GetAmplitude(int32_t, float *) { return -1; }
OSTREL_API int32_t AWG_SetOffset(int32_t, float) { return -1; }
OSTREL_API int32_t AWG_GetOffset(int32_t, float *) { return -1; }
OSTREL_API int32_t AWG_SetPhase(int32_t, float) { return -1; }
OSTREL_API int32_t AWG_GetPhase(int32_t, float *) { return -1; }
OSTREL_API int32_t AWG_SetDutycycle(int32_t, float) { return -1; }
OSTREL_API int32_t AWG_GetDutycycle(int32_t, float *) { return -1; }
OSTREL_API int32_t AWG_SetFrequency(int32_t, double) { return -1; }
OSTREL_API int32_t AWG_GetFrequency(int32_t, double *) { return -1; }
OSTREL_API int32_t AWG_SyncAllChannels(void) { return -1; }
OSTREL_API int32_t AWG_EnableOutput(int32_t, uint8_t) { return -1; }
OSTREL_API int32_t AWG_GetnelNum(int32_t *) { return -1; }

}  // extern "C"
