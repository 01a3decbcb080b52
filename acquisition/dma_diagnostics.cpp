#include "acquisition/dma_diagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_setup.h"
#include "acquisition/dma_buffer.h"
#include "acquisition/record_tag.h"
#include "engine/engine_state.h"
#include "frontend/timing_settings.h"
#include "engine/register_window.h"
#include "engine/status_text.h"
#include "platform/os/os_services.h"

namespace ostrel {
namespace {

constexpr uint32_t kBar2 = 2;
constexpr uint64_t kTagBytes = 4;
constexpr uint64_t kBytesPerPoint = 2;
constexpr double kBytesPerMegabyte = 1.0e6;
constexpr double kSamplesPerMegasample = 1.0e6;

// The bound for the waits of one bandwidth test: kPoolFillTimesPerWait times the time the board
// takes to acquire the pool's points with all its lanes, and at least the floor.
double BandwidthWaitSeconds(uint64_t poolPoints) {
    const float megasamplesPerSecond = CurrentSamplingRate();
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (!std::isfinite(megasamplesPerSecond) || megasamplesPerSecond <= 0.0f || lanes == 0) {
        return kBandwidthWaitFloorSeconds;
    }
    const double fillSeconds =
        static_cast<double>(poolPoints) /
        (static_cast<double>(megasamplesPerSecond) * kSamplesPerMegasample * lanes);
    return std::max(kBandwidthWaitFloorSeconds, kPoolFillTimesPerWait * fillSeconds);
}

// The descriptors the board was given are abandoned: a reset empties the dispatcher so that the
// next set-up or test starts from a clean state.
int32_t FailBandwidthTest() {
    ResetDispatcher();
    SetStatusText("DMA operations failed");
    return DAQ_ERROR;
}

void QueueDescriptor(WDC_DEVICE_HANDLE handle, uint32_t writeAddress, uint32_t bytes,
                     uint32_t control) {
    const AcquisitionState &acquisition = g_engine.acquisition;
    WriteBar32(handle, kBar2, kDmaDescReadAddress, acquisition.DmaSourceAddress);
    WriteBar32(handle, kBar2, kDmaDescWriteAddress, writeAddress);
    WriteBar32(handle, kBar2, kDmaDescLength, bytes);
    WriteBar32(handle, kBar2, kDmaDescControl, control);
}

}  // namespace

bool PoolLayoutFits(const PoolLayout &layout, uint64_t bufferBytes) {
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    if (layout.ChunkPoints == 0 || layout.SlotsPerChunk == 0 || layout.RecordPoints == 0) {
        return false;
    }
    if (layout.RingSlotCount == 0 || layout.RingSlotCount > kMax32) return false;
    if (layout.TrailerPoints * kBytesPerPoint < kTagBytes) return false;  // no room for the tag
    // Each value is below 2^32 or checked against the chunk before it is multiplied, so none of
    // the products below can wrap.
    if (layout.ChunkPoints > kMax32 || layout.RecordPoints > kMax32 ||
        layout.TrailerPoints > kMax32 || layout.SlotsPerChunk > kMax32 / kDmaChunks) {
        return false;
    }
    const uint64_t slotPoints = layout.RecordPoints + layout.TrailerPoints;
    if (slotPoints > layout.ChunkPoints) return false;
    if (layout.SlotsPerChunk > layout.ChunkPoints / slotPoints) return false;
    return layout.ChunkPoints * kBytesPerPoint * kDmaChunks <= bufferBytes;
}

bool FindPoolChain(const uint8_t *buffer, const PoolLayout &layout, PoolChain *chain) {
    const auto slotsPerChunk = static_cast<uint32_t>(layout.SlotsPerChunk);
    const uint32_t slotCount = slotsPerChunk * kDmaChunks;
    const auto ringSlotCount = static_cast<uint32_t>(layout.RingSlotCount);
    const uint64_t slotPoints = layout.RecordPoints + layout.TrailerPoints;

    // Working arrays of its own: the acquisition's slot table and fill flags stay as they are.
    std::unique_ptr<const uint8_t *[]> trailers(new (std::nothrow) const uint8_t *[slotCount]);
    std::unique_ptr<uint8_t[]> marked(new (std::nothrow) uint8_t[slotCount]());
    if (trailers == nullptr || marked == nullptr) return false;
    for (uint32_t chunk = 0; chunk < kDmaChunks; ++chunk) {
        for (uint32_t slot = 0; slot < slotsPerChunk; ++slot) {
            const uint64_t point =
                chunk * layout.ChunkPoints + slot * slotPoints + layout.RecordPoints;
            trailers[chunk * slotsPerChunk + slot] = buffer + point * kBytesPerPoint;
        }
    }

    PoolChain result;
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
        const uint32_t tag = LoadRecordTag(trailers[slot]);
        const uint32_t previous = LoadRecordTag(trailers[(slot + slotCount - 1) % slotCount]);
        if ((previous + 1) % ringSlotCount != tag) continue;
        if (!result.Found) {
            result.Found = true;
            result.FirstTag = tag;
        }
        // Distance from the first chained tag, in unsigned 32-bit arithmetic as the tags wrap.
        const uint32_t position = (slotCount + tag - result.FirstTag) % slotCount;
        if (marked[position] == 0) {
            marked[position] = 1;
            ++result.RecordCount;
        }
    }
    *chain = result;
    return true;
}

int32_t RunBandwidthTest(uint8_t *destination, float *megabytesPerSecond) {
    AcquisitionState &acquisition = g_engine.acquisition;
    if (destination == nullptr || megabytesPerSecond == nullptr) return DAQ_ERROR;
    if (!acquisition.DmaBufferLocked || acquisition.DmaBuffer == nullptr ||
        acquisition.DmaDeviceHandle == nullptr) {
        return DAQ_ERROR;
    }
    // The thread queues descriptors to the same dispatcher.
    if (!acquisition.ThreadStopped.load(std::memory_order_acquire)) return DAQ_ERROR;
    const uint32_t chunkPoints = g_engine.model.DMATransferPoints;
    const uint64_t poolBytes = static_cast<uint64_t>(chunkPoints) * kBytesPerPoint * kDmaChunks;
    if (chunkPoints == 0 || poolBytes > DmaBufferBytes()) return DAQ_ERROR;

    acquisition.ChunkPoints = chunkPoints;
    acquisition.ChunkBytes = chunkPoints * static_cast<uint32_t>(kBytesPerPoint);
    acquisition.PoolDestination = destination;
    WDC_DEVICE_HANDLE handle = acquisition.DmaDeviceHandle;
    ProgramTranslationWindow();
    ResetDispatcher();
    ComputeChunkTargets();
    ReadBar32(handle, kBar2, kDmaStatus);

    const int64_t frequency = os::PerformanceFrequency();
    const double waitSeconds =
        BandwidthWaitSeconds(static_cast<uint64_t>(chunkPoints) * kDmaChunks);
    const int64_t start = os::PerformanceCounter();
    const int64_t deadline =
        start + static_cast<int64_t>(waitSeconds * static_cast<double>(frequency));

    for (uint32_t chunk = 0; chunk < kDmaChunks; ++chunk) {
        while ((ReadBar32(handle, kBar2, kDmaStatus) & kDmaStatusDescriptorsFull) != 0) {
            if (os::PerformanceCounter() > deadline) return FailBandwidthTest();
        }
        // Every descriptor but the last may overlap the next; only the last raises the flag.
        const uint32_t control =
            kDmaDescGo | (chunk + 1 < kDmaChunks ? kDmaDescEarlyDone : kDmaDescInterruptOnDone);
        QueueDescriptor(handle, acquisition.ChunkTargets[chunk], acquisition.ChunkBytes, control);
    }

    // The span ends at the last poll that still saw the transfer running, or at the finishing
    // poll itself when the first poll already finds it done; never at a reading of an earlier call.
    int64_t end = start;
    for (bool running = false;;) {
        const uint32_t status = ReadBar32(handle, kBar2, kDmaStatus);
        const int64_t now = os::PerformanceCounter();
        if (status == kDmaStatusFinished) {
            if (!running) end = now;
            break;
        }
        running = true;
        end = now;
        if (now > deadline) return FailBandwidthTest();
    }
    acquisition.DmaFinished.store(true, std::memory_order_release);

    std::memcpy(destination, acquisition.DmaBuffer, static_cast<size_t>(poolBytes));
    WriteBar32(handle, kBar2, kDmaStatus, kDmaStatusInterrupt);  // clears the interrupt flag
    WriteBar32(handle, kBar2, kDmaStatus, kDmaStatusInterrupt);

    acquisition.TestStartTime = start;
    acquisition.TestEndTime = end;
    // A span below one counter tick is counted as one tick rather than reported as infinite.
    const int64_t ticks = std::max<int64_t>(end - start, 1);
    const double seconds = static_cast<double>(ticks) / static_cast<double>(frequency);
    const uint32_t bytesMoved = acquisition.ChunkBytes * kDmaChunks;
    *megabytesPerSecond =
        static_cast<float>(static_cast<double>(bytesMoved) / seconds / kBytesPerMegabyte);
    SetStatusText("DMA operations are successful");
    return 0;
}

int32_t CopyDmaPool(uint8_t *destination) {
    AcquisitionState &acquisition = g_engine.acquisition;
    if (destination == nullptr) return DAQ_ERROR;
    if (!acquisition.DmaBufferLocked || acquisition.DmaBuffer == nullptr) return DAQ_ERROR;
    // The chunks of the last set-up or test since the open (none yet: nothing to copy), and never
    // more than the open model's 16 chunks, which is what the caller's buffer holds.
    const uint64_t poolBytes = static_cast<uint64_t>(acquisition.ChunkBytes) * kDmaChunks;
    const uint64_t modelPoolBytes =
        static_cast<uint64_t>(g_engine.model.DMATransferPoints) * kBytesPerPoint * kDmaChunks;
    if (poolBytes > modelPoolBytes || poolBytes > DmaBufferBytes()) return DAQ_ERROR;
    acquisition.PoolDestination = destination;
    if (poolBytes != 0) {
        std::memcpy(destination, acquisition.DmaBuffer, static_cast<size_t>(poolBytes));
    }
    return 0;
}

int32_t ProcessDmaPool(uint8_t *buffer, int32_t *firstTag, int32_t *recordCount,
                       int32_t recordLength, int32_t recordsPerFrame) {
    AcquisitionState &acquisition = g_engine.acquisition;
    if (firstTag == nullptr || recordCount == nullptr) return DAQ_ERROR;
    if (!acquisition.DmaBufferLocked || acquisition.DmaBuffer == nullptr) return DAQ_ERROR;
    if (recordLength < 1 || recordsPerFrame < 1) return DAQ_ERROR;

    PoolLayout layout;
    layout.ChunkPoints = acquisition.ChunkPoints;
    layout.SlotsPerChunk = g_engine.geometry.RecordNumInMem;
    layout.RecordPoints = static_cast<uint64_t>(recordLength) * g_engine.model.ADCNumber;
    layout.TrailerPoints = g_engine.model.TrailerPoints;
    layout.RingSlotCount = static_cast<uint64_t>(recordsPerFrame) * kRingFrames;
    if (!PoolLayoutFits(layout, DmaBufferBytes())) return DAQ_ERROR;

    PoolChain chain;
    if (!FindPoolChain(acquisition.DmaBuffer, layout, &chain)) return DAQ_ERROR;
    acquisition.PoolDestination = buffer;  // kept for inspection; the analysis does not use it
    if (chain.Found) *firstTag = static_cast<int32_t>(chain.FirstTag);
    *recordCount = chain.RecordCount;
    return 0;
}

}  // namespace ostrel
