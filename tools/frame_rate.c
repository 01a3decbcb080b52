/* Frame rate of a plain C reader: frames read per second on the simulated board, with the board's
   DMA at full speed. The Python package's benchmarks run the same loops (python/bench/).
   usage: ostrel-frame-rate [device-id-hex] [record-length] [records] [frames] [latest|stream]
                            [maxrate|immediate]
   latest: polls DAQ_NewDataFrameAvailable and copies the latest frame (the default);
   stream: reads frames through DAQ_StreamRead from a full queue of 64 whose stream was stopped,
   so that the figure is the reader's own pace, with nothing else running.
   maxrate (the default): the simulated board's own thread completes transfers as fast as it can;
   immediate: the acquisition thread's queueing completes them, one thread fewer on the cores. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

static double Now(void) {
    struct timespec now;
    timespec_get(&now, TIME_UTC);
    return (double)now.tv_sec + now.tv_nsec * 1e-9;
}

static int ReadLatest(int frames, int16_t *const buffers[4]) {
    DAQ_StartAcquisition();
    for (int frame = 0; frame < frames; ++frame) {
        const double deadline = Now() + 5.0;
        while (DAQ_NewDataFrameAvailable() != 1)
            if (Now() > deadline) return 3;
        DAQ_GetLatestFrame(buffers[0], buffers[1], buffers[2], buffers[3]);
    }
    DAQ_StopAcquisition();
    return 0;
}

/* Fills the queue of 64 frames, stops the stream and times the reads of what it queued, so that
   the board and the acquisition thread do not share the cores with the reader while it is timed;
   as many rounds as it takes for the frames asked for. Returns the seconds spent reading. */
static double ReadStream(int frames, int16_t *const buffers[4], uint32_t points) {
    enum { kQueue = 64 };
    DAQ_FrameInfo info;
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    double reading = 0.0;
    for (int read = 0; read < frames;) {
        if (DAQ_StreamStart(kQueue, DAQ_STREAM_DROP_NEWEST) != DAQ_OK) return -1.0;
        int32_t records = 0, counter = -1;
        float rate = 0.0f;
        const double deadline = Now() + 30.0;
        do {
            if (Now() > deadline) return -1.0;
            DAQ_CheckDMA(&records, &counter, &rate);
        } while (counter < kQueue + 4);
        DAQ_StreamStop();
        const double start = Now();
        while (read < frames && DAQ_StreamRead(buffers[0], buffers[1], buffers[2], buffers[3],
                                               points, &info, 0) == DAQ_OK)
            ++read;
        reading += Now() - start;
    }
    return reading;
}

int main(int argc, char **argv) {
    const uint32_t device = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 16) : 0xA006;
    const uint32_t length = argc > 2 ? (uint32_t)atoi(argv[2]) : 1024;
    const uint32_t records = argc > 3 ? (uint32_t)atoi(argv[3]) : 512;
    const int frames = argc > 4 ? atoi(argv[4]) : 200;
    const int stream = argc > 5 && strcmp(argv[5], "stream") == 0;
    const int pacing = argc > 6 && strcmp(argv[6], "immediate") == 0 ? SIM_DMA_IMMEDIATE
                                                                       : SIM_DMA_MAXRATE;
    if (SIM_SetBoards(&device, 1) != 0 || SIM_SetDmaPacing(pacing) != 0) return 2;
    if (DAQ_OpenDevice(0) != 0 || DAQ_ConfigAcquisition(length, records) != 0) return 1;
    int32_t lanes = 0;
    DAQ_GetADCNumber(&lanes);
    int16_t *buffers[4] = {NULL, NULL, NULL, NULL};
    for (int lane = 0; lane < lanes; ++lane) {
        buffers[lane] = malloc(sizeof(int16_t) * length * records);
        if (buffers[lane] == NULL) return 1;
    }
    int result = 0;
    double seconds = 0.0;
    if (stream) {
        seconds = ReadStream(frames, buffers, length * records);
        if (seconds < 0.0) result = 3;
    } else {
        const double start = Now();
        result = ReadLatest(frames, buffers);
        seconds = Now() - start;
    }
    DAQ_CloseDevice();
    for (int lane = 0; lane < 4; ++lane) free(buffers[lane]);
    if (result != 0) return result;
    printf("%.1f frames/s (%d frames of %d lanes x %u points)\n", frames / seconds, frames, lanes,
           length * records);
    return 0;
}
