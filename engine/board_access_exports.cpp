// Placeholder exports until this family is built; each refuses with -1.
#include "OstrelDAQEngine.h"

extern "C" {

OSTREL_API int32_t ReadMemory32(int32_t, uint32_t *) { return -1; }
OSTREL_API int32_t WriteMemory32(int32_t, uint32_t) { return -1; }
OSTREL_API int32_t ReadConfigurationRegister(void) { return -1; }
OSTREL_API uint32_t TestFunction(uint32_t) { return 0u; }
OSTREL_API int32_t DAQ_CheckSystem(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_OpenDevice(int32_t) { return -1; }
OSTREL_API int32_t DAQ_CloseDevice(void) { return -1; }
OSTREL_API int32_t DAQ_GetDeviceNum(int32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetDeviceInfo(int32_t, uint32_t *, uint32_t *, uint32_t *, uint32_t *, uint32_t *, uint32_t *) { return -1; }
OSTREL_API int32_t DAQ_GetDeviceModel(int32_t, int32_t *) { return -1; }
OSTREL_API int32_t GetDeviceResource(uint32_t *, uint32_t *, uint32_t *, uint32_t *) { return -1; }

}  // extern "C"
