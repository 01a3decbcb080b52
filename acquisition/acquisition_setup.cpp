#include "acquisition/acquisition_setup.h"

#include <algorithm>
#include <limits>
#include <new>

#include "OstrelDAQEngine.h"
#include "acquisition/dma_buffer.h"
#include "acquisition/record_tag.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"
#include "frontend/record_length_coding.h"

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

bool PlanAcquisition(uint32_t recordLength, uint32_t recordNumber, AcquisitionPlan *plan) {
    const BoardModelState &model = g_engine.model;
    if (!IsKnownModel(model.ModelType)) return false;
    if (recordLength == 0 || recordLength > model.MaxRecordLength) return false;
    const auto coding = RecordLengthCodingOf(model.ModelType);
    if (!coding || !RecordLengthOnStep(*coding, recordLength)) return false;
    const uint64_t lanes = model.ADCNumber;
    if (lanes == 0) return false;

    // Raise the records per frame so that a frame holds at least MinAcquisitionPoints points. The
    // product is taken in 64 bits: in 32 bits a large record number wraps below the minimum and
    // would give a frame shorter than the record number the readout returns.
    uint64_t recordsPerFrame = recordNumber;
    if (static_cast<uint64_t>(recordLength) * recordNumber * lanes < model.MinAcquisitionPoints) {
        recordsPerFrame = model.MinAcquisitionPoints / lanes / recordLength;
    }
    const uint64_t recordPoints = static_cast<uint64_t>(recordLength) * lanes;
    const uint64_t ringRecords = recordsPerFrame * kRingFrames;
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    // The board counts tags up to four times the records per frame in a 32-bit register, and the
    // readout counts the samples of a frame in 32 bits.
    if (recordsPerFrame == 0 || ringRecords > kMax32) return false;
    if (recordPoints > kMax32 || recordPoints * recordsPerFrame > kMax32) return false;
    if (ringRecords * recordPoints * sizeof(int16_t) > kMaxFrameRingBytes) return false;

    plan->RecordsPerFrame = static_cast<uint32_t>(recordsPerFrame);
    plan->RecordPoints = static_cast<uint32_t>(recordPoints);
    return true;
}

void ReleaseHostBuffers() {
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.FrameRing.reset();
    acquisition.RingRecordFilled.reset();
    acquisition.LastSlotTags.reset();
    acquisition.SlotTrailers.reset();
    acquisition.HostBuffersAllocated = false;
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

int32_t AcquisitionSetup(uint32_t recordLength, uint32_t recordsPerFrame) {
    AcquisitionState &acquisition = g_engine.acquisition;
    const BoardModelState &model = g_engine.model;
    ReleaseHostBuffers();
    if (!acquisition.DmaBufferLocked || acquisition.DmaBuffer == nullptr ||
        !IsKnownModel(model.ModelType) || recordsPerFrame == 0) {
        return DAQ_ERROR;
    }

    acquisition.RecordsPerFrame = recordsPerFrame;
    acquisition.RecordPoints = recordLength * model.ADCNumber;
    acquisition.ChunkPoints = model.DMATransferPoints;
    acquisition.ChunkBytes = model.DMATransferPoints * 2;
    acquisition.Ring.LatestFrameStart.store(0, std::memory_order_relaxed);

    ProgramTranslationWindow();
    ResetDispatcher();
    ComputeChunkTargets();

    // The slots of one chunk, as the board was told them, must lie within the chunk, and the 16
    // chunks within the locked buffer: otherwise the slot table would point outside it.
    const uint32_t slotsPerChunk = g_engine.geometry.RecordNumInMem;
    const uint64_t slotPoints =
        static_cast<uint64_t>(acquisition.RecordPoints) + model.TrailerPoints;
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
