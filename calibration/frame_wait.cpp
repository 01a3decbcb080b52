#include "calibration/frame_wait.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "acquisition/frame_readout.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"
#include "frontend/timing_settings.h"
#include "platform/os/os_services.h"

namespace ostrel {
namespace {

constexpr double kSamplesPerMegasample = 1.0e6;
constexpr uint32_t kFramePollMilliseconds = 1;

}  // namespace

bool LaneBuffers::Allocate(std::size_t samplesPerLane) {
    Release();
    if (Seams().laneBufferAllocationsFail) return false;  // a test's exhausted memory
    for (auto &lane : lanes_) {
        lane.reset(new (std::nothrow) int16_t[samplesPerLane]);
        if (lane == nullptr) {
            Release();
            return false;
        }
    }
    samplesPerLane_ = samplesPerLane;
    return true;
}

void LaneBuffers::Release() {
    for (auto &lane : lanes_) lane.reset();
    samplesPerLane_ = 0;
}

double FrameWaitBoundSeconds() {
    const float megasamplesPerSecond = CurrentSamplingRate();
    if (!std::isfinite(megasamplesPerSecond) || megasamplesPerSecond <= 0.0f) {
        return kFrameWaitFloorSeconds;
    }
    // Every lane samples at the rate, so a frame lasts its points per lane.
    const AcquisitionState &acquisition = g_engine.acquisition;
    const double pointsPerLane =
        static_cast<double>(acquisition.RecordsPerFrame) * acquisition.RecordLength;
    const double frameSeconds =
        pointsPerLane / (static_cast<double>(megasamplesPerSecond) * kSamplesPerMegasample);
    return std::max(kFrameWaitFloorSeconds, kFrameTimesPerWait * frameSeconds);
}

bool WaitForFrame(LaneBuffers &buffers, double boundSeconds) {
    const int64_t frequency = os::PerformanceFrequency();
    const int64_t start = os::PerformanceCounter();
    const double boundTicks = boundSeconds * static_cast<double>(frequency);
    for (;;) {
        while (!NewFrameAnnounced()) {
            os::SleepMilliseconds(kFramePollMilliseconds);
            if (static_cast<double>(os::PerformanceCounter() - start) > boundTicks) {
                // One last look, so that a frame announced during the final sleep is not lost.
                if (NewFrameAnnounced()) break;
                return false;
            }
        }
        // A frame announced with records missing still holds, in their place, records of an
        // earlier frame, taken perhaps before a setting changed: a mean over it would be wrong.
        // Such a frame is passed over for the next one.
        bool whole = false;
        if (ReadLatestFrame(buffers.Lane(0), buffers.Lane(1), buffers.Lane(2), buffers.Lane(3),
                            &whole) != 0) {
            return false;
        }
        if (whole) return true;
    }
}

}  // namespace ostrel
