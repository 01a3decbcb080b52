// DMA buffer, host buffers, and the state the application thread and the acquisition thread share.
// Fields both threads touch while the thread runs are atomics; the comment on each says which
// thread writes it. Everything else is written by the application thread only while no
// acquisition thread runs (the start operation hands the thread a copy of what it needs).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/ring_guard.h"
#include "engine/stream_queue.h"
#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

constexpr int kDmaChunks = 16;
constexpr uint32_t kDmaBufferBytes = 0x1000000;
constexpr int kRingFrames = 4;
constexpr int kFrameStatisticsCount = 9;

// Frame ring status: written by the acquisition thread while it runs, read by the readout and the
// status exports at any time. The start operation resets some of them while no thread runs.
struct RingStatus {
    std::atomic<uint32_t> LatestFrameStart{0};    // first ring record of the frame readout returns
    std::atomic<int32_t> RecordsReceived{0};      // records copied since the thread started
    std::atomic<int32_t> FrameCounter{0};         // frames declared complete since the start, - 1
    std::atomic<float> DataRate{0.0f};            // megabytes (10^6 bytes) of frames per second
    std::array<std::atomic<int32_t>, kFrameStatisticsCount> FrameStatistics{};
    // Records copied into each ring frame since the thread last recycled it (or started). The
    // thread cannot add to a frame the readout holds, only clear it, so a count read while
    // holding the frame tells whether every record in it belongs to the same pass.
    std::array<std::atomic<int32_t>, kRingFrames> FrameRecords{};
    // Of each ring frame: its number in the run (0 for the first frame that began after the
    // start), records that arrived of the configured record number, and the performance-counter
    // reading when it was declared complete. Read with FrameRecords while holding the frame.
    std::array<std::atomic<uint64_t>, kRingFrames> FrameSequence{};
    std::array<std::atomic<int32_t>, kRingFrames> FrameValid{};
    std::array<std::atomic<int64_t>, kRingFrames> FrameCompletedTicks{};
    std::atomic<bool> NewFrameAvailable{false};   // set by the thread; cleared by start and readout
    RingGuard Guard;                              // keeps the thread out of the frame being read
};

// What one run of the acquisition thread works on, copied by the start operation so that the
// thread never reads a field the application may rewrite while it runs.
struct AcquisitionRun {
    WDC_DEVICE_HANDLE DmaDeviceHandle = nullptr;
    uint32_t DmaSourceAddress = 0;
    uint32_t ChunkBytes = 0;
    uint32_t ChunkTargets[kDmaChunks] = {};
    uint8_t *const *SlotTrailers = nullptr;
    uint32_t *LastSlotTags = nullptr;
    uint8_t *RingRecordFilled = nullptr;
    int16_t *FrameRing = nullptr;
    uint32_t DmaSlotCount = 0;
    uint32_t RingSlotCount = 0;
    uint32_t RecordPoints = 0;
    uint32_t RecordsPerFrame = 0;
    uint32_t IdleSleepMicroseconds = 0;  // the thread's sleep when the board's queue is full
    uint32_t RecordNumber = 0;           // records of a frame handed out (the configured number)
    double RecordsPerSecond = 0.0;       // the board's record rate; 0 when unknown
    double SamplePeriodSeconds = 0.0;    // between two samples of a lane; 0 when unknown
    StreamQueue *Stream = nullptr;       // the stream this run fills, or null (ring only)
};

// What DAQ_GetLatestFrameInfo reports: the frame the last readout copied (application thread).
struct LatestFrameInfo {
    bool Known = false;
    uint64_t Sequence = 0;
    uint32_t RecordsExpected = 0;
    uint32_t RecordsValid = 0;
    int64_t CompletedTicks = 0;
    double SamplePeriodSeconds = 0.0;
};

struct AcquisitionState {
    AcquisitionState() = default;
    AcquisitionState(const AcquisitionState &) = delete;
    AcquisitionState &operator=(const AcquisitionState &) = delete;
    // Stops a thread still running when the engine state goes away (a program that ends without
    // closing the board), through StopThreadAtExit.
    ~AcquisitionState();

    // DMA buffer and driver (application thread).
    WD_DMA *DmaRecord = nullptr;          // the library's record of the locked buffer
    uint8_t *DmaBuffer = nullptr;         // user-mode address of the locked buffer
    bool DmaBufferLocked = false;
    WDC_DEVICE_HANDLE DmaDeviceHandle = nullptr;
    os::ControlHandle DriverControlHandle = os::kInvalidControlHandle;

    // Slicing, recomputed by every set-up (application thread, while the thread is stopped).
    uint32_t ChunkPoints = 0;
    uint32_t ChunkBytes = 0;
    uint32_t TranslationMask = 0;
    uint32_t DmaSourceAddress = 0;
    uint32_t ChunkTargets[kDmaChunks] = {};
    uint32_t RecordPoints = 0;
    uint32_t RecordsPerFrame = 0;
    uint32_t DmaSlotCount = 0;
    uint32_t RingSlotCount = 0;
    uint32_t RecordLength = 0;            // last accepted request, as requested
    uint32_t RecordNumber = 0;

    // Host buffers (allocated by the set-up, released by the next set-up or the teardown).
    std::unique_ptr<uint8_t[]> RingRecordFilled;
    std::unique_ptr<uint32_t[]> LastSlotTags;
    std::unique_ptr<uint8_t *[]> SlotTrailers;
    std::unique_ptr<int16_t[]> FrameRing;
    bool HostBuffersAllocated = false;

    // Thread handshake.
    std::atomic<bool> ThreadStopped{true};      // cleared by start, set by the thread as its last act
    std::atomic<bool> StopRequested{false};     // set by stop, cleared by start
    std::atomic<bool> DmaFinished{false};       // thread: the dispatcher was seen finished at the end
    AcquisitionRun Run;                         // start operation, while no thread runs
    // Set by the start operation: stops the thread, or leaves it its buffers when it cannot be
    // stopped, for a program that ends without closing the board.
    void (*StopThreadAtExit)() = nullptr;

    // Written by the acquisition thread, read by the readout and status exports.
    RingStatus Ring;
    LatestFrameInfo LatestInfo;

    // The stream's queue: created by DAQ_StreamStart, kept after the stream stops so that its
    // frames can still be read, released by the next stream, configuration or close.
    std::unique_ptr<StreamQueue> Stream;
    bool StreamStarted = false;  // a stream was started since the board was opened

    // DMA diagnostics.
    uint8_t *PoolDestination = nullptr;
    int64_t TestStartTime = 0;
    int64_t TestEndTime = 0;
};

}  // namespace ostrel
