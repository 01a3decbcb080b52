// The record geometry of a request, as a pure function of the board model, the record length and
// the record number, and the two register writes that give it to the board. The setters, the
// acquisition set-up and the configuration exports all use these, so the engine and the board
// never disagree on where a record slot ends.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/board_model_state.h"

namespace ostrel {

// A four-frame ring larger than this is refused rather than attempted: such a request would take
// the host's memory, not configure an acquisition. Each frame may still hold 512 MiB, for example
// 16384 records of 16384 points.
constexpr uint64_t kMaxFrameRingBytes = 0x80000000ull;  // 2 GiB

// The record-number register counts records per frame times four (the board's tags wrap there).
constexpr uint32_t kRecordNumberScale = 4;

// How one record length lies in DMA memory.
struct RecordSlots {
    uint32_t RecordPoints = 0;      // points per record: record length x lanes
    uint32_t RecordSlotPoints = 0;  // record points + trailer points
    uint32_t RecordNumInMem = 0;    // whole record slots in one DMA chunk
};

// The slots of a record length on a model; nullopt for an unknown model, a length of 0, above the
// model's maximum, or off the board's length unit (the board would record a shorter length).
std::optional<RecordSlots> RecordSlotsOf(const BoardModelState &model, uint32_t recordLength);

struct RecordGeometry {
    RecordSlots Slots;
    uint32_t RecordsPerFrame = 0;  // the record number, raised so that a frame holds at least
                                   // MinAcquisitionPoints points
};

// The whole geometry of a configuration request; nullopt when the board cannot run it (the
// slots above, or a ring whose counts do not fit in 32 bits or whose size exceeds
// kMaxFrameRingBytes). Computed in 64 bits throughout.
std::optional<RecordGeometry> PlanRecordGeometry(const BoardModelState &model,
                                                 uint32_t recordLength, uint32_t recordNumber);

// Writes the record length and the slots per chunk to the open board and keeps RecordNumInMem and
// RecordSlotPoints. -1 with nothing written when the length cannot be recorded exactly; 0
// otherwise (also on a model without the registers, where nothing is written).
int32_t WriteRecordLength(uint32_t recordLength);
// Writes four times the records per frame; the write result, 0 without the register.
int32_t WriteRecordsPerFrame(int32_t recordsPerFrame);

}  // namespace ostrel
