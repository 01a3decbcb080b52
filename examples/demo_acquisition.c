/* Demo section: acquisition from the opened board. A known signal on every lane (the simulated
   board's test controls), a few hundred frames, the counters, each lane's minimum, maximum and
   mean, and one frame of every lane as a scope trace in frame.svg. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "demo.h"

#define RECORD_LENGTH 1024u
#define RECORD_NUMBER 64u
#define FRAMES_WANTED 300
#define TRACE_POINTS 1200 /* per lane in the SVG */

static void sleep_one_millisecond(void) {
#if defined(_WIN32)
    Sleep(1);
#else
    struct timespec pause = {0, 1000000L};
    nanosleep(&pause, NULL);
#endif
}

/* A different sine on every input: a whole number of periods per frame, so the trace shows a few
   of them, on distinct levels within the ADC's range (the simulated board adds its levels to code
   8192; a 12-bit board's mid-scale is 2048). */
static void set_signals(double samplesPerLane, double samplesPerSecond) {
    static const double periods[4] = {3.0, 5.0, 2.0, 7.0};
    static const double levels[4] = {-0.3, 0.18, -0.06, 0.43};     /* of half the range */
    static const double amplitudes[4] = {0.37, 0.18, 0.1, 0.15};
    const double frameSeconds = samplesPerLane / samplesPerSecond;
    float fullScale = 0.0f;
    int32_t maxCode = 0x3FFF;
    double half, shift;
    int input;
    if (DAQ_GetVerticalInfo(&fullScale, &maxCode) != 0 || maxCode <= 0) maxCode = 0x3FFF;
    half = (maxCode + 1) / 2.0;
    shift = half - 8192.0;
    for (input = 0; input < 4; ++input) {
        SIM_SetInputSignal(0, input, shift + levels[input] * half, amplitudes[input] * half,
                           periods[input] / frameSeconds, input == 3 ? half / 200.0 : 4.0);
    }
}

/* A tick step of 1, 2 or 5 times a power of ten giving at most six intervals over the range. */
static double tick_step(double range) {
    double step = 1e-3;
    while (range / step > 6.0) {
        if (range / (step * 2.0) <= 6.0) return step * 2.0;
        if (range / (step * 5.0) <= 6.0) return step * 5.0;
        step *= 10.0;
    }
    return step;
}

struct lane_summary {
    int minimum, maximum;
    double mean;
};

static struct lane_summary summarise(const int16_t *samples, size_t count) {
    struct lane_summary summary = {32767, -32768, 0.0};
    double sum = 0.0;
    size_t i;
    for (i = 0; i < count; ++i) {
        if (samples[i] < summary.minimum) summary.minimum = samples[i];
        if (samples[i] > summary.maximum) summary.maximum = samples[i];
        sum += samples[i];
    }
    summary.mean = count > 0 ? sum / (double)count : 0.0;
    return summary;
}

/* One frame of every lane, time in microseconds across, codes up, decimated to TRACE_POINTS. */
static int write_svg(const char *path, int16_t *const lanes[4], int laneCount, size_t count,
                     double microsecondsPerSample, const struct lane_summary *summaries) {
    static const char *colours[4] = {"#d62728", "#1f77b4", "#2ca02c", "#9467bd"};
    const double width = 900.0, height = 480.0, left = 70.0, right = 150.0, top = 30.0,
                 bottom = 50.0;
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    const double duration = microsecondsPerSample * (double)count;
    size_t stride = count / TRACE_POINTS + 1;
    int low = 32767, high = -32768, lane;
    FILE *file = fopen(path, "w");
    if (file == NULL) return -1;
    for (lane = 0; lane < laneCount; ++lane) {
        if (summaries[lane].minimum < low) low = summaries[lane].minimum;
        if (summaries[lane].maximum > high) high = summaries[lane].maximum;
    }
    low -= 250;
    high += 250;
    fprintf(file,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "font-family=\"sans-serif\" font-size=\"12\">\n"
            "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
            "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
            "stroke=\"#444\"/>\n",
            width, height, left, top, plotWidth, plotHeight);
    {
        const double timeStep = tick_step(duration);
        const double codeStep = tick_step((double)(high - low));
        double value;
        for (value = 0.0; value <= duration + 1e-9; value += timeStep) {
            const double x = left + plotWidth * value / duration;
            fprintf(file,
                    "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#ddd\"/>"
                    "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%g</text>\n",
                    x, top, x, top + plotHeight, x, top + plotHeight + 16, value);
        }
        for (value = codeStep * (double)(long)(low / codeStep); value <= high; value += codeStep) {
            const double y = top + plotHeight * (high - value) / (double)(high - low);
            if (value < low) continue;
            fprintf(file,
                    "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>"
                    "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n",
                    left, y, left + plotWidth, y, left - 6, y + 4, value);
        }
    }
    fprintf(file,
            "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">time (microseconds)</text>\n"
            "<text x=\"16\" y=\"%.0f\" text-anchor=\"middle\" "
            "transform=\"rotate(-90 16 %.0f)\">code minus zero offset</text>\n",
            left + plotWidth / 2, height - 10, top + plotHeight / 2, top + plotHeight / 2);
    for (lane = 0; lane < laneCount; ++lane) {
        size_t i;
        fprintf(file, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1\" points=\"",
                colours[lane]);
        for (i = 0; i < count; i += stride) {
            const double x = left + plotWidth * (double)i / (double)count;
            const double y = top + plotHeight * (high - lanes[lane][i]) / (double)(high - low);
            fprintf(file, "%.1f,%.1f ", x, y);
        }
        fprintf(file, "\"/>\n<rect x=\"%.0f\" y=\"%.0f\" width=\"14\" height=\"3\" fill=\"%s\"/>"
                      "<text x=\"%.0f\" y=\"%.0f\">lane %d</text>\n",
                width - right + 16, top + 10 + 20.0 * lane, colours[lane], width - right + 36,
                top + 15 + 20.0 * lane, lane);
    }
    fprintf(file, "</svg>\n");
    return fclose(file) == 0 ? 0 : -1;
}

void demo_acquisition(void) {
    const size_t samplesPerLane = (size_t)RECORD_LENGTH * RECORD_NUMBER;
    int16_t *lanes[4] = {NULL, NULL, NULL, NULL};
    struct lane_summary summaries[4];
    int32_t laneCount = 0, records = 0, frameCounter = 0, statistics[9] = {0};
    uint32_t divider = 0;
    float megasamples = 0.0f, rate = 0.0f;
    int frames = 0, waited = 0, lane;

    printf("Acquisition\n");
    DAQ_GetADCNumber(&laneCount);
    DAQ_GetSamplingRate(&divider, &megasamples);
    if (laneCount < 1 || laneCount > 4 || megasamples <= 0.0f) {
        printf("  no acquisition on this board\n");
        return;
    }
    for (lane = 0; lane < 4; ++lane) {
        lanes[lane] = malloc(samplesPerLane * sizeof(int16_t));
        if (lanes[lane] == NULL) goto release;
    }
    set_signals((double)samplesPerLane, megasamples * 1e6);
    if (DAQ_ConfigAcquisition(RECORD_LENGTH, RECORD_NUMBER) != 0 || DAQ_StartAcquisition() != 0) {
        printf("  configuration refused\n");
        goto release;
    }
    printf("  %u points x %u records per frame on %d lane%s at %.2f MS/s\n", RECORD_LENGTH,
           RECORD_NUMBER, (int)laneCount, laneCount > 1 ? "s" : "", megasamples);
    while (frames < FRAMES_WANTED && waited < 20000) {
        if (DAQ_NewDataFrameAvailable()) {
            DAQ_GetLatestFrame(lanes[0], lanes[1], lanes[2], lanes[3]);
            ++frames;
        } else {
            sleep_one_millisecond();
            ++waited;
        }
    }
    DAQ_CheckDMA(&records, &frameCounter, &rate);
    DAQ_StopAcquisition();
    DAQ_GetDebugValue(statistics);
    {
        /* The board's own pace bounds any rate worth showing. */
        const double boardRate = megasamples * laneCount * 2.0;
        printf("  %d frames read; the board delivered %d records in %d frames at %.1f MB/s "
               "(its full pace: %.1f MB/s)\n",
               frames, (int)records, (int)frameCounter + 1, rate < boardRate ? rate : boardRate,
               boardRate);
        printf("  frames announced with records missing: %d of %d (records the acquisition "
               "thread could not copy before the board wrote over them; %d%%)\n",
               (int)statistics[4], (int)frameCounter + 1, (int)statistics[6]);
    }
    if (frames == 0) goto release;
    for (lane = 0; lane < laneCount; ++lane) {
        summaries[lane] = summarise(lanes[lane], samplesPerLane);
        printf("  lane %d: minimum %6d  maximum %6d  mean %9.2f\n", lane, summaries[lane].minimum,
               summaries[lane].maximum, summaries[lane].mean);
    }
    if (write_svg("frame.svg", lanes, (int)laneCount, samplesPerLane, 1.0 / megasamples,
                  summaries) == 0) {
        printf("  one frame of every lane written to frame.svg\n");
    }
release:
    for (lane = 0; lane < 4; ++lane) free(lanes[lane]);
}
