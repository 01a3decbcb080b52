/*
 * OstrelDAQEngine: plain C interface to the Ostrel family of PCI Express digitizer boards.
 *
 * One board is open at a time and every function works on that one process-wide engine state.
 * Call the functions from one application thread at a time. Every function returns a 32-bit
 * integer: 0 for success and a negative number for a refusal or failure, except where a comment
 * says otherwise. A refusal (null pointer, index out of range, nothing open) returns -1 and
 * changes nothing.
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

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Board access and raw registers
 * ------------------------------------------------------------------------------------------- */

/* Reads the 32-bit control register at a signed register index (BAR 0 byte offset
   0x8000000 + 2 x index). Returns the engine's last status; with no board open the value is not
   written. */
OSTREL_API int32_t ReadMemory32(int32_t registerIndex, uint32_t *value);

/* Writes the 32-bit control register at a signed register index. Returns the last status. */
OSTREL_API int32_t WriteMemory32(int32_t registerIndex, uint32_t value);

/* Reads the board's configuration word at offset 8 (twice). Returns the last status. */
OSTREL_API int32_t ReadConfigurationRegister(void);

/* Returns x to the fourth power, modulo 2^32. */
OSTREL_API uint32_t TestFunction(uint32_t x);

/* ---------------------------------------------------------------------------------------------
 * Discovery, open and close
 * ------------------------------------------------------------------------------------------- */

/* Opens the driver library and scans the bus once; boardCount receives the number of boards.
   0, or -1 when the driver library cannot be opened or boardCount is null. */
OSTREL_API int32_t DAQ_CheckSystem(int32_t *boardCount);

/* Opens board boardIndex (an index out of range keeps the board opened before).
   0 success (or nothing found); -1 no board / library failure; -2 configuration revision is not 9;
   -3 driver control device unavailable; -4 DMA buffer cannot be locked.
   A board left open by an earlier open without DAQ_CloseDevice is released first, as the close
   releases it (acquisition stopped, DMA buffer, generator state, device handle, record request),
   so one board is held at a time; the driver library stays open and the scan is not repeated.
   If the new board then fails to open (-2, -3, -4), no board is open: the earlier one is gone.
   While an acquisition runs the call returns 0 and leaves the open board as it is. */
OSTREL_API int32_t DAQ_OpenDevice(int32_t boardIndex);

/* Stops acquisition, releases the DMA buffer and the generator, closes the board and the driver
   library. Returns the status of closing the driver library. */
OSTREL_API int32_t DAQ_CloseDevice(void);

/* Number of boards of the last successful scan. Returns the last status. */
OSTREL_API int32_t DAQ_GetDeviceNum(int32_t *count);

/* Vendor ID, device ID and bus/slot/function of board boardIndex, and the resource word (interrupt
   number) of the opened board. Returns the last status; -1 for an index outside the boards found. */
OSTREL_API int32_t DAQ_GetDeviceInfo(int32_t boardIndex, uint32_t *vendorId, uint32_t *deviceId,
                                     uint32_t *bus, uint32_t *slot, uint32_t *function,
                                     uint32_t *resourceWord);

/* Model code of board boardIndex from its device ID: 5..10, 0 for 0xE001, -1 unknown. Returns 0;
   -1 for an index outside the boards found. */
OSTREL_API int32_t DAQ_GetDeviceModel(int32_t boardIndex, int32_t *model);

/* The first four resource words of the opened board: BAR 2 physical address and length, BAR 4
   physical address and length (low 32 bits each). Returns the last status. */
OSTREL_API int32_t GetDeviceResource(uint32_t *word0, uint32_t *word1, uint32_t *word2,
                                     uint32_t *word3);

/* ---------------------------------------------------------------------------------------------
 * Acquisition
 * ------------------------------------------------------------------------------------------- */

/* Configures records of recordLength points per lane, recordNumber records per frame (raised so
   that a frame holds at least 0x80000 points). 0, or -1 for a length below 32 or above the model's
   maximum, a length that is not a whole number of the board's length unit (4 points on models 6,
   9 and 10, 8 on model 7, 1 on models 5 and 8), a ring of four frames beyond 2 GiB, no board open,
   a running acquisition that does not stop, or a failed set-up. A length above the maximum or off
   the unit, or a ring too large, is refused before anything changes; a running acquisition is
   stopped first otherwise. The same request as the last successful one returns 0 at once. Does
   not start. */
OSTREL_API int32_t DAQ_ConfigAcquisition(uint32_t recordLength, uint32_t recordNumber);

/* As DAQ_ConfigAcquisition with a minimum length of 100, then starts the acquisition thread; the
   same request returns 0 at once only while the thread runs. -1 also when the thread cannot be
   started. */
OSTREL_API int32_t DAQ_ConfigAcquisition_and_Start(uint32_t recordLength, uint32_t recordNumber);

/* Stops the acquisition thread, leaving the indicator code unchanged. 0, or -1 when the thread
   has not ended within 8 s. */
OSTREL_API int32_t DAQ_FinalizeAcquisition(void);

/* Sets indicator code 1 and starts the acquisition thread. 0 (also when it runs already), or -1
   with nothing changed when no acquisition is configured (no host buffers of a successful
   configuration) or the thread cannot be created. */
OSTREL_API int32_t DAQ_StartAcquisition(void);

/* Stops the acquisition thread (bounded wait) and sets indicator code 0. 0, or -1 when the thread
   has not ended within 8 s. */
OSTREL_API int32_t DAQ_StopAcquisition(void);

/* Copies the latest frame, split by lane, each sample minus the lane's zero offset. Each lane
   buffer the model has must hold recordLength x recordNumber samples; the others are not touched
   and may be null. 0, or -1 when a needed lane pointer is null. */
OSTREL_API int32_t DAQ_GetLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2,
                                      int16_t *lane3);

/* 1 when a new complete frame has been announced since the last DAQ_GetLatestFrame, else 0. */
OSTREL_API int32_t DAQ_NewDataFrameAvailable(void);

/* Records received, frame counter (-1 until the first frame after a start) and data rate in MB/s
   (10^6 bytes). 0, or -1 when a pointer is null. */
OSTREL_API int32_t DAQ_CheckDMA(int32_t *recordsReceived, int32_t *frameCounter, float *dataRate);

/* Nine frame statistics: record counts of ring frames 0..3, partial frames, last partial count,
   partial frames in percent, 0, 0. 0, or -1 when values is null. */
OSTREL_API int32_t DAQ_GetDebugValue(int32_t *values);

/* Fills the 16 DMA chunks with one burst of descriptors, copies them to destination (16 x chunk
   bytes: 1310720 on model 5, 4456448 on the others) and reports MB/s. 0, or -1 on a time-out,
   while acquisition runs, or with nothing open. */
OSTREL_API int32_t DAQ_DMABandwidthTest(uint8_t *destination, float *megabytesPerSecond);

/* Counts the records of the DMA pool that form an ordered chain, for the given record length
   and records per frame (with the configured records per chunk). *firstTag receives the first
   chained tag and is left alone when there is none. 0, or -1 for a null result pointer, nothing
   set up, or a geometry whose records do not fit the chunks. The acquisition is not disturbed. */
OSTREL_API int32_t DAQ_ProcessDMAPool(uint8_t *buffer, int32_t *firstTag, int32_t *recordCount,
                                      int32_t recordLength, int32_t recordsPerFrame);

/* Copies the 16 DMA chunks to destination (nothing before the first set-up or test). 0, or -1
   for a null destination or no DMA buffer. */
OSTREL_API int32_t DAQ_CopyDMAPool(uint8_t *destination);

/* ---------------------------------------------------------------------------------------------
 * Record and timing settings
 * ------------------------------------------------------------------------------------------- */

/* Writes the record length and the record slots per DMA chunk to the board (the configuration
   exports call it; a direct call does not set up the acquisition). 0; -1 with nothing written for
   a length above the model's maximum or off the board's length unit, or while an acquisition
   runs. */
OSTREL_API int32_t DAQ_SetRecordLength(uint32_t recordLength);
OSTREL_API int32_t DAQ_GetRecordLength(int32_t *recordLength);
/* Writes four times the records per frame to the board. The write result, or -1 with nothing
   written while an acquisition runs. */
OSTREL_API int32_t DAQ_SetRecordNumber(int32_t recordsPerFrame);
OSTREL_API int32_t DAQ_GetRecordNumber(int32_t *recordsPerFrame);
OSTREL_API int32_t DAQ_SetRecordCounters(int32_t counter0, int32_t counter1, int32_t counter2,
                                         int32_t counter3);
OSTREL_API int32_t DAQ_SetTrigger(int32_t triggerSetting);
OSTREL_API int32_t DAQ_GetTrigger(int32_t *triggerSetting);
/* dividerCode is the index of the wanted rate in the model's sampling-rate table. */
OSTREL_API int32_t DAQ_SetSamplingRate(int32_t dividerCode);
OSTREL_API int32_t DAQ_GetSamplingRate(uint32_t *dividerCode, float *megasamplesPerSecond);
OSTREL_API int32_t DAQ_GetClockDivider(int32_t *dividerCode);
OSTREL_API int32_t DAQ_CheckSamplingRates(int32_t tableIndex, float *megasamplesPerSecond,
                                          int32_t *rateCount);
OSTREL_API int32_t DAQ_SetLEDCode(int32_t indicatorCode);
OSTREL_API int32_t DAQ_GetMaxRecordLength(int32_t *maxRecordLength);
OSTREL_API int32_t DAQ_GetRecordNumInMem(int32_t *recordsInChunk);
OSTREL_API int32_t DAQ_GetDMATransferPoints(int32_t *chunkPoints);
OSTREL_API int32_t DAQ_GetADCNumber(int32_t *laneCount);
OSTREL_API int32_t DAQ_GetDMAInfo(int16_t *trailerPoints, int16_t *dmaInfoValue,
                                  int16_t *chunkCount);

/* ---------------------------------------------------------------------------------------------
 * Channel inputs
 * ------------------------------------------------------------------------------------------- */

/* The per-lane setters and getters take a lane 0 to ADCNumber - 1 on boards with 2 or 4 lanes, and
   0 to 3 (the input channels) on single-lane boards; any other lane gets -1 with nothing read or
   written. */

OSTREL_API int32_t DAQ_SetGain(int32_t lane, int32_t gain);
OSTREL_API int32_t DAQ_GetGain(int32_t lane, int32_t *gain);
OSTREL_API int32_t DAQ_GetGainNumber(int32_t *count);
OSTREL_API int32_t DAQ_SetAttenuation(int32_t lane, int32_t attenuation);
OSTREL_API int32_t DAQ_GetAttenuation(int32_t lane, int32_t *attenuation);
OSTREL_API int32_t DAQ_GetAttenuationNumber(int32_t *count);
OSTREL_API int32_t DAQ_SetCoupling(int32_t lane, int32_t coupling);
OSTREL_API int32_t DAQ_GetCoupling(int32_t lane, int32_t *coupling);
OSTREL_API int32_t DAQ_GetCouplingNumber(int32_t *count);
OSTREL_API int32_t DAQ_SetTermination(int32_t lane, int32_t termination);
OSTREL_API int32_t DAQ_GetTermination(int32_t lane, int32_t *termination);
OSTREL_API int32_t DAQ_GetTerminationNumber(int32_t *count);
OSTREL_API int32_t DAQ_SetInputChannel(int32_t channel);
OSTREL_API int32_t DAQ_GetInputChannel(int32_t *channel);

/* ---------------------------------------------------------------------------------------------
 * Calibration and measurement
 * ------------------------------------------------------------------------------------------- */

/* Each calibration stops the acquisition, measures with its own geometry, and puts the caller's
   record length and number back at the end, with the acquisition stopped: lane buffers sized for
   the caller's configuration stay right for the next DAQ_GetLatestFrame. */

/* Measures the zero offset of every lane for every front-end combination, fills the offset table
   and saves the card-data file. 0; -1 (nothing changed) on a time-out or with nothing open; -2 when
   the offsets were measured and are in force but the card-data file could not be written. */
OSTREL_API int32_t DAQ_Calibration_DCOffset(void);
/* Sets the vertical scale from the span of lane 0 (taken as 2 V). 0 or -1. */
OSTREL_API int32_t DAQ_Calibration_VerticalScale(void);
/* Makes the mean of lane 0 the single-lane zero offset. 0 or -1. */
OSTREL_API int32_t DAQ_SelfCalibrationOnce(void);
/* Peak-to-peak, mean and RMS of count samples, in volts. 0, or -1 for count < 1 or a null pointer. */
OSTREL_API int32_t DAQ_MeasureSignal(const int16_t *samples, int32_t count, float *peakToPeak,
                                     float *mean, float *rms);
/* Full scale in millivolts and the largest ADC code. 0, or -1 for a null pointer. */
OSTREL_API int32_t DAQ_GetVerticalInfo(float *fullScaleMillivolts, int32_t *adcMaxCode);

/* ---------------------------------------------------------------------------------------------
 * Waveform generator (models 6 and 9). Waveform types: 0 sine, 1 square, 2 triangle.
 *
 * The channel state exists from a successful start of DAQ_OpenDevice to DAQ_CloseDevice; outside
 * it every AWG_* function except AWG_GetnelNum refuses with -1. Channel numbers 0..7 are accepted:
 * every channel keeps its parameters, but only the board's generator channels (0 and 1 on models
 * 6 and 9) reach the board. A channel outside 0..7, a null pointer or a non-finite value is
 * refused with -1 and nothing changes. Each waveform change rewrites the channel's whole waveform
 * memory (8192 points); codes beyond the DAC range are limited to 0..0x3FFF.
 * ------------------------------------------------------------------------------------------- */

/* Designs one period of the type into the channel's host table (duty cycle limited to 0..1);
   another type is stored and leaves the table. Does not touch the board. */
OSTREL_API int32_t AWG_DesignWaveform(int32_t channel, int32_t waveformType);
/* Writes the designed table, rotated by the phase and scaled by amplitude and offset, into the
   channel's waveform memory. */
OSTREL_API int32_t AWG_UpdateWaveform(int32_t channel);
/* Design, then update. */
OSTREL_API int32_t AWG_SetWaveformType(int32_t channel, int32_t waveformType);
OSTREL_API int32_t AWG_GetWaveformType(int32_t channel, int32_t *waveformType);
/* Amplitude: 4.75 spans the full code range. */
OSTREL_API int32_t AWG_SetAmplitude(int32_t channel, float amplitude);
OSTREL_API int32_t AWG_GetAmplitude(int32_t channel, float *amplitude);
/* Offset in the unit of the amplitude: 4.75 moves the waveform by 2 x 8191 codes. */
OSTREL_API int32_t AWG_SetOffset(int32_t channel, float offset);
/* Also rewrites the channel's waveform memory with the values in force. */
OSTREL_API int32_t AWG_GetOffset(int32_t channel, float *offset);
/* Phase in radians; 2 pi is one whole table; a positive phase advances the waveform. */
OSTREL_API int32_t AWG_SetPhase(int32_t channel, float phase);
/* Also rewrites the channel's waveform memory with the values in force. */
OSTREL_API int32_t AWG_GetPhase(int32_t channel, float *phase);
/* Fraction of the table for the high part of a square and the rise of a triangle; redesigns. */
OSTREL_API int32_t AWG_SetDutycycle(int32_t channel, float dutyCycle);
OSTREL_API int32_t AWG_GetDutycycle(int32_t channel, float *dutyCycle);
/* Frequency in Hz, written to the board as a 32.32 phase step (8192 points at 300 MHz). -1 for a
   negative or non-finite frequency, or one whose step reaches 2^32 points. The getter returns the
   last frequency set (0.0 after open, whatever the board's default step). */
OSTREL_API int32_t AWG_SetFrequency(int32_t channel, double frequencyHz);
OSTREL_API int32_t AWG_GetFrequency(int32_t channel, double *frequencyHz);
/* Holds every generator channel for 1 ms and releases them together; this also lets play a
   channel held off by AWG_EnableOutput. -1 with no board open. */
OSTREL_API int32_t AWG_SyncAllChannels(void);
/* Lets the channel's output play (enable non-zero) or holds it off (0); -1 for a channel the board
   has no output for. */
OSTREL_API int32_t AWG_EnableOutput(int32_t channel, uint8_t enable);
/* Number of generator channels of the board opened last (0 before any open); the name is spelled
   so. */
OSTREL_API int32_t AWG_GetnelNum(int32_t *channelCount);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_DAQ_ENGINE_H */
