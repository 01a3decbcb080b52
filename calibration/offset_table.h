// Offset table, choice of the offsets in force, and the card-data file.
#pragma once

#include <cstdint>

namespace ostrel {

// Re-chooses the offset in force of a lane from the offset table (all five to 8192 while a
// DC-offset calibration runs).
int32_t UpdateChannelOffset(int32_t lane);
void SelectCardDataFileName();
// 0, or -1 when the file was rejected (the table is then all 0).
int32_t LoadCardData();
// Writes the card-data file atomically (temporary file, flush, rename). Returns 0.
int32_t SaveCardData();
// Open-time step: card data, initial inputs, offsets of every lane.
int32_t ApplyInitialInputs();

}  // namespace ostrel
