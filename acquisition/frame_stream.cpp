// The streaming exports: every frame in order through a queue, with what is known of each.
#include <algorithm>
#include <cstring>

#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "acquisition/frame_readout.h"
#include "engine/engine_state.h"
#include "frontend/timing_settings.h"

namespace ostrel {

namespace {

// How long a waiting read sleeps between looks at the queue: short against any frame's duration at
// the fastest rates (a frame is at least 512 Ki points), long enough to cost next to nothing.
constexpr uint32_t kReadPollMicroseconds = 200;

int64_t TicksToNanoseconds(int64_t ticks, int64_t frequency) {
    if (frequency <= 0) return 0;
    const int64_t seconds = ticks / frequency;
    return seconds * 1000000000 + (ticks % frequency) * 1000000000 / frequency;
}

bool InfoFits(const DAQ_FrameInfo *info) {
    return info != nullptr && info->size >= sizeof(DAQ_FrameInfo);
}

void FillInfo(DAQ_FrameInfo *info, uint64_t sequence, uint32_t expected, uint32_t valid,
              uint64_t lostBefore, uint64_t recordsLost, int64_t completedTicks,
              double samplePeriod) {
    DAQ_FrameInfo filled{};
    filled.size = sizeof(DAQ_FrameInfo);
    filled.flags = (valid == expected ? uint32_t{DAQ_FRAME_COMPLETE} : 0u) |
                   (lostBefore > 0 ? uint32_t{DAQ_FRAME_GAP_BEFORE} : 0u);
    filled.frameSequence = sequence;
    filled.recordsExpected = expected;
    filled.recordsValid = valid;
    filled.framesLostBefore = lostBefore;
    filled.recordsLostTotal = recordsLost;
    filled.completedNs = TicksToNanoseconds(completedTicks, os::PerformanceFrequency());
    filled.samplePeriodS = samplePeriod;
    std::memcpy(info, &filled, sizeof(filled));
}

bool StreamRunning(const AcquisitionState &acquisition) {
    return !acquisition.ThreadStopped.load(std::memory_order_acquire) &&
           acquisition.Run.Stream != nullptr;
}

// Copies the slot out, lane by lane, with the records that never arrived zero in every lane.
void Deliver(StreamQueue &queue, int32_t slot, uint32_t lanes, int16_t *const lane[4]) {
    const uint32_t records = queue.RecordsPerSlot();
    const size_t pointsPerRecord = queue.RecordPoints() / lanes;
    SplitFrame(queue.Samples(slot), pointsPerRecord * records, lanes, lane[0], lane[1], lane[2],
               lane[3]);
    if (queue.Slot(slot).RecordsValid == records) return;
    const uint8_t *filled = queue.Filled(slot);
    for (uint32_t record = 0; record < records; ++record) {
        if (filled[record] != 0) continue;
        for (uint32_t index = 0; index < lanes; ++index) {
            std::fill_n(lane[index] + record * pointsPerRecord, pointsPerRecord, int16_t{0});
        }
    }
}

}  // namespace

}  // namespace ostrel

extern "C" {

OSTREL_API int32_t DAQ_StreamStart(int32_t ringFrames, int32_t overflowPolicy) noexcept {
    using namespace ostrel;
    AcquisitionState &acquisition = g_engine.acquisition;
    if (ringFrames < kStreamMinimumFrames || ringFrames > kStreamMaximumFrames) return DAQ_ERROR;
    if (overflowPolicy < DAQ_STREAM_DROP_OLDEST || overflowPolicy > DAQ_STREAM_FAIL) {
        return DAQ_ERROR;
    }
    if (!acquisition.ThreadStopped.load(std::memory_order_acquire)) return DAQ_ERROR;
    if (!acquisition.HostBuffersAllocated || acquisition.RecordsPerFrame == 0) return DAQ_ERROR;
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (lanes != 1 && lanes != 2 && lanes != 4) return DAQ_ERROR;

    const uint32_t records = std::min(acquisition.RecordNumber, acquisition.RecordsPerFrame);
    // The queue's samples stay within half the machine's memory: a larger one would be granted
    // by an overcommitting system and end the process once its frames are written.
    const uint64_t physical = os::PhysicalMemoryBytes();
    const uint64_t queueBytes = static_cast<uint64_t>(ringFrames + kStreamSpareSlots) * records *
                                acquisition.RecordPoints * sizeof(int16_t);
    if (physical != 0 && queueBytes > physical / 2) return DAQ_ERROR;
    std::unique_ptr<StreamQueue> queue =
        StreamQueue::Create(static_cast<uint32_t>(ringFrames), overflowPolicy, records,
                            acquisition.RecordPoints);
    if (queue == nullptr) return DAQ_ERROR;
    // The queue before goes only now that the new one exists: a refusal changes nothing.
    queue->SamplePeriodSeconds = CurrentSamplingRate() > 0.0f ? 1e-6 / CurrentSamplingRate() : 0.0;
    acquisition.Run.Stream = nullptr;
    acquisition.Stream = std::move(queue);
    acquisition.StreamStarted = true;
    SetIndicator(1);
    if (StartAcquisitionThread(acquisition.Stream.get()) != 0) {
        acquisition.Stream->Close();
        SetIndicator(0);
        return DAQ_ERROR;
    }
    return DAQ_OK;
}

OSTREL_API int32_t DAQ_StreamRead(int16_t *lane0, int16_t *lane1, int16_t *lane2, int16_t *lane3,
                                  uint32_t capacityPerLane, DAQ_FrameInfo *info,
                                  int32_t timeoutMs) noexcept {
    using namespace ostrel;
    AcquisitionState &acquisition = g_engine.acquisition;
    if (!acquisition.StreamStarted || !InfoFits(info) || timeoutMs < 0) return DAQ_ERROR;
    if (!LanesPresent(lane0, lane1, lane2, lane3)) return DAQ_ERROR;
    StreamQueue *queue = acquisition.Stream.get();
    if (queue == nullptr) return DAQ_ENDED;  // ended by a configuration or a close
    const uint32_t lanes = g_engine.model.ADCNumber;
    const uint64_t pointsPerLane =
        static_cast<uint64_t>(queue->RecordPoints() / lanes) * queue->RecordsPerSlot();
    if (capacityPerLane < pointsPerLane) return DAQ_ERROR;

    const int64_t frequency = std::max<int64_t>(os::PerformanceFrequency(), 1);
    const int64_t deadline = os::PerformanceCounter() + timeoutMs * frequency / 1000;
    int32_t slot = queue->TakeOldest();
    while (slot < 0) {
        // Closed: nothing is published any more, so one more look settles it.
        if (queue->Closed()) {
            slot = queue->TakeOldest();
            if (slot < 0) return DAQ_ENDED;
            break;
        }
        if (queue->Overflowed()) return DAQ_OVERFLOW;
        const int64_t left = deadline - os::PerformanceCounter();
        if (left <= 0) return DAQ_TIMEOUT;
        const int64_t leftMicroseconds = left * 1000000 / frequency;
        os::SleepMicroseconds(static_cast<uint32_t>(
            std::clamp<int64_t>(leftMicroseconds, 1, kReadPollMicroseconds)));
        slot = queue->TakeOldest();
    }

    int16_t *const lane[4] = {lane0, lane1, lane2, lane3};
    Deliver(*queue, slot, lanes, lane);
    const StreamSlot &frame = queue->Slot(slot);
    const uint64_t sequence = frame.Sequence;
    const uint32_t expected = queue->RecordsPerSlot();
    // Frames are queued in order; the guards only keep a count from wrapping should that fail.
    const uint64_t lostBefore = !queue->DeliveredAny ? sequence
                                : sequence > queue->LastSequence ? sequence - queue->LastSequence - 1
                                                                 : 0;
    queue->DeliveredAny = true;
    queue->LastSequence = sequence;
    queue->RecordsDelivered += frame.RecordsValid;
    const uint64_t recordsDue = (sequence + 1) * expected;
    const uint64_t recordsLost =
        recordsDue > queue->RecordsDelivered ? recordsDue - queue->RecordsDelivered : 0;
    FillInfo(info, sequence, expected, frame.RecordsValid, lostBefore, recordsLost,
             frame.CompletedTicks, queue->SamplePeriodSeconds);
    queue->FreeSlot(slot);
    return DAQ_OK;
}

OSTREL_API int32_t DAQ_StreamStop(void) noexcept {
    using namespace ostrel;
    AcquisitionState &acquisition = g_engine.acquisition;
    if (!StreamRunning(acquisition)) return DAQ_OK;
    const int32_t result = StopAcquisitionThread();
    SetIndicator(0);
    return result;
}

OSTREL_API int32_t DAQ_GetLatestFrameInfo(DAQ_FrameInfo *info) noexcept {
    using namespace ostrel;
    const LatestFrameInfo &latest = g_engine.acquisition.LatestInfo;
    if (!InfoFits(info) || !latest.Known) return DAQ_ERROR;
    FillInfo(info, latest.Sequence, latest.RecordsExpected, latest.RecordsValid, 0, 0,
             latest.CompletedTicks, latest.SamplePeriodSeconds);
    return DAQ_OK;
}

}  // extern "C"
