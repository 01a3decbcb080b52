/*
 * OstrelBoardSim: a simulated PCI bus with simulated Ostrel boards, behind the driver-access
 * contract of platform/wdc. These SIM_* functions set up scenarios for tests, examples and the
 * demo; the engine never calls them.
 *
 * Return 0 for success and -1 for a bad argument (unknown board, fault, resource, input) unless
 * stated otherwise.
 */
#ifndef OSTREL_BOARD_SIM_H
#define OSTREL_BOARD_SIM_H

#include <stdint.h>

#if defined(_WIN32) && !defined(OSTREL_WDC_STATIC)
#if defined(OSTREL_BUILDING_WDC)
#define SIM_API __declspec(dllexport)
#else
#define SIM_API __declspec(dllimport)
#endif
#elif defined(_WIN32)
#define SIM_API
#else
#define SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SimAccess {
    uint32_t board;   /* scan index of the board */
    uint32_t space;   /* 0 or 2 for a BAR, 0xFF for configuration space */
    uint64_t offset;  /* byte offset in that space */
    uint32_t width;   /* bytes: 1, 2 or 4 */
    uint32_t write;   /* 1 for a write, 0 for a read */
    uint32_t value;   /* value written, or value the read returned */
} SimAccess;

enum SimFault {                    /* the named operation fails with the given status until cleared */
    SIM_FAULT_DEBUG_OPTIONS  = 1,  /* WDC_SetDebugOptions */
    SIM_FAULT_DRIVER_OPEN    = 2,  /* WDC_DriverOpen */
    SIM_FAULT_DRIVER_CLOSE   = 3,  /* WDC_DriverClose */
    SIM_FAULT_SCAN           = 4,  /* WDC_PciScanDevices */
    SIM_FAULT_DEVICE_INFO    = 5,  /* WDC_PciGetDeviceInfo */
    SIM_FAULT_DEVICE_OPEN    = 6,  /* WDC_PciDeviceOpen */
    SIM_FAULT_DEVICE_CLOSE   = 7,  /* WDC_PciDeviceClose */
    SIM_FAULT_DMA_LOCK       = 8,  /* WDC_DMAContigBufLock */
    SIM_FAULT_CONTROL_DEVICE = 9,  /* the driver control device cannot be opened */
    SIM_FAULT_DMA_STALL      = 10  /* the DMA dispatcher accepts descriptors and never completes them */
};

enum SimResource {
    SIM_RESOURCE_DRIVER_OPEN    = 1, /* 1 while the driver-access library is open, else 0 */
    SIM_RESOURCE_DEVICE_HANDLES = 2, /* device handles open now */
    SIM_RESOURCE_DMA_BUFFERS    = 3, /* DMA buffers locked now */
    SIM_RESOURCE_CONTROL_DEVICE = 4  /* driver control device handles open now */
};

enum SimDmaPacing {
    SIM_DMA_IMMEDIATE = 0, /* a queued descriptor completes before the write that queues it returns */
    SIM_DMA_REALTIME  = 1, /* default: the board acquires at its sampling rate on its own thread; a
                              descriptor completes when its records exist; records acquired while no
                              descriptor is queued are lost (their tags are skipped), as on a real
                              board */
    SIM_DMA_MAXRATE   = 2  /* the board's own thread completes descriptors as fast as it can */
};

/* ---- bus, boards, faults, log ------------------------------------------------------------------ */
/* Power-on state: default boards, no faults, log off and empty, counters 0, pacing REALTIME,
   signals and zero errors at their defaults. Only while the engine has nothing open: device
   handles, DMA buffers and control-device handles still open are dropped (later calls with them
   are refused as unknown). */
SIM_API void SIM_Reset(void);
/* 0..64 boards in scan order; -1 otherwise, and while a device handle or a DMA buffer is open.
   Board b sits at bus b + 1, slot 0, function 0. The new boards are at power-on. */
SIM_API int SIM_SetBoards(const uint32_t *deviceIds, int count);
/* Configuration word at offset 8 (default 0x11800009). */
SIM_API int SIM_SetConfigWord(int board, uint32_t word);
/* Status 0 clears the fault. */
SIM_API int SIM_SetFault(int fault, uint32_t status);
/* BAR 0 word at 0x8000000 + 2 x index. */
SIM_API uint32_t SIM_PeekRegister(int board, int32_t registerIndex);
SIM_API int SIM_PokeRegister(int board, int32_t registerIndex, uint32_t value);
/* A BAR 0 or BAR 2 value of width 1, 2 or 4 bytes, as the board holds it (0 when out of range). */
SIM_API uint32_t SIM_PeekBar(int board, int bar, uint64_t offset, int width);
/* Log every BAR and configuration access of the engine (SIM_* accesses are not logged). The log
   keeps the first 1048576 entries; later accesses are not recorded until it is cleared. */
SIM_API void SIM_SetAccessLog(int enabled);
/* Copies up to max oldest entries; returns the count copied. */
SIM_API int SIM_GetAccessLog(SimAccess *entries, int max);
SIM_API void SIM_ClearAccessLog(void);
/* Calls of a WDC_* operation (or Stat2Str) by name since SIM_Reset; -1 for an unknown name. */
SIM_API int SIM_GetCallCount(const char *operation);
/* See SimResource. */
SIM_API int SIM_GetResourceCount(int resource);

/* ---- front end ---------------------------------------------------------------------------------- */
/* The board's own view of its front end, decoded from its registers per model:
   input is the ADC lane on 2- and 4-lane boards and the selected input channel (0..3) on
   single-lane boards. A value the board cannot decode reads as -1. */
typedef struct SimFrontEnd { int inputChannel, coupling, termination, gain, attenuation; } SimFrontEnd;
SIM_API int SIM_GetFrontEnd(int board, int input, SimFrontEnd *out);

/* ---- DMA dispatcher and ADC ---------------------------------------------------------------------- */
SIM_API int SIM_SetDmaPacing(int mode);
/* Signal at one input (ADC lane on 2/4-lane boards, input channel 0..3 on single-lane boards):
   raw code = mid-scale + zero error of the current front-end setting + dcCodes
              + amplitudeCodes * sin(2 pi frequencyHz t) + gaussian noise of noiseCodes RMS,
   rounded and limited to 0..AdcMaxCode; t advances by one sample period per point. Mid-scale is
   half the board's code range: 8192 on the 14-bit boards, 2048 on the 12-bit ones (device IDs
   0xA004 and 0xE001). The noise differs from record to record (see SIM_SetNoiseSeed).
   Default after SIM_Reset: every input dc 0, amplitude 0, noise 0. */
SIM_API int SIM_SetInputSignal(int board, int input, double dcCodes, double amplitudeCodes,
                               double frequencyHz, double noiseCodes);
/* The board's zero error for one front-end setting of one input (indices as the board decodes
   them); default after SIM_Reset: a fixed, documented, non-zero pattern within -300..300 codes. */
SIM_API int SIM_SetZeroError(int board, int input, int coupling, int termination, int gain,
                             int attenuation, int codes);
/* Every board draws the noise of each record from this seed and the record's first sample: records
   differ from one another, and a run with the same seed and settings repeats its samples. Start-up
   and SIM_Reset draw a fresh random seed. */
SIM_API void SIM_SetNoiseSeed(uint64_t seed);
/* The next count records are never written (a tag gap). */
SIM_API int SIM_SkipRecords(int board, int count);
/* DMA writes refused for falling outside the locked buffer. */
SIM_API uint64_t SIM_GetDroppedDmaWrites(int board);
/* Records the board acquired at real-time pace while no descriptor was queued, since the last
   dispatcher reset: lost by the board itself, as a real board loses them. */
SIM_API uint64_t SIM_GetLostRecords(int board);
/* Board time, in ns, that the board's clock gave up since SIM_Reset at real-time pace. A board
   thread woken late produces a bounded backlog and lets its clock slip by the rest, where a real
   board goes on sampling; the records keep their tags, so to the engine the board seems to have
   fallen behind its sampling rate for that long. */
SIM_API uint64_t SIM_GetClockSlip(int board);
/* Writes bytes into the locked DMA buffer of the open device at a byte offset; -1 when no buffer
   is locked or the range falls outside it. */
SIM_API int SIM_WriteDmaBuffer(uint64_t offset, const void *data, uint64_t bytes);

/* ---- generator ------------------------------------------------------------------------------------ */
/* Loopback on models 6 and 9: generator channel c drives ADC lane c. The ADC sample taken at time
   t is the waveform-memory point at the channel's phase position (advanced by its 32.32 phase step
   at AwgClockHz, restarted by the release of a synchronisation) plus the lane's zero error; while
   the channel's output is held off the lane sees AwgMidCode plus its zero error. Each lane takes
   one sample per sample period of the model's rate table at the current clock divider: the time
   base of SIM_SetInputSignal. Returns -1 on a model without a generator. */
SIM_API int SIM_SetLoopback(int board, int enabled);

/* ---- driver-layer scenarios ----------------------------------------------------------------------
   Test controls that reach the interrupt, event and device-open branches of a driver layer. */
enum SimDriverFault {                  /* set and cleared with SIM_SetFault like SimFault */
    SIM_FAULT_INT_ENABLE       = 11,   /* WDC_IntEnable */
    SIM_FAULT_INT_DISABLE      = 12,   /* WDC_IntDisable */
    SIM_FAULT_EVENT_REGISTER   = 13,   /* WDC_EventRegister */
    SIM_FAULT_EVENT_UNREGISTER = 14    /* WDC_EventUnregister */
};
/* While keep is non-zero, a WDC_PciDeviceOpen that fails under SIM_FAULT_DEVICE_OPEN still hands
   out a handle, which the caller has to close (default after SIM_Reset: no handle). */
SIM_API int SIM_SetOpenFaultKeepsHandle(int keep);
/* Whether the board's card resources list an interrupt item (default 1). Applies to card
   information read and handles opened afterwards. */
SIM_API int SIM_SetInterruptResource(int board, int present);
/* The interrupt type a handle of the board reports once its interrupts are enabled (default 0x1,
   a line interrupt; the types with bit 0x10 or 0x20 are message-signalled and carry a message). */
SIM_API int SIM_SetInterruptType(int board, uint32_t type);
/* One interrupt on every open handle of the board whose interrupts are enabled: its counter + 1,
   its lost count + lost, its last message = message, then its handler runs on the calling thread.
   Returns the number of handlers run, -1 for an unknown board. */
SIM_API int SIM_RaiseInterrupt(int board, uint32_t message, uint32_t lost);
/* An event with these action bits to every open handle of the board whose registered actions
   share a bit with them; the handlers run on the calling thread. Returns the number of deliveries,
   -1 for an unknown board. */
SIM_API int SIM_RaiseEvent(int board, uint32_t action);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_BOARD_SIM_H */
