/* Opens a simulated board through the installed library, acquires one frame and checks it. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

int main(void) {
    const uint32_t boards[] = {0xA001};
    if (SIM_SetBoards(boards, 1) != 0) return 10;
    SIM_SetDmaPacing(SIM_DMA_IMMEDIATE);
    if (DAQ_OpenDevice(0) != 0) return 11;
    int32_t model = 0;
    DAQ_GetDeviceModel(0, &model);
    if (model != 5) return 12;
    if (DAQ_ConfigAcquisition(1024, 64) != 0) return 13;
    if (DAQ_StartAcquisition() != 0) return 14;
    const time_t deadline = time(NULL) + 10;
    while (DAQ_NewDataFrameAvailable() != 1) {
        if (time(NULL) > deadline) return 15;
    }
    int16_t *lane = malloc(sizeof(int16_t) * 1024 * 64);
    if (lane == NULL) return 16;
    int result = DAQ_GetLatestFrame(lane, NULL, NULL, NULL);
    DAQ_StopAcquisition();
    DAQ_CloseDevice();
    free(lane);
    if (result != 0) return 17;
    printf("consumer: model %d, one frame read\n", model);
    return 0;
}
