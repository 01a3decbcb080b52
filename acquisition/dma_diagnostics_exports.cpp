// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t DAQ_DMABandwidthTest(uint8_t *, float *) { return -1; }
OSTREL_API int32_t DAQ_ProcessDMAPool(uint8_t *, int32_t *, int32_t *, int32_t, int32_t) { return -1; }
OSTREL_API int32_t DAQ_CopyDMAPool(uint8_t *) { return -1; }

}  // extern "C"
