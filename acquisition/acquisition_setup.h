// Acquisition set-up: the record geometry of a configuration request, the slicing of the DMA
// buffer into chunks and record slots, the translation window and dispatcher reset, and the host
// buffers the acquisition thread and the readout work on.
#pragma once

#include <cstdint>

#include "frontend/record_geometry.h"

namespace ostrel {

constexpr uint32_t kMinimumRecordLength = 32;          // of a plain configuration
constexpr uint32_t kMinimumStartedRecordLength = 100;  // of a configuration that also starts

// The configuration exports' work: stops a running acquisition (unless the request is the one in
// force), writes the record geometry to the board and runs the set-up; the second form then
// starts the thread (and, with the thread stopped, configures an unchanged request again). 0, or
// -1 for a length below the minimum, a request the board cannot take (refused before anything
// changes), a thread that does not stop, a failed set-up or a thread that cannot start.
int32_t ConfigureAcquisition(uint32_t recordLength, uint32_t recordNumber);
int32_t ConfigureAndStartAcquisition(uint32_t recordLength, uint32_t recordNumber);

// Slices the DMA buffer for the record geometry the board was just given, programs the
// translation window, resets the dispatcher and (re)allocates the host buffers. 0, or -1 (no DMA
// buffer locked, a geometry that does not fit the chunks, or an allocation failure) with no host
// buffer left allocated. The acquisition thread must be stopped.
int32_t AcquisitionSetup(const RecordGeometry &geometry);

// Gives back the four host buffers, if allocated; clears HostBuffersAllocated.
void ReleaseHostBuffers();

// Steps shared with the DMA diagnostics, on the DMA device handle:
// writes 0xFFFFFFFC to TranslationLow, reads the mask back into TranslationMask, and points the
// window at the DMA buffer.
void ProgramTranslationWindow();
// The dispatcher reset sequence (reset, global interrupt enable, status cleared).
void ResetDispatcher();
// DmaSourceAddress and the 16 ChunkTargets from the buffer's bus address, ChunkBytes and the mask.
void ComputeChunkTargets();

}  // namespace ostrel
