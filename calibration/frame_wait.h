// The lane buffers a calibration reads frames into, and the bounded wait for a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ostrel {

constexpr int kLaneBufferCount = 4;  // one per possible lane, whatever the model has

// Four heap buffers of the same number of samples, given back when the object goes away.
class LaneBuffers {
public:
    // False (and nothing held) when any of the four cannot be allocated.
    bool Allocate(std::size_t samplesPerLane);
    void Release();
    int16_t *Lane(int lane) { return lanes_[lane].get(); }
    const int16_t *Lane(int lane) const { return lanes_[lane].get(); }
    std::size_t SamplesPerLane() const { return samplesPerLane_; }

private:
    std::unique_ptr<int16_t[]> lanes_[kLaneBufferCount];
    std::size_t samplesPerLane_ = 0;
};

// A frame wait never ends earlier than this, however short the frames.
constexpr double kFrameWaitFloorSeconds = 3.0;
// Frame times a wait allows: the first frame after a start is announced only at the second
// completion, one frame late, so a healthy board delivers well within this many.
constexpr double kFrameTimesPerWait = 10.0;

// The bound for one frame wait of the acquisition now configured: kFrameTimesPerWait frame times
// (records per frame x record length points per lane at the board's sampling rate), and at least
// kFrameWaitFloorSeconds. The floor alone when the rate is unknown.
double FrameWaitBoundSeconds();

// Polls for an announced frame, sleeping 1 ms after each poll that finds none, for at most
// boundSeconds, and reads it into the lane buffers (lane 0 first); a frame with records missing is
// passed over for the next. False when no whole frame came in time or the readout refused.
bool WaitForFrame(LaneBuffers &buffers, double boundSeconds);

}  // namespace ostrel
