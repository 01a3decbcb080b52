#include "acquisition/acquisition_thread.h"

#include <algorithm>

#include "OstrelDAQEngine.h"
#include "acquisition/record_scanner.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"
#include "engine/register_window.h"
#include "frontend/timing_settings.h"

namespace ostrel {

namespace {

constexpr uint32_t kBar2 = 2;
constexpr uint32_t kDescriptorControl = kDmaDescGo | kDmaDescInterruptOnDone;
// Descriptors queued in one pass at most. The chunk a descriptor targets is given up by the scanner
// as it is queued, so its last round must have been scanned since the board completed it: a chunk
// is complete by the time the descriptor eleven places after it is queued (the dispatcher holds
// four waiting and one active), and a pass runs between two batches. Five is what an empty
// dispatcher takes, far below eleven.
constexpr uint32_t kMostDescriptorsPerPass = 5;
// What the thread sleeps, when the board's queue is full and nothing has arrived, as a share of
// the time one chunk of records takes at the sampling rate: the full queue covers four chunks and
// more, so a wake-up late by three chunks still finds a descriptor queued. Bounded below by what
// a sleep can resolve and above so that a stop is seen soon at slow rates.
constexpr double kIdleSleepChunkShare = 0.5;
constexpr uint32_t kShortestIdleSleepMicroseconds = 20;
constexpr uint32_t kLongestIdleSleepMicroseconds = 2000;
constexpr uint32_t kUnknownRateIdleSleepMicroseconds = 100;
// A raised thread that has not slept for this long goes back to ordinary scheduling for the rest
// of the run.
constexpr int64_t kLongestBusyMilliseconds = 20;
// The first part of the end-of-run wait polls without pause (the board usually finishes within
// microseconds); after that the thread polls once a millisecond until the time-out.
constexpr int64_t kDrainBusyMilliseconds = 20;

int64_t Milliseconds(int64_t ticks, int64_t frequency) { return ticks * 1000 / frequency; }

// Waits for the dispatcher to report finished (exactly 0x202: interrupt flag up, descriptor buffer
// empty, not busy). False when it has not within kDrainTimeoutMilliseconds.
bool WaitForDispatcherFinished(WDC_DEVICE_HANDLE handle) {
    const int64_t frequency = os::PerformanceFrequency() > 0 ? os::PerformanceFrequency() : 1;
    const int64_t start = os::PerformanceCounter();
    for (;;) {
        if (ReadBar32(handle, kBar2, kDmaStatus) == kDmaStatusFinished) return true;
        const int64_t elapsed = Milliseconds(os::PerformanceCounter() - start, frequency);
        if (elapsed >= kDrainTimeoutMilliseconds) return false;
        if (elapsed >= kDrainBusyMilliseconds) os::SleepMilliseconds(1);
    }
}

void AcquisitionThreadBody(void *) {
    os::NameCurrentThread(kAcquisitionThreadName);
    AcquisitionState &acquisition = g_engine.acquisition;
    const AcquisitionRun &run = acquisition.Run;
    WDC_DEVICE_HANDLE handle = run.DmaDeviceHandle;

    ScanLayout layout;
    layout.SlotTrailers = run.SlotTrailers;
    layout.LastSlotTags = run.LastSlotTags;
    layout.RingRecordFilled = run.RingRecordFilled;
    layout.FrameRing = run.FrameRing;
    layout.DmaSlotCount = run.DmaSlotCount;
    layout.RingSlotCount = run.RingSlotCount;
    layout.RecordPoints = run.RecordPoints;
    layout.RecordsPerFrame = run.RecordsPerFrame;
    layout.RecordNumber = run.RecordNumber;
    layout.RecordsPerSecond = run.RecordsPerSecond;
    layout.Stream = run.Stream;
    RecordScanner scanner(layout, acquisition.Ring, os::PerformanceCounter,
                          os::PerformanceFrequency());
    scanner.BeginRun();

    ReadBar32(handle, kBar2, kDmaStatus);
    uint32_t nextChunk = 0;
    bool queuedDescriptor = false;
    // Ahead of ordinary threads while it keeps sleeping between passes, so that a busy machine
    // does not keep it from the board's queue for longer than the queue lasts.
    const int64_t frequency = std::max<int64_t>(os::PerformanceFrequency(), 1);
    bool raised = os::RaiseThreadPriority();
    int64_t lastSleep = os::PerformanceCounter();
    while (!acquisition.StopRequested.load(std::memory_order_acquire)) {
        // The dispatcher's descriptor buffer is topped up on every pass: the board then has
        // several chunks of work before it needs this thread again, and a pass that comes late
        // (a busy machine, a long copy) costs no record.
        bool descriptorsFull = false;
        for (uint32_t queued = 0; queued < kMostDescriptorsPerPass; ++queued) {
            descriptorsFull =
                (ReadBar32(handle, kBar2, kDmaStatus) & kDmaStatusDescriptorsFull) != 0;
            if (descriptorsFull) break;
            // The chunk's records of its last round were taken, unless something held them back
            // (a frame being read, a gap): those are given up now, before the board rewrites them.
            scanner.ForgetChunk(nextChunk);
            WriteBar32(handle, kBar2, kDmaDescReadAddress, run.DmaSourceAddress);
            WriteBar32(handle, kBar2, kDmaDescWriteAddress, run.ChunkTargets[nextChunk]);
            WriteBar32(handle, kBar2, kDmaDescLength, run.ChunkBytes);
            WriteBar32(handle, kBar2, kDmaDescControl, kDescriptorControl);
            nextChunk = (nextChunk + 1) % kDmaChunks;
            queuedDescriptor = true;
        }
        const int32_t recordsBefore = scanner.RecordsReceived();
        scanner.Pass();
        // Nothing new, and the board holds a full buffer of descriptors: sleep for a fraction of
        // the time those descriptors cover, so that even a late wake-up finds work still queued.
        if (descriptorsFull && scanner.RecordsReceived() == recordsBefore) {
            os::SleepMicroseconds(run.IdleSleepMicroseconds);
            lastSleep = os::PerformanceCounter();
        } else if (raised && Milliseconds(os::PerformanceCounter() - lastSleep, frequency) >=
                                 kLongestBusyMilliseconds) {
            // The board fills chunks as fast as they are queued (or the records are too small
            // to keep up with): the thread would never sleep, and a raised thread that never
            // sleeps shuts ordinary threads out of its processor.
            os::RestoreThreadPriority();
            raised = false;
        }
    }
    if (raised) os::RestoreThreadPriority();  // the drain below polls

    // Let the queued descriptors finish before the run ends, so that the next set-up or the
    // teardown does not pull the buffer from under a transfer; with nothing queued there is
    // nothing to wait for, and a stalled board is given up on.
    const bool finished = !queuedDescriptor || WaitForDispatcherFinished(handle);
    acquisition.DmaFinished.store(finished, std::memory_order_relaxed);
    WriteBar32(handle, kBar2, kDmaStatus, kDmaStatusInterrupt);
    WriteBar32(handle, kBar2, kDmaStatus, kDmaStatusInterrupt);
    acquisition.ThreadStopped.store(true, std::memory_order_release);  // the thread's last act
}

// Records the board writes per second at a sampling rate; 0 when it is not known.
double RecordsPerSecond(const AcquisitionState &acquisition, double megasamplesPerSecond) {
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (!(megasamplesPerSecond > 0.0) || lanes == 0 || acquisition.RecordPoints < lanes) return 0.0;
    // Every lane samples at the rate: a record lasts its points per lane.
    return megasamplesPerSecond * 1e6 / (static_cast<double>(acquisition.RecordPoints) / lanes);
}

uint32_t IdleSleepMicroseconds(const AcquisitionState &acquisition, double recordsPerSecond) {
    if (!(recordsPerSecond > 0.0)) return kUnknownRateIdleSleepMicroseconds;
    const double chunkRecords = static_cast<double>(acquisition.DmaSlotCount / kDmaChunks);
    const double microseconds = kIdleSleepChunkShare * chunkRecords / recordsPerSecond * 1e6;
    return static_cast<uint32_t>(std::clamp(microseconds,
                                            static_cast<double>(kShortestIdleSleepMicroseconds),
                                            static_cast<double>(kLongestIdleSleepMicroseconds)));
}

// A program may end without closing the board while the thread still copies records into the
// ring. It is stopped before the ring goes away; one that cannot be stopped, or that the OS has
// ended already, keeps its buffers, which the end of the process reclaims.
void StopThreadAtExit() {
    if (os::OtherThreadsEnded() || StopAcquisitionThread() != 0) AbandonHostBuffers();
}

}  // namespace

int32_t StartAcquisitionThread(StreamQueue *stream) {
    AcquisitionState &acquisition = g_engine.acquisition;
    if (!acquisition.ThreadStopped.load(std::memory_order_acquire)) return 0;
    acquisition.StopThreadAtExit = StopThreadAtExit;
    // The thread works only on the host buffers of a successful set-up.
    if (!acquisition.HostBuffersAllocated || !acquisition.DmaBufferLocked ||
        acquisition.DmaDeviceHandle == nullptr) {
        return DAQ_ERROR;
    }

    AcquisitionRun &run = acquisition.Run;
    run.DmaDeviceHandle = acquisition.DmaDeviceHandle;
    run.DmaSourceAddress = static_cast<uint32_t>(g_engine.model.RegisterBase);
    run.ChunkBytes = acquisition.ChunkBytes;
    for (int chunk = 0; chunk < kDmaChunks; ++chunk) {
        run.ChunkTargets[chunk] = acquisition.ChunkTargets[chunk];
    }
    run.SlotTrailers = acquisition.SlotTrailers.get();
    run.LastSlotTags = acquisition.LastSlotTags.get();
    run.RingRecordFilled = acquisition.RingRecordFilled.get();
    run.FrameRing = acquisition.FrameRing.get();
    run.DmaSlotCount = acquisition.DmaSlotCount;
    run.RingSlotCount = acquisition.RingSlotCount;
    run.RecordPoints = acquisition.RecordPoints;
    run.RecordsPerFrame = acquisition.RecordsPerFrame;
    const double megasamplesPerSecond = CurrentSamplingRate();
    run.RecordsPerSecond = RecordsPerSecond(acquisition, megasamplesPerSecond);
    run.IdleSleepMicroseconds = IdleSleepMicroseconds(acquisition, run.RecordsPerSecond);
    run.RecordNumber = std::min(acquisition.RecordNumber, acquisition.RecordsPerFrame);
    run.SamplePeriodSeconds = megasamplesPerSecond > 0.0 ? 1e-6 / megasamplesPerSecond : 0.0;
    run.Stream = stream;

    // The counters of the new run, visible as soon as the start returns (the thread resets the
    // same values when it begins).
    RingStatus &ring = acquisition.Ring;
    ring.RecordsReceived.store(0, std::memory_order_relaxed);
    ring.FrameCounter.store(-1, std::memory_order_relaxed);
    for (auto &statistic : ring.FrameStatistics) statistic.store(0, std::memory_order_relaxed);
    acquisition.StopRequested.store(false, std::memory_order_relaxed);
    ring.NewFrameAvailable.store(false, std::memory_order_relaxed);
    acquisition.ThreadStopped.store(false, std::memory_order_release);
    // A test may put a starter that fails in the system's place.
    const auto startThread =
        Seams().startThread != nullptr ? Seams().startThread : os::StartThread;
    if (!startThread(AcquisitionThreadBody, nullptr)) {
        acquisition.ThreadStopped.store(true, std::memory_order_release);
        return DAQ_ERROR;
    }
    return 0;
}

int32_t StopAcquisitionThread() {
    AcquisitionState &acquisition = g_engine.acquisition;
    acquisition.StopRequested.store(true, std::memory_order_release);
    // A stream publishes nothing from here on: a reader that finds its queue empty now has had
    // every frame (the thread only hands frames to the queue while it runs).
    if (acquisition.Run.Stream != nullptr) acquisition.Run.Stream->Close();
    const int64_t frequency = std::max<int64_t>(os::PerformanceFrequency(), 1);
    const int64_t start = os::PerformanceCounter();
    while (!acquisition.ThreadStopped.load(std::memory_order_acquire)) {
        if (Milliseconds(os::PerformanceCounter() - start, frequency) >= kStopTimeoutMilliseconds) {
            return DAQ_ERROR;
        }
        os::SleepMilliseconds(1);
    }
    return 0;
}

void AbandonHostBuffers() {
    AcquisitionState &acquisition = g_engine.acquisition;
    (void)acquisition.FrameRing.release();
    (void)acquisition.RingRecordFilled.release();
    (void)acquisition.LastSlotTags.release();
    (void)acquisition.SlotTrailers.release();
    (void)acquisition.Stream.release();
    acquisition.HostBuffersAllocated = false;
}

}  // namespace ostrel

extern "C" {

OSTREL_API int32_t DAQ_StartAcquisition(void) noexcept {
    // Refused before the indicator changes when there is nothing to acquire into.
    const ostrel::AcquisitionState &acquisition = ostrel::g_engine.acquisition;
    if (acquisition.ThreadStopped.load(std::memory_order_acquire) &&
        !acquisition.HostBuffersAllocated) {
        return DAQ_ERROR;
    }
    ostrel::SetIndicator(1);
    return ostrel::StartAcquisitionThread();
}

OSTREL_API int32_t DAQ_StopAcquisition(void) noexcept {
    const int32_t result = ostrel::StopAcquisitionThread();
    ostrel::SetIndicator(0);
    return result;
}

}  // extern "C"
