// Timing and indicator settings shared by their exports and by the acquisition and calibration:
// the trigger, the indicator code and the sampling rate in force, each in the board's registers.
#pragma once

#include <cstdint>
#include <optional>

namespace ostrel {

// The trigger setting the board holds; nullopt when the model lacks the register or nothing is
// open.
std::optional<int32_t> ReadTrigger();
// Writes the trigger setting; the write result (the engine's last status), 0 without the register.
int32_t WriteTrigger(int32_t triggerSetting);

// Writes the indicator (LED) code; the write result, 0 on a model without the register.
int32_t SetIndicator(int32_t indicatorCode);

// The rate of a divider code in MS/s, or nullptr for a code outside the 21-entry table.
const float *SamplingRateEntry(uint32_t dividerCode);
// The sampling rate of the divider code the board holds, in MS/s; 0 when it cannot be told.
float CurrentSamplingRate();

}  // namespace ostrel
