// Acquisition set-up: the record geometry of a configuration request, the slicing of the DMA
// buffer into chunks and record slots, the translation window and dispatcher reset, and the host
// buffers the acquisition thread and the readout work on.
#pragma once

#include <cstdint>

namespace ostrel {

// A four-frame ring larger than this is refused rather than attempted: such a request would take
// the host's memory, not configure an acquisition. Each frame may still hold 512 MiB, for example
// 16384 records of 16384 points.
constexpr uint64_t kMaxFrameRingBytes = 0x80000000ull;  // 2 GiB

// Records per frame and points per record for one request, computed without 32-bit overflow.
struct AcquisitionPlan {
    uint32_t RecordsPerFrame = 0;  // the request's record number, raised so that a frame holds
                                   // at least MinAcquisitionPoints points
    uint32_t RecordPoints = 0;     // points per record in DMA memory: record length x lanes
};

// False when the open board cannot run the request: no recognised model, a record length of 0 or
// above MaxRecordLength, or a ring whose counts do not fit in 32 bits or whose size exceeds
// kMaxFrameRingBytes. Nothing is changed either way.
bool PlanAcquisition(uint32_t recordLength, uint32_t recordNumber, AcquisitionPlan *plan);

// Slices the DMA buffer for the record geometry the board was just given, programs the
// translation window, resets the dispatcher and (re)allocates the host buffers. 0, or -1 (no DMA
// buffer locked, a geometry that does not fit the chunks, or an allocation failure) with no host
// buffer left allocated. The acquisition thread must be stopped.
int32_t AcquisitionSetup(uint32_t recordLength, uint32_t recordsPerFrame);

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
