/* Demo section: the DC-offset calibration of the opened board (how long it took and the zero
   offsets it wrote, read back from the card-data file), then an acquisition at the calibrated
   offsets with each lane's peak-to-peak, mean and RMS in volts. */
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

#define RECORD_LENGTH 4096u
#define RECORD_NUMBER 64u
#define SETTLE_SECONDS 0.05 /* the calibration's wait after each setting change */
#define CARD_DATA_BYTES 260

static double seconds_now(void) {
#if defined(_WIN32)
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
#endif
}

static void sleep_one_millisecond(void) {
#if defined(_WIN32)
    Sleep(1);
#else
    struct timespec pause = {0, 1000000L};
    nanosleep(&pause, NULL);
#endif
}

/* The card-data file of the opened board: 4 bytes of device ID, then 128 little-endian 16-bit
   zero offsets. 0 when it was read whole. */
static int read_card_data(const char *name, unsigned *deviceId, int entries[128]) {
    unsigned char bytes[CARD_DATA_BYTES];
    size_t got;
    int i;
    FILE *file = fopen(name, "rb");
    if (file == NULL) return -1;
    got = fread(bytes, 1, sizeof(bytes), file);
    fclose(file);
    if (got != sizeof(bytes)) return -1;
    *deviceId = (unsigned)bytes[0] | (unsigned)bytes[1] << 8 | (unsigned)bytes[2] << 16 |
                (unsigned)bytes[3] << 24;
    for (i = 0; i < 128; ++i) {
        const unsigned word = (unsigned)bytes[4 + 2 * i] | (unsigned)bytes[5 + 2 * i] << 8;
        entries[i] = word >= 0x8000u ? (int)word - 0x10000 : (int)word;
    }
    return 0;
}

static void print_offsets(int lanes, int couplings, int terminations, int gains,
                          int attenuations) {
    const int span = lanes * couplings * terminations * gains * attenuations;
    int32_t model = -1;
    int entries[128];
    unsigned deviceId = 0;
    int entry;
    const char *name;
    DAQ_GetDeviceModel(0, &model);
    name = model == 8 ? "CardData_P2W8B.dat" : "CardData_K9T3A.dat";
    if (read_card_data(name, &deviceId, entries) != 0) {
        printf("  %s cannot be read\n", name);
        return;
    }
    printf("  %s (device ID 0x%04X), entries 0 to %d in codes from mid-scale:\n", name, deviceId,
           span - 1);
    printf("    entry  lane  coupling  termination  gain  attenuation  offset\n");
    for (entry = 0; entry < span; ++entry) {
        /* The lane varies fastest, then coupling, termination, gain and attenuation. */
        int rest = entry;
        const int lane = rest % lanes;
        int coupling, termination, gain;
        rest /= lanes;
        coupling = rest % couplings;
        rest /= couplings;
        termination = rest % terminations;
        rest /= terminations;
        gain = rest % gains;
        rest /= gains;
        printf("    %5d  %4d  %8d  %11d  %4d  %11d  %6d\n", entry, lane, coupling, termination,
               gain, rest, entries[entry]);
    }
}

/* Grounded inputs with a little noise: what the calibration expects to see. */
static void ground_inputs(void) {
    int input;
    for (input = 0; input < 4; ++input) SIM_SetInputSignal(0, input, 0.0, 0.0, 0.0, 1.5);
}

/* A different signal on every input for the measurement after the calibration. */
static void apply_signals(void) {
    static const double levels[4] = {0.0, 1000.0, -600.0, 250.0};
    static const double amplitudes[4] = {2000.0, 500.0, 0.0, 3000.0};
    static const double frequencies[4] = {1.0e5, 3.3e5, 0.0, 7.7e4};
    int input;
    for (input = 0; input < 4; ++input) {
        SIM_SetInputSignal(0, input, levels[input], amplitudes[input], frequencies[input], 2.0);
    }
}

static void measure_lanes(int lanes) {
    const size_t count = (size_t)RECORD_LENGTH * RECORD_NUMBER;
    int16_t *buffers[4] = {NULL, NULL, NULL, NULL};
    int waited = 0, lane;
    for (lane = 0; lane < 4; ++lane) buffers[lane] = malloc(count * sizeof(int16_t));
    if (buffers[0] == NULL || buffers[1] == NULL || buffers[2] == NULL || buffers[3] == NULL) {
        printf("  no memory for the lane buffers\n");
    } else if (DAQ_ConfigAcquisition_and_Start(RECORD_LENGTH, RECORD_NUMBER) != 0) {
        printf("  the acquisition cannot be started\n");
    } else {
        while (DAQ_NewDataFrameAvailable() == 0 && waited < 5000) {
            sleep_one_millisecond();
            ++waited;
        }
        if (DAQ_NewDataFrameAvailable() == 0) {
            printf("  no frame within 5 s\n");
        } else {
            DAQ_GetLatestFrame(buffers[0], buffers[1], buffers[2], buffers[3]);
            printf("  %u records of %u points per lane:\n", RECORD_NUMBER, RECORD_LENGTH);
            for (lane = 0; lane < lanes; ++lane) {
                float peakToPeak = 0.0f, mean = 0.0f, rms = 0.0f;
                DAQ_MeasureSignal(buffers[lane], (int32_t)count, &peakToPeak, &mean, &rms);
                printf("    lane %d: peak-to-peak %.4f V, mean %+.4f V, RMS %.4f V\n", lane,
                       peakToPeak, mean, rms);
            }
        }
        DAQ_StopAcquisition();
    }
    for (lane = 0; lane < 4; ++lane) free(buffers[lane]);
}

void demo_calibration(void) {
    int32_t lanes = 0, couplings = 0, terminations = 0, gains = 0, attenuations = 0;
    int32_t adcMaxCode = 0, result;
    float fullScale = 0.0f;
    double start, seconds;
    int steps;

    DAQ_GetADCNumber(&lanes);
    DAQ_GetCouplingNumber(&couplings);
    DAQ_GetTerminationNumber(&terminations);
    DAQ_GetGainNumber(&gains);
    DAQ_GetAttenuationNumber(&attenuations);
    steps = lanes * couplings * terminations * gains * attenuations;
    if (steps <= 0 || steps > 128) {
        printf("\nCalibration: the board reports no front-end settings\n");
        return;
    }

    printf("\nDC-offset calibration (%d steps of lane and front-end setting):\n", steps);
    ground_inputs();
    start = seconds_now();
    result = DAQ_Calibration_DCOffset();
    seconds = seconds_now() - start;
    if (result != 0) {
        printf("  failed (%d) after %.2f s; the earlier offsets stay in force\n", (int)result,
               seconds);
        return;
    }
    printf("  took %.2f s (the settle times alone: %d x %.2f s = %.2f s)\n", seconds, steps,
           SETTLE_SECONDS, steps * SETTLE_SECONDS);
    print_offsets(lanes, couplings, terminations, gains, attenuations);

    DAQ_GetVerticalInfo(&fullScale, &adcMaxCode);
    printf("\nMeasurement at the calibrated offsets (full scale %.1f mV, codes 0 to %d):\n",
           fullScale, (int)adcMaxCode);
    apply_signals();
    measure_lanes(lanes);
}
