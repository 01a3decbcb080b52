// The three calibration procedures. Each drives the board only through the exports, as an
// application would: stop, configure MaxRecordLength x 16 records, start, wait for a frame, read
// it, stop. Each returns 0, or -1 when it could not run or could not finish; a procedure that
// cannot finish puts back what it changed and keeps its previous results (offset table, card-data
// file, VoltsPerCode, single-lane offset) as they were.
#pragma once

#include <cstdint>

namespace ostrel {

constexpr uint32_t kCalibrationRecords = 16;  // records per calibration frame
constexpr float kSettleTime = 0.05f;          // seconds after each setting change of the sweep
constexpr double kReferenceSpanVolts = 2.0;   // what the span of lane 0 is taken to be

// Zero offset of every lane for every front-end combination, into the offset table and the
// card-data file. -1 with no board open, when the acquisition cannot be configured, when the lane
// buffers cannot be allocated, or when a frame does not come in time.
int32_t CalibrateDcOffset();

// VoltsPerCode from the span of lane 0 in one frame. -1 as above, and when lane 0 is flat.
int32_t CalibrateVerticalScale();

// The mean raw code of lane 0 becomes the single-lane offset in force. -1 as above.
int32_t SelfCalibrateOnce();

}  // namespace ostrel
