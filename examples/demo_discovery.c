/* Demo section: bus scan, board list, open board 0, its model parameters and rate table, close. */
#include <stdio.h>

#include "OstrelDAQEngine.h"
#include "demo.h"

/* Prints a getter's value, or that the engine does not offer it yet (a negative result). */
static void print_int(const char *label, int32_t result, int32_t value) {
    if (result < 0) {
        printf("  %-26s (not available: %d)\n", label, (int)result);
    } else {
        printf("  %-26s %d\n", label, (int)value);
    }
}

static int list_boards(int32_t *count) {
    int32_t index;
    char library[512];
    int32_t simulated = 0;
    if (DAQ_CheckSystem(count) != 0) {
        char status[2048];
        DAQ_GetStatusText(status, (int32_t)sizeof status);
        printf("The driver library cannot be opened: %s\n", status);
        return -1;
    }
    if (DAQ_GetDriverLibrary(library, (int32_t)sizeof library, &simulated) == 0)
        printf("Driver-access library: %s%s\n", library, simulated ? " (simulated boards)" : "");
    printf("Boards found: %d%s\n", (int)*count, simulated ? ", simulated" : "");
    for (index = 0; index < *count; ++index) {
        uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
        int32_t model = -1;
        if (DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource) < 0 ||
            DAQ_GetDeviceModel(index, &model) < 0) {
            printf("  board %d: no information\n", (int)index);
            continue;
        }
        printf("  board %d: vendor 0x%04X device 0x%04X at %02X:%02X.%X, model %d\n", (int)index,
               (unsigned)vendor, (unsigned)device, (unsigned)bus, (unsigned)slot,
               (unsigned)function, (int)model);
    }
    return 0;
}

static void print_model_parameters(void) {
    uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, interrupt = 0;
    uint32_t bar2Address = 0, bar2Length = 0, bar4Address = 0, bar4Length = 0;
    int32_t value = 0;
    int16_t trailer = 0, info = 0, chunks = 0;
    float fullScale = 0.0f;
    int32_t result;

    if (DAQ_GetDeviceInfo(0, &vendor, &device, &bus, &slot, &function, &interrupt) >= 0) {
        printf("  %-26s 0x%04X\n", "device ID", (unsigned)device);
        printf("  %-26s %u\n", "interrupt", (unsigned)interrupt);
    }
    if (GetDeviceResource(&bar2Address, &bar2Length, &bar4Address, &bar4Length) >= 0) {
        printf("  %-26s 0x%08X, 0x%X bytes\n", "BAR 2", (unsigned)bar2Address,
               (unsigned)bar2Length);
        printf("  %-26s 0x%08X, 0x%X bytes\n", "BAR 4", (unsigned)bar4Address,
               (unsigned)bar4Length);
    }
    result = DAQ_GetMaxRecordLength(&value);
    print_int("max record length", result, value);
    result = DAQ_GetADCNumber(&value);
    print_int("ADC lanes", result, value);
    result = DAQ_GetDMATransferPoints(&value);
    print_int("DMA transfer points", result, value);
    result = DAQ_GetGainNumber(&value);
    print_int("gain settings", result, value);
    result = DAQ_GetAttenuationNumber(&value);
    print_int("attenuation settings", result, value);
    result = DAQ_GetCouplingNumber(&value);
    print_int("coupling settings", result, value);
    result = DAQ_GetTerminationNumber(&value);
    print_int("termination settings", result, value);
    result = AWG_GetnelNum(&value);
    print_int("generator channels", result, value);
    if (DAQ_GetDMAInfo(&trailer, &info, &chunks) >= 0) {
        printf("  %-26s trailer %d points, info %d, %d chunks\n", "DMA info", (int)trailer,
               (int)info, (int)chunks);
    } else {
        printf("  %-26s (not available)\n", "DMA info");
    }
    result = DAQ_GetVerticalInfo(&fullScale, &value);
    if (result >= 0) {
        printf("  %-26s %.1f mV, max code %d\n", "vertical range", (double)fullScale, (int)value);
    } else {
        printf("  %-26s (not available: %d)\n", "vertical range", (int)result);
    }
}

static void print_sampling_rates(void) {
    int32_t count = 0;
    int32_t index;
    float rate = 0.0f;
    if (DAQ_CheckSamplingRates(0, &rate, &count) < 0) {
        printf("  (sampling-rate table not available)\n");
        return;
    }
    for (index = 0; index < count; ++index) {
        if (DAQ_CheckSamplingRates(index, &rate, &count) < 0) break;
        printf("  divider code %2d: %g MS/s\n", (int)index, (double)rate);
    }
}

int demo_discovery(void) {
    int32_t count = 0;
    int32_t opened;
    int32_t closed;

    if (list_boards(&count) != 0) return -1;
    if (count == 0) {
        printf("No board to open.\n");
        return DAQ_CloseDevice() == 0 ? 0 : -1;
    }

    opened = DAQ_OpenDevice(0);
    printf("Open board 0: %d\n", (int)opened);
    if (opened == 0) {
        printf("Model parameters:\n");
        print_model_parameters();
        printf("Sampling rates:\n");
        print_sampling_rates();
    }
    closed = DAQ_CloseDevice();
    printf("Close: %d\n", (int)closed);
    return opened == 0 && closed == 0 ? 0 : -1;
}
