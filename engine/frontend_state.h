// Record geometry kept by the engine (everything else of the front end lives in board registers).
#pragma once

#include <cstdint>

namespace ostrel {

struct RecordGeometryState {
    uint32_t RecordNumInMem = 0;       // whole record slots in one DMA chunk
    uint32_t RecordSlotPoints = 0;     // points of one record slot: record points + trailer
    int32_t RecordCounters[4] = {};    // last values given to DAQ_SetRecordCounters
};

}  // namespace ostrel
