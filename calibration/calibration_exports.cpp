// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t DAQ_Calibration_DCOffset(void) { return -1; }
OSTREL_API int32_t DAQ_Calibration_VerticalScale(void) { return -1; }
OSTREL_API int32_t DAQ_SelfCalibrationOnce(void) { return -1; }
OSTREL_API int32_t DAQ_MeasureSignal(const int16_t *, int32_t, float *, float *, float *) { return -1; }
OSTREL_API int32_t DAQ_GetVerticalInfo(float *, int32_t *) { return -1; }

}  // extern "C"
