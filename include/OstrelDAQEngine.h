/*
 * OstrelDAQEngine: plain C interface to the Ostrel family of PCI Express digitizer boards.
 *
 * One board is open at a time and every function works on that one process-wide engine state.
 * Call the functions from one application thread at a time. Every function returns a 32-bit
 * integer: DAQ_OK (0) for success and a negative OstrelResult for a refusal or failure, except
 * where a comment says otherwise. A refusal (null pointer, index out of range, nothing open)
 * returns DAQ_ERROR (-1) and changes nothing. Getters write through the caller's pointers only on
 * success, and write nothing where the open board's model lacks the register they read. No
 * function lets a C++ exception out: failures are results.
 */
#ifndef OSTREL_DAQ_ENGINE_H
#define OSTREL_DAQ_ENGINE_H

#include <stdint.h>

#if defined(OSTREL_STATIC)
#define OSTREL_API
#elif defined(_WIN32)
#if defined(OSTREL_BUILDING_ENGINE)
#define OSTREL_API __declspec(dllexport)
#else
#define OSTREL_API __declspec(dllimport)
#endif
#else
#define OSTREL_API __attribute__((visibility("default")))
#endif

/* Every export is noexcept in C++: nothing inside throws past it. Empty in C. */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSC_VER) && _MSC_VER >= 1900))
#define OSTREL_NOEXCEPT noexcept
#elif defined(__cplusplus)
#define OSTREL_NOEXCEPT throw()
#else
#define OSTREL_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the exports. The functions return int32_t holding one of these values (or a count,
   a flag or the driver library's status where a comment says so). */
typedef enum OstrelResult {
    DAQ_OK = 0,
    /* Refused (null pointer, index or value out of range, nothing open, acquisition running) or
       failed (time-out, driver library failure); nothing changed unless the comment says so. */
    DAQ_ERROR = -1,
    /* DAQ_OpenDevice: the board's configuration revision is not 9; the board is not set up. */
    DAQ_ERROR_REVISION = -2,
    /* DAQ_Calibration_DCOffset: the offsets were measured and are in force, but the card-data
       file could not be written, so they will not outlast the process. */
    DAQ_ERROR_CARD_DATA_NOT_SAVED = -2,
    /* DAQ_OpenDevice: the driver's control device could not be opened. */
    DAQ_ERROR_CONTROL_DEVICE = -3,
    /* DAQ_OpenDevice: the 16 MiB DMA buffer could not be locked. */
    DAQ_ERROR_DMA_LOCK = -4,
    /* DAQ_StreamRead: no frame came within the time-out. */
    DAQ_TIMEOUT = -5,
    /* DAQ_StreamRead: the stream was stopped by a full queue under DAQ_STREAM_FAIL; every frame
       queued before has been delivered. */
    DAQ_OVERFLOW = -6,
    /* DAQ_StreamRead: the stream has ended (DAQ_StreamStop, DAQ_StopAcquisition, a new
       configuration, a calibration) and every frame it queued has been delivered. */
    DAQ_ENDED = -7
} OstrelResult;

/* ---------------------------------------------------------------------------------------------
 * Board access and raw registers
 * ------------------------------------------------------------------------------------------- */

/* Reads the 32-bit control register at a signed register index (BAR 0 byte offset
   0x8000000 + 2 x index) into *value. DAQ_ERROR for a null value; otherwise the engine's last
   status, and with no board open *value is not written. */
OSTREL_API int32_t ReadMemory32(int32_t registerIndex, uint32_t *value) OSTREL_NOEXCEPT;

/* Writes the 32-bit control register at a signed register index; with no board open nothing is
   written. Returns the engine's last status. */
OSTREL_API int32_t WriteMemory32(int32_t registerIndex, uint32_t value) OSTREL_NOEXCEPT;

/* Reads the open board's configuration word at offset 8 (twice; the value is not returned).
   Returns the engine's last status; with no board open nothing is read. */
OSTREL_API int32_t ReadConfigurationRegister(void) OSTREL_NOEXCEPT;

/* Returns x to the fourth power, modulo 2^32 (not a result code). Touches no state. */
OSTREL_API uint32_t TestFunction(uint32_t x) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Discovery, open and close
 * ------------------------------------------------------------------------------------------- */

/* Opens the driver library and scans the bus once per open-close cycle; *boardCount receives the
   number of boards (0 when none is found; not written when the scan was made already).
   DAQ_OK, or DAQ_ERROR when the driver library cannot be opened or boardCount is null; when no
   driver-access library can be found at all (see DAQ_GetDriverLibrary), DAQ_GetStatusText says
   which one was looked for and how to ask for simulated boards. */
OSTREL_API int32_t DAQ_CheckSystem(int32_t *boardCount) OSTREL_NOEXCEPT;

/* Opens board boardIndex (an index out of range keeps the board opened before), applies its
   model, loads its card-data offsets, starts the generator and locks the DMA buffer. Without a
   card-data file the zero offsets are those the board opened before had, when it had the same
   device ID, and none (model 5: its built-in ones) otherwise.
   DAQ_OK on success, and also when this call's own scan finds no board (nothing is opened; the
   next open scans again); DAQ_ERROR when the scan of DAQ_CheckSystem found no board or the
   driver library cannot be opened; DAQ_ERROR_REVISION when the configuration revision is not 9;
   DAQ_ERROR_CONTROL_DEVICE when the driver control device is unavailable; DAQ_ERROR_DMA_LOCK when
   the DMA buffer cannot be locked.
   A board left open by an earlier open without DAQ_CloseDevice is released first, as the close
   releases it (acquisition stopped, DMA buffer, generator state, device handle, record request),
   so one board is held at a time; the driver library stays open and the scan is not repeated.
   If the new board then fails to open (-2, -3, -4), no board is open: the earlier one is gone.
   While an acquisition runs the call returns 0 and leaves the open board as it is. */
OSTREL_API int32_t DAQ_OpenDevice(int32_t boardIndex) OSTREL_NOEXCEPT;

/* Stops acquisition, releases the DMA buffer and the generator, closes the board and the driver
   library, and forgets the scan and the record request (the next open scans again). Refuses
   nothing; safe with nothing open. Returns the status of closing the driver library (0 on
   success).
   A program that ends without closing is safe: the engine stops its thread before its state goes
   away. In the child of a fork() the engine starts with no board: the parent's board, buffer and
   acquisition stay the parent's, and the child's close releases nothing of them and waits for
   nothing. */
OSTREL_API int32_t DAQ_CloseDevice(void) OSTREL_NOEXCEPT;

/* The driver-access library the engine reaches the boards through, chosen by the process's first
   DAQ_CheckSystem or DAQ_OpenDevice and kept for the rest of the process: the simulator
   OstrelBoardSim when the program has loaded it (it links it and sets up boards through SIM_*)
   or when the environment variable OSTREL_SIMULATE lists device IDs (OSTREL_SIMULATE=A006,A001
   puts those simulated boards on the bus); otherwise the library whose path is in
   OSTREL_DRIVER_LIBRARY, else the driver-access library wdapi1180.dll (libwdapi1180.so on Linux)
   through the system's library search path.
   path receives the library's file path (at most pathSize bytes with the terminating zero; a
   longer path is cut) and *simulated 1 for the simulator (simulated boards), 0 for any other
   library. DAQ_ERROR with nothing written for a null pointer, a pathSize below 1, or while no
   library is bound (DAQ_GetStatusText then says why). */
OSTREL_API int32_t DAQ_GetDriverLibrary(char *path, int32_t pathSize,
                                        int32_t *simulated) OSTREL_NOEXCEPT;

/* The engine's last status message of discovery, open and close (and of DAQ_DMABandwidthTest),
   cut to textSize bytes with the terminating zero. When DAQ_CheckSystem or DAQ_OpenDevice
   returns DAQ_ERROR because no driver-access library could be loaded, it names the library looked
   for and how to ask for simulated boards. DAQ_ERROR with nothing written for a null text or a
   textSize below 1. */
OSTREL_API int32_t DAQ_GetStatusText(char *text, int32_t textSize) OSTREL_NOEXCEPT;

/* *count receives the number of boards of the last successful scan. DAQ_ERROR for a null
   count; otherwise the engine's last status. */
OSTREL_API int32_t DAQ_GetDeviceNum(int32_t *count) OSTREL_NOEXCEPT;

/* Vendor ID, device ID and bus/slot/function of board boardIndex of the last scan, and the
   resource word (interrupt number) of the opened board, whatever the index. DAQ_ERROR with
   nothing written for a null pointer or an index outside the boards found; otherwise the
   engine's last status. */
OSTREL_API int32_t DAQ_GetDeviceInfo(int32_t boardIndex, uint32_t *vendorId, uint32_t *deviceId,
                                     uint32_t *bus, uint32_t *slot, uint32_t *function,
                                     uint32_t *resourceWord) OSTREL_NOEXCEPT;

/* *model receives the model code of board boardIndex from its device ID, without opening it:
   5..10, 0 for 0xE001, -1 for an ID the engine does not know. DAQ_OK (the last status becomes
   0); DAQ_ERROR for a null model or an index outside the boards found. */
OSTREL_API int32_t DAQ_GetDeviceModel(int32_t boardIndex, int32_t *model) OSTREL_NOEXCEPT;

/* The first four resource words of the opened board: BAR 2 physical address and length, BAR 4
   physical address and length (low 32 bits each). DAQ_ERROR with nothing written for a null
   pointer; otherwise the engine's last status. */
OSTREL_API int32_t GetDeviceResource(uint32_t *word0, uint32_t *word1, uint32_t *word2,
                                     uint32_t *word3) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Acquisition
 * ------------------------------------------------------------------------------------------- */

/* Configures records of recordLength points per lane, recordNumber records per frame (raised so
   that a frame holds at least 0x80000 points): writes the geometry to the board, slices the DMA
   buffer, allocates the host buffers and resets the DMA dispatcher. Does not start.
   DAQ_OK, or DAQ_ERROR for a length below 32 or above the model's maximum, a length that is not a
   whole number of the board's length unit (4 points on models 6, 9 and 10, 8 on model 7, 1 on
   models 5 and 8), a ring of four frames beyond 2 GiB, no board open, a running acquisition that
   does not stop, or a failed set-up. A length above the maximum or off the unit, or a ring too
   large, is refused before anything changes; a running acquisition is stopped first otherwise.
   The same request as the last successful one returns 0 at once. */
OSTREL_API int32_t DAQ_ConfigAcquisition(uint32_t recordLength,
                                         uint32_t recordNumber) OSTREL_NOEXCEPT;

/* As DAQ_ConfigAcquisition with a minimum length of 100, then starts the acquisition thread; the
   same request returns 0 at once only while the thread runs. DAQ_OK, or DAQ_ERROR for the
   refusals of DAQ_ConfigAcquisition and when the thread cannot be started. */
OSTREL_API int32_t DAQ_ConfigAcquisition_and_Start(uint32_t recordLength,
                                                   uint32_t recordNumber) OSTREL_NOEXCEPT;

/* Stops the acquisition thread, leaving the indicator code unchanged. DAQ_OK (also when no
   thread runs), or DAQ_ERROR when the thread has not ended within 8 s. */
OSTREL_API int32_t DAQ_FinalizeAcquisition(void) OSTREL_NOEXCEPT;

/* Sets indicator code 1 and starts the acquisition thread. DAQ_OK (also when it runs already),
   or DAQ_ERROR with nothing changed when no acquisition is configured (no host buffers of a
   successful configuration) or the thread cannot be created. */
OSTREL_API int32_t DAQ_StartAcquisition(void) OSTREL_NOEXCEPT;

/* Stops the acquisition thread (bounded wait) and sets indicator code 0. DAQ_OK (also when no
   thread runs), or DAQ_ERROR when the thread has not ended within 8 s. */
OSTREL_API int32_t DAQ_StopAcquisition(void) OSTREL_NOEXCEPT;

/* Copies the latest complete frame, split by lane, each sample minus the lane's zero offset, and
   clears the new-frame flag. Each lane buffer the model has must hold recordLength x recordNumber
   samples of the configuration in force; the others are not touched and may be null. Nothing is
   written before the first configuration. DAQ_OK, or DAQ_ERROR with nothing written when a
   needed lane pointer is null. */
OSTREL_API int32_t DAQ_GetLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2,
                                      int16_t *lane3) OSTREL_NOEXCEPT;

/* Returns 1 when a new complete frame has been announced since the last DAQ_GetLatestFrame (or
   the last start), else 0; not a result code. Refuses nothing. */
OSTREL_API int32_t DAQ_NewDataFrameAvailable(void) OSTREL_NOEXCEPT;

/* Records received, frame counter (-1 until the first frame after a start) and data rate in MB/s
   (10^6 bytes) of the current or last run. DAQ_OK, or DAQ_ERROR with nothing written when a
   pointer is null. */
OSTREL_API int32_t DAQ_CheckDMA(int32_t *recordsReceived, int32_t *frameCounter,
                                float *dataRate) OSTREL_NOEXCEPT;

/* Writes nine frame statistics to values[0..8]: record counts of ring frames 0..3, partial
   frames, last partial count, partial frames in percent, 0, 0. DAQ_OK, or DAQ_ERROR when values
   is null. */
OSTREL_API int32_t DAQ_GetDebugValue(int32_t *values) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Streaming: every frame in order, or an exact count of what was lost
 *
 * DAQ_StreamStart acquires the configured geometry into a queue of frames that DAQ_StreamRead
 * hands out oldest first, each with a DAQ_FrameInfo. Frames are numbered as the board completes
 * them; a frame dropped by the overflow policy, or lost whole because the thread could not keep
 * up, leaves a gap in the numbers that the next delivered frame reports. A frame with records
 * missing is delivered with those records zero and without DAQ_FRAME_COMPLETE, never as whole.
 * Where the configuration was raised to the minimum frame size (record length x record number x
 * lanes below 512 Ki points), the board's frames hold more records than the configured record
 * number: a delivered frame holds the configured records, the rest are not delivered, and
 * consecutive frames are not contiguous in time (completedNs shows the spacing).
 * While a stream runs, DAQ_GetLatestFrame is refused; DAQ_StreamStop may be called from a second
 * thread while DAQ_StreamRead waits on the first (the one exception to one thread at a time), and
 * the read then returns at once.
 * ------------------------------------------------------------------------------------------- */

typedef struct DAQ_FrameInfo {
    uint32_t size;             /* set by the caller to sizeof(DAQ_FrameInfo); lets the struct grow */
    uint32_t flags;            /* DAQ_FRAME_COMPLETE, DAQ_FRAME_GAP_BEFORE */
    uint64_t frameSequence;    /* 0 for the run's first frame, +1 for every frame the board
                                  completed, delivered or not */
    uint32_t recordsExpected;  /* records per lane buffer: the configured record number */
    uint32_t recordsValid;     /* of those, records that arrived; missing ones read 0 */
    uint64_t framesLostBefore; /* frames dropped since the previous delivered frame */
    uint64_t recordsLostTotal; /* records lost since the start, whatever the cause */
    int64_t completedNs;       /* monotonic host time at which the frame was completed, ns */
    double samplePeriodS;      /* seconds between two samples of a lane */
} DAQ_FrameInfo;

enum {
    DAQ_FRAME_COMPLETE = 1,  /* every record arrived */
    DAQ_FRAME_GAP_BEFORE = 2 /* frames were lost between the previous delivered frame and this */
};

/* What a full queue does with the next frame: drop the oldest queued frame, drop the new one, or
   stop the stream (reads deliver what is queued, then DAQ_OVERFLOW). */
enum { DAQ_STREAM_DROP_OLDEST = 0, DAQ_STREAM_DROP_NEWEST = 1, DAQ_STREAM_FAIL = 2 };

/* Starts acquiring the configured geometry into a queue of ringFrames frames (2 to 1024) with the
   given overflow policy. The run's first frame is the first that begins after the start. DAQ_OK,
   or DAQ_ERROR with nothing changed when nothing is configured, an argument is out of range, an
   acquisition already runs, or the memory of the queue cannot be had (a queue of more than half
   the machine's physical memory, ringFrames + 5 frames, is refused). The queue's memory is kept
   until the next DAQ_StreamStart, configuration or close, so frames queued before a stop can
   still be read. */
OSTREL_API int32_t DAQ_StreamStart(int32_t ringFrames, int32_t overflowPolicy) OSTREL_NOEXCEPT;

/* Delivers the oldest undelivered frame, lane by lane with the zero offsets removed exactly as
   DAQ_GetLatestFrame does, and fills *info. Waits at most timeoutMs for a frame (0: does not
   wait). DAQ_OK; DAQ_TIMEOUT when no frame came; DAQ_OVERFLOW or DAQ_ENDED once the stream has
   stopped and every queued frame is delivered (DAQ_ENDED also once a configuration or calibration
   has ended the stream and released its queue); DAQ_ERROR with nothing written when no stream was
   started since the board was opened (a close ends the stream too), capacityPerLane is below record length x record number, a lane the board has is null,
   timeoutMs is negative, or info is null or info->size below sizeof(DAQ_FrameInfo). */
OSTREL_API int32_t DAQ_StreamRead(int16_t *lane0, int16_t *lane1, int16_t *lane2,
                                  int16_t *lane3, uint32_t capacityPerLane,
                                  DAQ_FrameInfo *info, int32_t timeoutMs) OSTREL_NOEXCEPT;

/* Stops the stream's acquisition (bounded wait, as DAQ_StopAcquisition); frames already queued
   are still delivered, then DAQ_ENDED. A read waiting on another thread returns at once. DAQ_OK
   (also when no stream runs), or DAQ_ERROR when the thread has not ended within 8 s. */
OSTREL_API int32_t DAQ_StreamStop(void) OSTREL_NOEXCEPT;

/* Describes the frame the last DAQ_GetLatestFrame returned: its sequence in the run, records
   valid of the configured record number (a frame is announced once more than half of its records
   have arrived), completion time and sample period; flags as DAQ_StreamRead sets them, without
   DAQ_FRAME_GAP_BEFORE; framesLostBefore and recordsLostTotal are 0. DAQ_ERROR with nothing
   written for a null info or info->size below sizeof(DAQ_FrameInfo), or when DAQ_GetLatestFrame
   has returned no frame since the last configuration. */
OSTREL_API int32_t DAQ_GetLatestFrameInfo(DAQ_FrameInfo *info) OSTREL_NOEXCEPT;

/* Fills the 16 DMA chunks with one burst of descriptors, copies them to destination (16 x chunk
   bytes: 1310720 on model 5, 4456448 on the others) and reports MB/s. DAQ_OK, or DAQ_ERROR on a
   time-out, for a null pointer, while acquisition runs, or with nothing open. */
OSTREL_API int32_t DAQ_DMABandwidthTest(uint8_t *destination,
                                        float *megabytesPerSecond) OSTREL_NOEXCEPT;

/* Counts the records of the DMA pool that form an ordered chain, for the given record length
   and records per frame (with the configured records per chunk); buffer is not used.
   *firstTag receives the first chained tag and is left alone when there is none. DAQ_OK, or
   DAQ_ERROR for a null result pointer, a length or count below 1, no DMA buffer, or a geometry
   whose records do not fit the chunks. The acquisition is not disturbed. */
OSTREL_API int32_t DAQ_ProcessDMAPool(uint8_t *buffer, int32_t *firstTag, int32_t *recordCount,
                                      int32_t recordLength,
                                      int32_t recordsPerFrame) OSTREL_NOEXCEPT;

/* Copies the 16 DMA chunks to destination (16 x chunk bytes of the last set-up or test; nothing
   before the first). DAQ_OK, or DAQ_ERROR for a null destination or no DMA buffer. */
OSTREL_API int32_t DAQ_CopyDMAPool(uint8_t *destination) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Record and timing settings
 *
 * Setters of a register the open board's model lacks write nothing and return DAQ_OK; with no
 * board open nothing is written. Getters read the board's register back: with no board open, or
 * on a model without the register, they write nothing and return DAQ_OK.
 * ------------------------------------------------------------------------------------------- */

/* Writes the record length and the record slots per DMA chunk to the board (the configuration
   exports call it; a direct call does not set up the acquisition). DAQ_OK; DAQ_ERROR with nothing
   written for a length above the model's maximum or off the board's length unit, or while an
   acquisition runs. */
OSTREL_API int32_t DAQ_SetRecordLength(uint32_t recordLength) OSTREL_NOEXCEPT;
/* *recordLength receives the record length the board's register holds, in points per lane (the
   board's own unit scaled back). DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetRecordLength(int32_t *recordLength) OSTREL_NOEXCEPT;
/* Writes four times the records per frame to the board. The engine's last status (DAQ_OK on a
   model without the register), or DAQ_ERROR with nothing written while an acquisition runs. */
OSTREL_API int32_t DAQ_SetRecordNumber(int32_t recordsPerFrame) OSTREL_NOEXCEPT;
/* *recordsPerFrame receives the board's records-per-frame register divided by four. DAQ_OK, or
   DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetRecordNumber(int32_t *recordsPerFrame) OSTREL_NOEXCEPT;
/* Keeps the four record counters; the board with a record-counter register (model 9) takes
   counter0. Refuses nothing; returns DAQ_OK. */
OSTREL_API int32_t DAQ_SetRecordCounters(int32_t counter0, int32_t counter1, int32_t counter2,
                                         int32_t counter3) OSTREL_NOEXCEPT;
/* Writes the trigger setting to the board unchanged. Returns the engine's last status. */
OSTREL_API int32_t DAQ_SetTrigger(int32_t triggerSetting) OSTREL_NOEXCEPT;
/* *triggerSetting receives the board's trigger register. DAQ_OK, or DAQ_ERROR for a null
   pointer. */
OSTREL_API int32_t DAQ_GetTrigger(int32_t *triggerSetting) OSTREL_NOEXCEPT;
/* Writes the clock divider code: the index of the wanted rate in the model's sampling-rate table
   (DAQ_CheckSamplingRates). The value is not checked. Returns the engine's last status. */
OSTREL_API int32_t DAQ_SetSamplingRate(int32_t dividerCode) OSTREL_NOEXCEPT;
/* *dividerCode receives the board's divider code and *megasamplesPerSecond its rate in MS/s; with
   no divider register to read, the code passed in *dividerCode is looked up. DAQ_OK, or DAQ_ERROR
   with nothing written for a null pointer or a code outside the 21-entry rate table. */
OSTREL_API int32_t DAQ_GetSamplingRate(uint32_t *dividerCode,
                                       float *megasamplesPerSecond) OSTREL_NOEXCEPT;
/* *dividerCode receives the board's divider code. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetClockDivider(int32_t *dividerCode) OSTREL_NOEXCEPT;
/* *megasamplesPerSecond receives entry tableIndex of the open model's rate table (MS/s, 0 past
   the model's rates) and *rateCount the number of rates of the model. DAQ_OK, or DAQ_ERROR with
   nothing written for a null pointer or an index outside 0..20. */
OSTREL_API int32_t DAQ_CheckSamplingRates(int32_t tableIndex, float *megasamplesPerSecond,
                                          int32_t *rateCount) OSTREL_NOEXCEPT;
/* Writes the indicator (LED) code; 1 while acquiring and 0 when stopped is the engine's own use.
   Model 8 has no indicator. Returns the engine's last status. */
OSTREL_API int32_t DAQ_SetLEDCode(int32_t indicatorCode) OSTREL_NOEXCEPT;
/* *maxRecordLength receives the model's largest record length in points per lane. DAQ_OK, or
   DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetMaxRecordLength(int32_t *maxRecordLength) OSTREL_NOEXCEPT;
/* *recordsInChunk receives the record slots per DMA chunk of the last record length written
   (0 after a close). DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetRecordNumInMem(int32_t *recordsInChunk) OSTREL_NOEXCEPT;
/* *chunkPoints receives the model's DMA chunk size in points. DAQ_OK, or DAQ_ERROR for a null
   pointer. */
OSTREL_API int32_t DAQ_GetDMATransferPoints(int32_t *chunkPoints) OSTREL_NOEXCEPT;
/* *laneCount receives the model's ADC lane count (1, 2 or 4). DAQ_OK, or DAQ_ERROR for a null
   pointer. */
OSTREL_API int32_t DAQ_GetADCNumber(int32_t *laneCount) OSTREL_NOEXCEPT;
/* The model's trailer points per record, its DMA info value, and the DMA chunk count (16).
   DAQ_OK, or DAQ_ERROR with nothing written when a pointer is null. */
OSTREL_API int32_t DAQ_GetDMAInfo(int16_t *trailerPoints, int16_t *dmaInfoValue,
                                  int16_t *chunkCount) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Channel inputs
 *
 * The per-lane setters and getters take a lane 0 to ADCNumber - 1 on boards with 2 or 4 lanes,
 * and 0 to 3 (the input channels) on single-lane boards; any other lane gets DAQ_ERROR with
 * nothing read or written. Values are not checked: their low 16 bits reach the board in the
 * model's coding. A setter on a whole register returns the engine's last status, on a lane bit
 * DAQ_OK; each re-chooses the lane's zero offset for the new setting. A getter writes nothing on
 * a model without the register or when the board holds a code that stands for no setting.
 * ------------------------------------------------------------------------------------------- */

/* Sets the lane's gain (0 to GainNumber - 1). */
OSTREL_API int32_t DAQ_SetGain(int32_t lane, int32_t gain) OSTREL_NOEXCEPT;
/* *gain receives the lane's gain as the board holds it. DAQ_OK, or DAQ_ERROR for a null pointer
   or a lane the board does not have. */
OSTREL_API int32_t DAQ_GetGain(int32_t lane, int32_t *gain) OSTREL_NOEXCEPT;
/* *count receives the model's number of gains. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetGainNumber(int32_t *count) OSTREL_NOEXCEPT;
/* Sets the lane's attenuation (models 5 and 10; the others write nothing). */
OSTREL_API int32_t DAQ_SetAttenuation(int32_t lane, int32_t attenuation) OSTREL_NOEXCEPT;
/* *attenuation receives the lane's attenuation. DAQ_OK, or DAQ_ERROR for a null pointer or a
   lane the board does not have. */
OSTREL_API int32_t DAQ_GetAttenuation(int32_t lane, int32_t *attenuation) OSTREL_NOEXCEPT;
/* *count receives the model's number of attenuations. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetAttenuationNumber(int32_t *count) OSTREL_NOEXCEPT;
/* Sets the lane's coupling (0 or 1). */
OSTREL_API int32_t DAQ_SetCoupling(int32_t lane, int32_t coupling) OSTREL_NOEXCEPT;
/* *coupling receives the lane's coupling. DAQ_OK, or DAQ_ERROR for a null pointer or a lane the
   board does not have. */
OSTREL_API int32_t DAQ_GetCoupling(int32_t lane, int32_t *coupling) OSTREL_NOEXCEPT;
/* *count receives the model's number of couplings. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetCouplingNumber(int32_t *count) OSTREL_NOEXCEPT;
/* Sets the lane's termination (0 or 1). */
OSTREL_API int32_t DAQ_SetTermination(int32_t lane, int32_t termination) OSTREL_NOEXCEPT;
/* *termination receives the lane's termination. DAQ_OK, or DAQ_ERROR for a null pointer or a
   lane the board does not have. */
OSTREL_API int32_t DAQ_GetTermination(int32_t lane, int32_t *termination) OSTREL_NOEXCEPT;
/* *count receives the model's number of terminations. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetTerminationNumber(int32_t *count) OSTREL_NOEXCEPT;
/* Selects the input channel 0..3 of a single-lane board (models 5 and 10; any other value selects
   channel 0; the other models write nothing). The single lane's zero offset follows at the next
   offset update. Refuses nothing; returns DAQ_OK. */
OSTREL_API int32_t DAQ_SetInputChannel(int32_t channel) OSTREL_NOEXCEPT;
/* *channel receives the selected input channel. DAQ_OK, or DAQ_ERROR for a null pointer. */
OSTREL_API int32_t DAQ_GetInputChannel(int32_t *channel) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Calibration and measurement
 *
 * Each calibration stops the acquisition, measures with its own geometry, and puts the caller's
 * record length and number back at the end, with the acquisition stopped: lane buffers sized for
 * the caller's configuration stay right for the next DAQ_GetLatestFrame. Each refuses with
 * DAQ_ERROR, nothing changed, with no board open, no DMA buffer, an unknown model or no memory
 * for its frame buffers.
 * ------------------------------------------------------------------------------------------- */

/* Measures the zero offset of every lane for every front-end combination, fills the offset table
   and saves the card-data file; the trigger and front-end settings are restored. DAQ_OK;
   DAQ_ERROR (table unchanged) on a time-out; DAQ_ERROR_CARD_DATA_NOT_SAVED when the offsets were
   measured and are in force but the card-data file could not be written. */
OSTREL_API int32_t DAQ_Calibration_DCOffset(void) OSTREL_NOEXCEPT;
/* Sets the vertical scale (volts per code) from the span of lane 0, taken as 2 V. DAQ_OK, or
   DAQ_ERROR (scale unchanged) on a time-out or a flat lane. */
OSTREL_API int32_t DAQ_Calibration_VerticalScale(void) OSTREL_NOEXCEPT;
/* Makes the mean of lane 0 the single-lane zero offset. DAQ_OK, or DAQ_ERROR (offset unchanged)
   on a time-out. */
OSTREL_API int32_t DAQ_SelfCalibrationOnce(void) OSTREL_NOEXCEPT;
/* Peak-to-peak, mean and RMS of count samples, in volts (the model's volts per code). DAQ_OK, or
   DAQ_ERROR with nothing written for count < 1 or a null pointer. */
OSTREL_API int32_t DAQ_MeasureSignal(const int16_t *samples, int32_t count, float *peakToPeak,
                                     float *mean, float *rms) OSTREL_NOEXCEPT;
/* Full scale in millivolts and the largest ADC code of the model. DAQ_OK, or DAQ_ERROR with
   nothing written for a null pointer. */
OSTREL_API int32_t DAQ_GetVerticalInfo(float *fullScaleMillivolts,
                                       int32_t *adcMaxCode) OSTREL_NOEXCEPT;

/* ---------------------------------------------------------------------------------------------
 * Waveform generator (models 6 and 9). Waveform types: 0 sine, 1 square, 2 triangle.
 *
 * The channel state exists from a successful start of DAQ_OpenDevice to DAQ_CloseDevice; outside
 * it every AWG_* function except AWG_GetnelNum refuses with DAQ_ERROR. Channel numbers 0..7 are
 * accepted: every channel keeps its parameters, but only the board's generator channels (0 and 1
 * on models 6 and 9) reach the board. A channel outside 0..7, a null pointer or a non-finite
 * value is refused with DAQ_ERROR and nothing changes; otherwise the functions return DAQ_OK.
 * Each waveform change rewrites the channel's whole waveform memory (8192 points); codes beyond
 * the DAC range are limited to 0..0x3FFF.
 * ------------------------------------------------------------------------------------------- */

/* Designs one period of the type into the channel's host table (duty cycle limited to 0..1);
   another type is stored and leaves the table. Does not touch the board. */
OSTREL_API int32_t AWG_DesignWaveform(int32_t channel, int32_t waveformType) OSTREL_NOEXCEPT;
/* Writes the designed table, rotated by the phase and scaled by amplitude and offset, into the
   channel's waveform memory. */
OSTREL_API int32_t AWG_UpdateWaveform(int32_t channel) OSTREL_NOEXCEPT;
/* Design, then update. */
OSTREL_API int32_t AWG_SetWaveformType(int32_t channel, int32_t waveformType) OSTREL_NOEXCEPT;
/* *waveformType receives the channel's waveform type. */
OSTREL_API int32_t AWG_GetWaveformType(int32_t channel, int32_t *waveformType) OSTREL_NOEXCEPT;
/* Sets the amplitude and updates the waveform memory; 4.75 spans the full code range. */
OSTREL_API int32_t AWG_SetAmplitude(int32_t channel, float amplitude) OSTREL_NOEXCEPT;
/* *amplitude receives the channel's amplitude. */
OSTREL_API int32_t AWG_GetAmplitude(int32_t channel, float *amplitude) OSTREL_NOEXCEPT;
/* Sets the offset in the unit of the amplitude (4.75 moves the waveform by 2 x 8191 codes) and
   updates the waveform memory. */
OSTREL_API int32_t AWG_SetOffset(int32_t channel, float offset) OSTREL_NOEXCEPT;
/* *offset receives the channel's offset. Also rewrites the channel's waveform memory with the
   values in force. */
OSTREL_API int32_t AWG_GetOffset(int32_t channel, float *offset) OSTREL_NOEXCEPT;
/* Sets the phase in radians (2 pi is one whole table; a positive phase advances the waveform)
   and updates the waveform memory. */
OSTREL_API int32_t AWG_SetPhase(int32_t channel, float phase) OSTREL_NOEXCEPT;
/* *phase receives the channel's phase. Also rewrites the channel's waveform memory with the
   values in force. */
OSTREL_API int32_t AWG_GetPhase(int32_t channel, float *phase) OSTREL_NOEXCEPT;
/* Fraction of the table for the high part of a square and the rise of a triangle; redesigns and
   updates. */
OSTREL_API int32_t AWG_SetDutycycle(int32_t channel, float dutyCycle) OSTREL_NOEXCEPT;
/* *dutyCycle receives the channel's duty cycle as set. */
OSTREL_API int32_t AWG_GetDutycycle(int32_t channel, float *dutyCycle) OSTREL_NOEXCEPT;
/* Frequency in Hz, written to the board as a 32.32 phase step (8192 points at 300 MHz).
   DAQ_ERROR for a negative or non-finite frequency, or one whose step reaches 2^32 points. */
OSTREL_API int32_t AWG_SetFrequency(int32_t channel, double frequencyHz) OSTREL_NOEXCEPT;
/* *frequencyHz receives the last frequency set (0.0 after open, whatever the board's default
   step). */
OSTREL_API int32_t AWG_GetFrequency(int32_t channel, double *frequencyHz) OSTREL_NOEXCEPT;
/* Holds every generator channel for 1 ms and releases them together; this also lets play a
   channel held off by AWG_EnableOutput. DAQ_ERROR with no board open. */
OSTREL_API int32_t AWG_SyncAllChannels(void) OSTREL_NOEXCEPT;
/* Lets the channel's output play (enable non-zero) or holds it off (0). DAQ_ERROR for a channel
   the board has no output for, or with no board open. */
OSTREL_API int32_t AWG_EnableOutput(int32_t channel, uint8_t enable) OSTREL_NOEXCEPT;
/* *channelCount receives the number of generator channels of the board opened last (0 before any
   open); the name is spelled so. DAQ_OK, or DAQ_ERROR for a null pointer; works without an open
   board. */
OSTREL_API int32_t AWG_GetnelNum(int32_t *channelCount) OSTREL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_DAQ_ENGINE_H */
