#include "acquisition/dma_buffer.h"

#include "acquisition/acquisition_setup.h"
#include "acquisition/acquisition_thread.h"
#include "engine/engine_state.h"
#include "platform/os/os_services.h"

namespace ostrel {

namespace {

// Sent to the kernel driver device before it is closed, with an all-zero input block.
constexpr uint32_t kCloseControlCode = 0x9538379F;
constexpr uint32_t kCloseControlInputBytes = 1272;
constexpr uint32_t kControlResultPreset = 0x20000000;

bool HoldsAnything(const AcquisitionState &acquisition) {
    return acquisition.DmaBufferLocked || acquisition.DmaRecord != nullptr ||
           acquisition.DriverControlHandle != os::kInvalidControlHandle ||
           acquisition.HostBuffersAllocated ||
           !acquisition.ThreadStopped.load(std::memory_order_acquire);
}

// The slicing belongs to the board it was set up on. Kept past a close, the next board's pool
// copy would move the earlier board's chunk size into a buffer sized for its own.
void ForgetAcquisitionGeometry() {
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.ChunkPoints = 0;
    acquisition.ChunkBytes = 0;
    acquisition.TranslationMask = 0;
    acquisition.DmaSourceAddress = 0;
    for (uint32_t &target : acquisition.ChunkTargets) target = 0;
    acquisition.RecordPoints = 0;
    acquisition.RecordsPerFrame = 0;
    acquisition.DmaSlotCount = 0;
    acquisition.RingSlotCount = 0;
    g_engine.geometry.RecordNumInMem = 0;
    g_engine.geometry.RecordSlotPoints = 0;
}

}  // namespace

int32_t DmaLock(WDC_DEVICE_HANDLE handle) {
    AcquisitionState &acquisition = g_engine.acquisition;
    // A lock without a teardown since the last one: give back the earlier buffer and control
    // device instead of leaking them. (The open releases an earlier board before it gets here;
    // this keeps the lock safe on its own.)
    if (HoldsAnything(acquisition)) DmaTeardown();

    acquisition.DmaDeviceHandle = handle;
    acquisition.DriverControlHandle = os::OpenControlDevice();
    if (acquisition.DriverControlHandle == os::kInvalidControlHandle) return -3;

    void *userAddress = nullptr;
    WD_DMA *record = nullptr;
    const uint32_t status = WDC_DMAContigBufLock(handle, &userAddress, DMA_FROM_DEVICE_CONTIG,
                                                 kDmaBufferBytes, &record);
    if (status != WD_STATUS_SUCCESS || record == nullptr || userAddress == nullptr) {
        if (status == WD_STATUS_SUCCESS && record != nullptr) WDC_DMABufUnlock(record);
        return -4;
    }
    acquisition.DmaRecord = record;
    acquisition.DmaBuffer = static_cast<uint8_t *>(userAddress);
    acquisition.DmaBufferLocked = true;
    return 0;
}

int32_t DmaTeardown() {
    AcquisitionState &acquisition = g_engine.acquisition;
    // A thread that cannot be stopped keeps what it reads: its host buffers and the DMA buffer are
    // left to the end of the process instead of being freed under it.
    const bool stopped = StopAcquisitionThread() == 0;
    if (stopped) {
        ReleaseHostBuffers();
    } else {
        AbandonHostBuffers();
    }
    if (acquisition.DmaBufferLocked || acquisition.DmaRecord != nullptr) {
        if (stopped && acquisition.DmaRecord != nullptr) WDC_DMABufUnlock(acquisition.DmaRecord);
        acquisition.DmaRecord = nullptr;
        acquisition.DmaBuffer = nullptr;
        acquisition.DmaBufferLocked = false;
    }
    if (acquisition.DriverControlHandle != os::kInvalidControlHandle) {
        const uint8_t input[kCloseControlInputBytes] = {};
        uint32_t result = kControlResultPreset;  // not looked at
        os::ControlDeviceRequest(acquisition.DriverControlHandle, kCloseControlCode, input,
                                 kCloseControlInputBytes, &result);
        os::CloseControlDevice(acquisition.DriverControlHandle);
        acquisition.DriverControlHandle = os::kInvalidControlHandle;
    }
    acquisition.DmaDeviceHandle = nullptr;
    ForgetAcquisitionGeometry();
    return 0;
}

void ForgetInheritedAcquisition() {
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.ThreadStopped.store(true, std::memory_order_release);  // no such thread here
    AbandonHostBuffers();
    acquisition.DmaRecord = nullptr;
    acquisition.DmaBuffer = nullptr;
    acquisition.DmaBufferLocked = false;
    acquisition.DriverControlHandle = os::kInvalidControlHandle;
    acquisition.DmaDeviceHandle = nullptr;
    acquisition.RecordLength = 0;
    acquisition.RecordNumber = 0;
    ForgetAcquisitionGeometry();
}

uint64_t DmaBufferBusAddress() {
    const WD_DMA *record = g_engine.acquisition.DmaRecord;
    return record != nullptr && record->dwPages > 0 ? record->Page[0].pPhysicalAddr : 0;
}

uint64_t DmaBufferBytes() {
    const WD_DMA *record = g_engine.acquisition.DmaRecord;
    return record != nullptr ? record->dwBytes : 0;
}

}  // namespace ostrel
