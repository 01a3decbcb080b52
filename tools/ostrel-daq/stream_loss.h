// What a stream lost, summed over the frames it delivered.
#pragma once

#include <cstdint>
#include <string>

#include "OstrelDAQEngine.h"

namespace ostrel_daq {

struct StreamLoss {
    uint64_t frames = 0;         // delivered
    uint64_t framesLost = 0;     // dropped or lost whole between delivered frames
    uint64_t partialFrames = 0;  // delivered with records missing
    uint64_t recordsLost = 0;    // since the start, from both causes

    // A frame with records missing, or after a gap.
    static bool Lossy(const DAQ_FrameInfo &info) {
        return (info.flags & DAQ_FRAME_COMPLETE) == 0 || info.framesLostBefore > 0;
    }

    void Add(const DAQ_FrameInfo &info) {
        ++frames;
        framesLost += info.framesLostBefore;
        if ((info.flags & DAQ_FRAME_COMPLETE) == 0) ++partialFrames;
        recordsLost = info.recordsLostTotal;
    }

    bool Any() const { return framesLost > 0 || partialFrames > 0 || recordsLost > 0; }

    std::string Brief() const {
        return std::to_string(framesLost) + " frames, " + std::to_string(recordsLost) + " records";
    }

    std::string Text() const {
        if (!Any()) return "nothing";
        return std::to_string(framesLost) + " frame" + (framesLost == 1 ? "" : "s") +
               " (gaps in the sequence), " + std::to_string(partialFrames) + " partial frame" +
               (partialFrames == 1 ? "" : "s") + ", " + std::to_string(recordsLost) +
               " record" + (recordsLost == 1 ? "" : "s") + " in all";
    }
};

}  // namespace ostrel_daq
