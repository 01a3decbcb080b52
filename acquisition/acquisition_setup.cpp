#include "acquisition/acquisition_setup.h"

#include <algorithm>
#include <limits>
#include <new>

#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "acquisition/dma_buffer.h"
#include "acquisition/record_tag.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"

namespace ostrel {

namespace {

constexpr uint32_t kBar2 = 2;
constexpr uint32_t kTranslationProbe = 0xFFFFFFFC;  // written to read the window's mask back

bool IsKnownModel(int32_t model) { return model >= kFirstModel && model <= kLastModel; }

template <typename T>
std::unique_ptr<T[]> AllocateArray(uint64_t count) {
    if (count == 0 || count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

}  // namespace

namespace {

// Shared by both configurations; minimumLength is 32 for a plain configuration and 100 when it
// starts.
int32_t Configure(uint32_t recordLength, uint32_t recordNumber, uint32_t minimumLength,
                  bool start) {
    AcquisitionState &acquisition = g_engine.acquisition;
    // A configuration ends a stream, even one of the same geometry.
    if (acquisition.Stream != nullptr && StopAcquisitionThread() != 0) return DAQ_ERROR;
    const bool running = !acquisition.ThreadStopped.load(std::memory_order_acquire);
    // The same request again changes nothing. After a failed set-up there is nothing to keep, so
    // the request is tried again rather than reported as configured.
    const bool sameRequest = recordNumber == acquisition.RecordNumber &&
                             recordLength == acquisition.RecordLength &&
                             acquisition.HostBuffersAllocated;
    if (sameRequest && (!start || running)) return 0;

    // A request the board cannot take (above its longest record, off its length unit, or a ring
    // beyond what can be allocated) is refused before anything changes, a running acquisition
    // included.
    const std::optional<RecordGeometry> plan =
        PlanRecordGeometry(g_engine.model, recordLength, recordNumber);
    if (!plan && recordLength >= minimumLength) return DAQ_ERROR;

    if (running && StopAcquisitionThread() != 0) return DAQ_ERROR;  // the thread still reads it all
    if (recordLength < minimumLength || !plan) return DAQ_ERROR;

    acquisition.RecordNumber = recordNumber;
    acquisition.RecordLength = recordLength;
    WriteRecordLength(recordLength);
    WriteRecordsPerFrame(static_cast<int32_t>(plan->RecordsPerFrame));
    if (AcquisitionSetup(*plan) != 0) return DAQ_ERROR;
    if (start && StartAcquisitionThread() != 0) return DAQ_ERROR;
    return 0;
}

}  // namespace

int32_t ConfigureAcquisition(uint32_t recordLength, uint32_t recordNumber) {
    return Configure(recordLength, recordNumber, kMinimumRecordLength, false);
}

int32_t ConfigureAndStartAcquisition(uint32_t recordLength, uint32_t recordNumber) {
    return Configure(recordLength, recordNumber, kMinimumStartedRecordLength, true);
}

void ReleaseHostBuffers() {
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.FrameRing.reset();
    acquisition.RingRecordFilled.reset();
    acquisition.LastSlotTags.reset();
    acquisition.SlotTrailers.reset();
    acquisition.HostBuffersAllocated = false;
    acquisition.LatestInfo.Known = false;
    // A stream's frames are of the geometry these buffers had: they go with them.
    acquisition.Run.Stream = nullptr;
    acquisition.Stream.reset();
}

void ProgramTranslationWindow() {
    AcquisitionState &acquisition = g_engine.acquisition;
    WDC_DEVICE_HANDLE handle = acquisition.DmaDeviceHandle;
    const uint64_t busAddress = DmaBufferBusAddress();
    WriteBar32(handle, kBar2, kTranslationLow, kTranslationProbe);
    acquisition.TranslationMask = ReadBar32(handle, kBar2, kTranslationLow);
    WriteBar32(handle, kBar2, kTranslationLow,
               static_cast<uint32_t>(busAddress & acquisition.TranslationMask));
    WriteBar32(handle, kBar2, kTranslationHigh, 0);
}

void ResetDispatcher() {
    WDC_DEVICE_HANDLE handle = g_engine.acquisition.DmaDeviceHandle;
    // The order is the dispatcher's; the status values read on the way are not needed.
    ReadBar32(handle, kBar2, kDmaStatus);
    WriteBar32(handle, kBar2, kDmaControl, kDmaControlReset);
    WriteBar32(handle, kBar2, kDmaStatus, 0);
    WriteBar32(handle, kBar2, kDmaControl, kDmaControlGlobalInterrupt);
    ReadBar32(handle, kBar2, kDmaStatus);
    const uint32_t control = ReadBar32(handle, kBar2, kDmaControl);
    WriteBar32(handle, kBar2, kDmaControl, control | kDmaControlGlobalInterrupt);
    ReadBar32(handle, kBar2, kDmaStatus);
    WriteBar32(handle, kBar2, kDmaStatus, 0);
    ReadBar32(handle, kBar2, kDmaStatus);
}

void ComputeChunkTargets() {
    AcquisitionState &acquisition = g_engine.acquisition;
    const uint64_t busAddress = DmaBufferBusAddress();
    const uint64_t windowOffsetMask = static_cast<uint64_t>(~acquisition.TranslationMask);
    acquisition.DmaSourceAddress = static_cast<uint32_t>(g_engine.model.RegisterBase);
    for (uint32_t chunk = 0; chunk < kDmaChunks; ++chunk) {
        const uint32_t chunkOffset = chunk * acquisition.ChunkBytes;
        acquisition.ChunkTargets[chunk] =
            static_cast<uint32_t>((busAddress + chunkOffset) & windowOffsetMask);
    }
}

int32_t AcquisitionSetup(const RecordGeometry &geometry) {
    AcquisitionState &acquisition = g_engine.acquisition;
    const BoardModelState &model = g_engine.model;
    const uint32_t recordsPerFrame = geometry.RecordsPerFrame;
    ReleaseHostBuffers();
    if (!acquisition.DmaBufferLocked || acquisition.DmaBuffer == nullptr ||
        !IsKnownModel(model.ModelType) || recordsPerFrame == 0) {
        return DAQ_ERROR;
    }

    acquisition.RecordsPerFrame = recordsPerFrame;
    acquisition.RecordPoints = geometry.Slots.RecordPoints;
    acquisition.ChunkPoints = model.DMATransferPoints;
    acquisition.ChunkBytes = model.DMATransferPoints * 2;
    acquisition.Ring.LatestFrameStart.store(0, std::memory_order_relaxed);

    ProgramTranslationWindow();
    ResetDispatcher();
    ComputeChunkTargets();

    // The slots of one chunk, as the board was told them, must lie within the chunk, and the 16
    // chunks within the locked buffer: otherwise the slot table would point outside it.
    const uint32_t slotsPerChunk = geometry.Slots.RecordNumInMem;
    const uint64_t slotPoints = geometry.Slots.RecordSlotPoints;
    const uint64_t poolBytes = static_cast<uint64_t>(acquisition.ChunkBytes) * kDmaChunks;
    if (slotsPerChunk == 0 || slotPoints * slotsPerChunk > acquisition.ChunkPoints ||
        poolBytes > DmaBufferBytes()) {
        return DAQ_ERROR;
    }

    acquisition.DmaSlotCount = slotsPerChunk * kDmaChunks;
    acquisition.RingSlotCount = recordsPerFrame * kRingFrames;
    acquisition.RingRecordFilled = AllocateArray<uint8_t>(acquisition.RingSlotCount);
    acquisition.LastSlotTags = AllocateArray<uint32_t>(acquisition.DmaSlotCount);
    acquisition.SlotTrailers = AllocateArray<uint8_t *>(acquisition.DmaSlotCount);
    if (acquisition.SlotTrailers != nullptr) {
        // Chunk-major, so slot n - 1 is the slot the board writes just before slot n. Each entry
        // is the first byte after the record's samples: its tag.
        for (uint32_t chunk = 0; chunk < kDmaChunks; ++chunk) {
            for (uint32_t slot = 0; slot < slotsPerChunk; ++slot) {
                const uint64_t point = static_cast<uint64_t>(chunk) * acquisition.ChunkPoints +
                                       slot * slotPoints + acquisition.RecordPoints;
                uint8_t *trailer = acquisition.DmaBuffer + point * 2;
                acquisition.SlotTrailers[chunk * slotsPerChunk + slot] = trailer;
                // Mark the slot empty. Without this, a slot still holding the tag the board is
                // about to write there (tag 0 in slot 0 of a freshly locked, zeroed buffer) would
                // take the new record for one already seen, and the first frame would lose it.
                // The dispatcher has just been reset, so the board writes nothing meanwhile.
                StoreRecordTag(trailer, kNoRecordTag);
            }
        }
    }
    acquisition.FrameRing = AllocateArray<int16_t>(static_cast<uint64_t>(acquisition.RingSlotCount) *
                                                   acquisition.RecordPoints);
    if (acquisition.RingRecordFilled == nullptr || acquisition.LastSlotTags == nullptr ||
        acquisition.SlotTrailers == nullptr || acquisition.FrameRing == nullptr) {
        ReleaseHostBuffers();
        return DAQ_ERROR;
    }
    acquisition.HostBuffersAllocated = true;
    return 0;
}

}  // namespace ostrel
