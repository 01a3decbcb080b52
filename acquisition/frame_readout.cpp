#include "acquisition/frame_readout.h"

#include <algorithm>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"

namespace ostrel {

// The kernels are compiled at -O3 (see engine/CMakeLists.txt). With restrict-qualified pointers
// and a lane count known at compile time the compiler turns the de-interleave into vector shuffles;
// a run-time lane loop over an array of output pointers is not vectorised and runs at a fraction
// of memcpy speed.

void SplitOneLane(const int16_t *__restrict source, size_t pointsPerLane, int16_t offset0,
                  int16_t *__restrict lane0) {
    for (size_t i = 0; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[i] - offset0);
    }
}

void SplitTwoLanes(const int16_t *__restrict source, size_t pointsPerLane, int16_t offset0,
                   int16_t offset1, int16_t *__restrict lane0, int16_t *__restrict lane1) {
    for (size_t i = 0; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[2 * i] - offset0);
        lane1[i] = static_cast<int16_t>(source[2 * i + 1] - offset1);
    }
}

void SplitFourLanes(const int16_t *__restrict source, size_t pointsPerLane,
                    const int16_t offsets[4], int16_t *__restrict lane0,
                    int16_t *__restrict lane1, int16_t *__restrict lane2,
                    int16_t *__restrict lane3) {
    const int16_t offset0 = offsets[0], offset1 = offsets[1];
    const int16_t offset2 = offsets[2], offset3 = offsets[3];
    for (size_t i = 0; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[4 * i] - offset0);
        lane1[i] = static_cast<int16_t>(source[4 * i + 1] - offset1);
        lane2[i] = static_cast<int16_t>(source[4 * i + 2] - offset2);
        lane3[i] = static_cast<int16_t>(source[4 * i + 3] - offset3);
    }
}

namespace {

// Announces the ring frame of the latest complete frame to the acquisition thread and returns its
// first record. If the thread moves on between the look and the announcement, the newer frame is
// taken instead (a few times at most; the frame held is then still whole, only not the newest).
uint32_t HoldLatestFrame(AcquisitionState &acquisition) {
    RingStatus &ring = acquisition.Ring;
    const uint32_t recordsPerFrame = acquisition.RecordsPerFrame;
    uint32_t start = ring.LatestFrameStart.load(std::memory_order_acquire);
    for (int attempt = 0;; ++attempt) {
        const uint32_t frame = std::min<uint32_t>(start / recordsPerFrame, kRingFrames - 1);
        ring.Guard.BeginReading(static_cast<int32_t>(frame));
        const uint32_t now = ring.LatestFrameStart.load(std::memory_order_acquire);
        if (now / recordsPerFrame == frame || attempt == 3) return frame * recordsPerFrame;
        ring.Guard.EndReading();
        start = now;
    }
}

}  // namespace

int32_t ReadLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2, int16_t *lane3) {
    AcquisitionState &acquisition = g_engine.acquisition;
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (lanes >= 1 && lane0 == nullptr) return -1;
    if (lanes >= 2 && lane1 == nullptr) return -1;
    if (lanes >= 4 && (lane2 == nullptr || lane3 == nullptr)) return -1;

    acquisition.Ring.NewFrameAvailable.store(false, std::memory_order_relaxed);
    if (!acquisition.HostBuffersAllocated || acquisition.RecordsPerFrame == 0) return 0;
    if (lanes != 1 && lanes != 2 && lanes != 4) return 0;

    // Only the first RecordNumber records of the frame are returned (the frame may have been
    // raised to more); never more than one frame.
    const uint64_t frameSamples =
        static_cast<uint64_t>(acquisition.RecordPoints) * acquisition.RecordsPerFrame;
    const uint64_t samples = std::min<uint64_t>(
        static_cast<uint64_t>(acquisition.RecordPoints) * acquisition.RecordNumber, frameSamples);
    if (samples == 0) return 0;

    const int16_t *offsets = g_engine.calibration.ChannelOffsets;
    const uint32_t firstRecord = HoldLatestFrame(acquisition);
    const int16_t *source =
        acquisition.FrameRing.get() + static_cast<size_t>(firstRecord) * acquisition.RecordPoints;
    const size_t pointsPerLane = static_cast<size_t>(samples / lanes);
    switch (lanes) {
        case 1:
            SplitOneLane(source, pointsPerLane, offsets[kSingleLaneOffset], lane0);
            break;
        case 2:
            SplitTwoLanes(source, pointsPerLane, offsets[kLaneOffset0], offsets[kLaneOffset0 + 1],
                          lane0, lane1);
            break;
        default:
            SplitFourLanes(source, pointsPerLane, offsets + kLaneOffset0, lane0, lane1, lane2,
                           lane3);
            break;
    }
    acquisition.Ring.Guard.EndReading();
    return 0;
}

}  // namespace ostrel

extern "C" {

OSTREL_API int32_t DAQ_GetLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2,
                                      int16_t *lane3) {
    return ostrel::ReadLatestFrame(lane0, lane1, lane2, lane3);
}

}  // extern "C"
