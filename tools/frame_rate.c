/* Frame rate of a plain C reader: frames announced and read per second on the simulated board,
   with the board's DMA at full speed. The Python package's benchmark runs the same loop.
   usage: ostrel-frame-rate [device-id-hex] [record-length] [records] [frames] */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

static double Now(void) {
    struct timespec now;
    timespec_get(&now, TIME_UTC);
    return (double)now.tv_sec + now.tv_nsec * 1e-9;
}

int main(int argc, char **argv) {
    const uint32_t device = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 16) : 0xA006;
    const uint32_t length = argc > 2 ? (uint32_t)atoi(argv[2]) : 1024;
    const uint32_t records = argc > 3 ? (uint32_t)atoi(argv[3]) : 512;
    const int frames = argc > 4 ? atoi(argv[4]) : 200;
    if (SIM_SetBoards(&device, 1) != 0 || SIM_SetDmaPacing(SIM_DMA_MAXRATE) != 0) return 2;
    if (DAQ_OpenDevice(0) != 0 || DAQ_ConfigAcquisition(length, records) != 0) return 1;
    int32_t lanes = 0;
    DAQ_GetADCNumber(&lanes);
    int16_t *buffers[4] = {NULL, NULL, NULL, NULL};
    for (int lane = 0; lane < lanes; ++lane) {
        buffers[lane] = malloc(sizeof(int16_t) * length * records);
        if (buffers[lane] == NULL) return 1;
    }
    DAQ_StartAcquisition();
    const double start = Now();
    for (int frame = 0; frame < frames; ++frame) {
        const double deadline = Now() + 5.0;
        while (DAQ_NewDataFrameAvailable() != 1)
            if (Now() > deadline) return 3;
        DAQ_GetLatestFrame(buffers[0], buffers[1], buffers[2], buffers[3]);
    }
    const double seconds = Now() - start;
    DAQ_StopAcquisition();
    DAQ_CloseDevice();
    for (int lane = 0; lane < 4; ++lane) free(buffers[lane]);
    printf("%.1f frames/s (%d frames of %d lanes x %u points)\n", frames / seconds, frames, lanes,
           length * records);
    return 0;
}
