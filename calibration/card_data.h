// The card-data file: the zero-offset table of one board model in the current directory, as the
// board's PCI device ID followed by the 128 table entries, all little-endian (260 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/calibration_state.h"

namespace ostrel {

constexpr std::size_t kCardDataIdBytes = 4;
constexpr std::size_t kCardDataTableBytes = 2 * kOffsetTableEntries;
constexpr std::size_t kCardDataBytes = kCardDataIdBytes + kCardDataTableBytes;

// Chooses CardDataFileName by model.
void SelectCardDataFileName();

// Loads the table for the active board. A missing file leaves the table as it is (0); a file of
// another device ID or too short zeroes the whole table (-1).
int32_t LoadCardData();

// Writes the table under the name chosen at the last load. The bytes go to a temporary file in
// the same directory, which is flushed to disk and then renamed over the old file, so a failure
// at any point leaves the previous file whole. Returns 0, or -1 when the file could not be
// written (the table in memory is unchanged either way).
int32_t SaveCardData();

// The 260 file bytes for a device ID and table.
void EncodeCardData(uint32_t deviceId, const int16_t (&table)[kOffsetTableEntries],
                    uint8_t (&bytes)[kCardDataBytes]);

}  // namespace ostrel
