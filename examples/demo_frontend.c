/* Demo section: the front end of the opened board: record-length limit and geometry, setting
   counts, the settings in force on every lane, and the card-data file their zero offsets come
   from. */
#include <stdio.h>

#include "OstrelDAQEngine.h"
#include "demo.h"

/* A getter that has nothing to report on this model leaves its argument alone. */
#define NOT_REPORTED (-12345)

static void print_setting(const char *label, int32_t value) {
    if (label[0] != '\0') printf(" %s", label);
    if (value == NOT_REPORTED) {
        printf(" -");
    } else {
        printf(" %d", (int)value);
    }
}

static void print_geometry(void) {
    int32_t maximum = 0, inChunk = 0;
    int32_t length = NOT_REPORTED, records = NOT_REPORTED;
    DAQ_GetMaxRecordLength(&maximum);
    printf("  %-26s %d points per lane\n", "record-length limit", (int)maximum);
    /* The board keeps the length in its own units: what it reads back shows the rounding. */
    DAQ_SetRecordLength(1000);
    DAQ_SetRecordNumber(16);
    DAQ_GetRecordNumInMem(&inChunk);
    DAQ_GetRecordLength(&length);
    DAQ_GetRecordNumber(&records);
    printf("  %-26s", "1000 points x 16 records:");
    print_setting("board reads back", length);
    printf(" points,");
    print_setting("", records);
    printf(" records; %d record slots per DMA chunk\n", (int)inChunk);
}

static void print_counts(int32_t *lanes) {
    int32_t gains = 0, attenuations = 0, couplings = 0, terminations = 0;
    DAQ_GetADCNumber(lanes);
    DAQ_GetGainNumber(&gains);
    DAQ_GetAttenuationNumber(&attenuations);
    DAQ_GetCouplingNumber(&couplings);
    DAQ_GetTerminationNumber(&terminations);
    printf("  %-26s lanes %d; gain %d, attenuation %d, coupling %d, termination %d\n",
           "front-end settings", (int)*lanes, (int)gains, (int)attenuations, (int)couplings,
           (int)terminations);
}

static void print_lane_settings(int32_t lanes) {
    int32_t lane;
    int32_t channel = NOT_REPORTED;
    DAQ_GetInputChannel(&channel);
    for (lane = 0; lane < lanes; ++lane) {
        int32_t gain = NOT_REPORTED, attenuation = NOT_REPORTED;
        int32_t coupling = NOT_REPORTED, termination = NOT_REPORTED;
        DAQ_GetGain(lane, &gain);
        DAQ_GetAttenuation(lane, &attenuation);
        DAQ_GetCoupling(lane, &coupling);
        DAQ_GetTermination(lane, &termination);
        printf("  lane %d:", (int)lane);
        if (lanes == 1) print_setting("input channel", channel);
        print_setting("gain", gain);
        print_setting("attenuation", attenuation);
        print_setting("coupling", coupling);
        print_setting("termination", termination);
        printf("\n");
    }
}

/* The offsets in force are the card-data entries of the settings above (mid-scale when the file
   is missing or belongs to another board); show which file that is. */
static void print_card_data(void) {
    int32_t model = -1;
    const char *name;
    FILE *file;
    DAQ_GetDeviceModel(0, &model);
    name = model == 8 ? "CardData_P2W8B.dat" : "CardData_K9T3A.dat";
    file = fopen(name, "rb");
    if (file != NULL) {
        fclose(file);
        printf("  %-26s %s in the current directory\n", "zero offsets from", name);
    } else {
        printf("  %-26s none found (%s): mid-scale, or the built-in values on model 5\n",
               "zero offsets from", name);
    }
}

void demo_frontend(void) {
    int32_t lanes = 0;
    int32_t coupling = NOT_REPORTED;
    printf("Front end:\n");
    print_geometry();
    print_counts(&lanes);
    print_lane_settings(lanes);
    print_card_data();

    /* One change and its read-back, then the setting as it was. */
    DAQ_GetCoupling(0, &coupling);
    if (coupling != NOT_REPORTED) {
        int32_t readBack = NOT_REPORTED;
        DAQ_SetCoupling(0, 1 - coupling);
        DAQ_GetCoupling(0, &readBack);
        printf("  %-26s %d -> %d, back to %d\n", "lane 0 coupling", (int)coupling, (int)readBack,
               (int)coupling);
        DAQ_SetCoupling(0, coupling);
    }
}
