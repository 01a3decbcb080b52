/* Demo section: the waveform generator looped back into the ADC lanes of a model-9 board.
   Channel 0 plays a 1 MHz sine, channel 1 a 2.5 MHz square with duty cycle 0.3; one acquired frame
   of both lanes goes to loopback.svg, and the frequency measured on each lane is printed beside
   the one set. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "demo.h"

#define DEMO_RECORD_LENGTH 4096u
#define DEMO_RECORDS 16u
#define DEMO_LANE_SAMPLES (DEMO_RECORD_LENGTH * DEMO_RECORDS)
#define DEMO_SVG_SAMPLES 1000
#define DEMO_FRAME_WAIT_MS 5000

static void sleep_milliseconds(unsigned milliseconds) {
#if defined(_WIN32)
    Sleep(milliseconds);
#else
    struct timespec request;
    request.tv_sec = (time_t)(milliseconds / 1000u);
    request.tv_nsec = (long)(milliseconds % 1000u) * 1000000L;
    nanosleep(&request, NULL);
#endif
}

/* The scan index of a model-9 board on the bus as it is; otherwise the bus is set to one model-9
   board (possible only while nothing is open) and index 0 is returned. -1 when neither works. */
static int32_t find_model9_board(void) {
    const uint32_t model9 = 0xA006;
    int32_t count = 0, index, model;
    if (DAQ_CheckSystem(&count) == 0) {
        for (index = 0; index < count; ++index) {
            if (DAQ_GetDeviceModel(index, &model) == 0 && model == 9) return index;
        }
    }
    DAQ_CloseDevice(); /* gives back the scan's library reference */
    if (SIM_SetBoards(&model9, 1) != 0) return -1;
    return 0;
}

/* Frequency in Hz from rising crossings of the mid level (with hysteresis of a tenth of the
   swing), measured within each record so that gaps between records do not count. */
static double measure_frequency(const int16_t *lane, double samplesPerSecond, double *swing) {
    int minimum = lane[0], maximum = lane[0];
    double cycles = 0.0, span = 0.0;
    unsigned i, record;
    for (i = 1; i < DEMO_LANE_SAMPLES; ++i) {
        if (lane[i] < minimum) minimum = lane[i];
        if (lane[i] > maximum) maximum = lane[i];
    }
    *swing = (double)(maximum - minimum);
    if (maximum - minimum < 16) return 0.0;
    {
        const double middle = 0.5 * (minimum + maximum);
        const double hysteresis = 0.1 * (maximum - minimum);
        for (record = 0; record < DEMO_RECORDS; ++record) {
            const int16_t *samples = lane + record * DEMO_RECORD_LENGTH;
            int armed = 0, crossings = 0;
            double first = 0.0, last = 0.0;
            for (i = 1; i < DEMO_RECORD_LENGTH; ++i) {
                if (samples[i] < middle - hysteresis) armed = 1;
                if (armed && samples[i - 1] < middle && samples[i] >= middle) {
                    /* Linear interpolation between the two samples around the crossing. */
                    const double position =
                        (double)(i - 1) + (middle - samples[i - 1]) / (samples[i] - samples[i - 1]);
                    if (crossings == 0) first = position;
                    last = position;
                    ++crossings;
                    armed = 0;
                }
            }
            if (crossings >= 2) {
                cycles += crossings - 1;
                span += last - first;
            }
        }
    }
    return span > 0.0 ? cycles / span * samplesPerSecond : 0.0;
}

static int write_svg(const char *path, const int16_t *lane0, const int16_t *lane1,
                     double samplesPerSecond) {
    const int width = 1000, laneHeight = 200;
    const int16_t *lanes[2];
    const char *colours[2] = {"#1f77b4", "#d62728"};
    const char *labels[2] = {"lane 0: channel 0, 1 MHz sine", "lane 1: channel 1, 2.5 MHz square, duty 0.3"};
    int lane, i;
    FILE *file = fopen(path, "w");
    if (file == NULL) return -1;
    lanes[0] = lane0;
    lanes[1] = lane1;
    fprintf(file, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                  "viewBox=\"0 0 %d %d\">\n", width, 2 * laneHeight + 30, width, 2 * laneHeight + 30);
    fprintf(file, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    for (lane = 0; lane < 2; ++lane) {
        const int top = lane * laneHeight;
        fprintf(file, "<line x1=\"0\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#ccc\"/>\n",
                top + laneHeight / 2, width, top + laneHeight / 2);
        fprintf(file, "<text x=\"8\" y=\"%d\" font-family=\"sans-serif\" font-size=\"13\">%s</text>\n",
                top + 16, labels[lane]);
        fprintf(file, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.2\" points=\"",
                colours[lane]);
        for (i = 0; i < DEMO_SVG_SAMPLES; ++i) {
            /* Samples are codes about mid-scale: +-8192 spans the lane's height. */
            const double x = (double)i * width / DEMO_SVG_SAMPLES;
            const double y = top + laneHeight / 2.0 - lanes[lane][i] * (laneHeight / 2.0 - 4) / 8192.0;
            fprintf(file, "%.1f,%.1f ", x, y);
        }
        fprintf(file, "\"/>\n");
    }
    fprintf(file, "<text x=\"8\" y=\"%d\" font-family=\"sans-serif\" font-size=\"13\">first %d "
                  "samples at %.0f MS/s (%.1f us)</text>\n",
            2 * laneHeight + 20, DEMO_SVG_SAMPLES, samplesPerSecond / 1e6,
            DEMO_SVG_SAMPLES / samplesPerSecond * 1e6);
    fprintf(file, "</svg>\n");
    return fclose(file) == 0 ? 0 : -1;
}

/* Sets both generator channels, acquires one frame through the loopback and reports it. */
static int play_and_acquire(int16_t *lane0, int16_t *lane1) {
    const double frequencies[2] = {1000000.0, 2500000.0};
    uint32_t dividerCode = 0;
    float megasamples = 0.0f;
    double swing[2], measured[2];
    int waited, lane;

    if (AWG_SetWaveformType(0, 0) != 0 || AWG_SetAmplitude(0, 3.0f) != 0 ||
        AWG_SetFrequency(0, frequencies[0]) != 0 || AWG_SetDutycycle(1, 0.3f) != 0 ||
        AWG_SetWaveformType(1, 1) != 0 || AWG_SetAmplitude(1, 3.0f) != 0 ||
        AWG_SetFrequency(1, frequencies[1]) != 0 || AWG_SyncAllChannels() != 0) {
        printf("  the generator refused a setting\n");
        return -1;
    }
    printf("  channel 0: sine, amplitude 3.0, %.0f Hz\n", frequencies[0]);
    printf("  channel 1: square, duty cycle 0.3, amplitude 3.0, %.0f Hz\n", frequencies[1]);
    if (SIM_SetLoopback(0, 1) != 0) {
        printf("  the simulated board offers no loopback\n");
        return -1;
    }
    if (DAQ_ConfigAcquisition(DEMO_RECORD_LENGTH, DEMO_RECORDS) != 0 ||
        DAQ_StartAcquisition() != 0) {
        printf("  the acquisition could not be started\n");
        return -1;
    }
    for (waited = 0; waited < DEMO_FRAME_WAIT_MS && !DAQ_NewDataFrameAvailable(); waited += 10) {
        sleep_milliseconds(10);
    }
    if (!DAQ_NewDataFrameAvailable()) {
        DAQ_StopAcquisition();
        printf("  no frame within %d ms\n", DEMO_FRAME_WAIT_MS);
        return -1;
    }
    DAQ_GetLatestFrame(lane0, lane1, NULL, NULL);
    DAQ_StopAcquisition();
    SIM_SetLoopback(0, 0);

    if (DAQ_GetSamplingRate(&dividerCode, &megasamples) != 0 || megasamples <= 0.0f) {
        printf("  no sampling rate\n");
        return -1;
    }
    measured[0] = measure_frequency(lane0, megasamples * 1e6, &swing[0]);
    measured[1] = measure_frequency(lane1, megasamples * 1e6, &swing[1]);
    for (lane = 0; lane < 2; ++lane) {
        printf("  lane %d: set %10.0f Hz, measured %12.1f Hz (%+.3f %%), swing %.0f codes\n", lane,
               frequencies[lane], measured[lane],
               (measured[lane] / frequencies[lane] - 1.0) * 100.0, swing[lane]);
    }
    if (write_svg("loopback.svg", lane0, lane1, megasamples * 1e6) != 0) {
        printf("  loopback.svg could not be written\n");
        return -1;
    }
    printf("  wrote loopback.svg (%.0f MS/s)\n", megasamples);
    return 0;
}

int demo_generator(void) {
    int16_t *lane0, *lane1;
    int32_t board, result;
    printf("\nWaveform generator looped back into the ADC\n");
    board = find_model9_board();
    if (board < 0 || DAQ_OpenDevice(board) != 0) {
        printf("  no model-9 board could be opened\n");
        DAQ_CloseDevice();
        return -1;
    }
    lane0 = (int16_t *)calloc(DEMO_LANE_SAMPLES, sizeof(int16_t));
    lane1 = (int16_t *)calloc(DEMO_LANE_SAMPLES, sizeof(int16_t));
    result = (lane0 != NULL && lane1 != NULL) ? play_and_acquire(lane0, lane1) : -1;
    free(lane0);
    free(lane1);
    DAQ_CloseDevice();
    return result;
}
