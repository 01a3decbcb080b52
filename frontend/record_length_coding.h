// How each model keeps the record length in its register. The board counts in units of its own
// (pairs, groups of 4 or 8 points), so the setter scales down and the getter scales back up; the
// read-back factor of model 10 is the board's own and deliberately differs from its write divisor.
#pragma once

#include <cstdint>
#include <optional>

namespace ostrel {

struct RecordLengthCoding {
    uint32_t writeDivisor;     // register = (length / writeDivisor) x writeMultiplier
    uint32_t writeMultiplier;
    uint32_t readFactor;       // length reported = register x readFactor
};

// The coding of a model, or nullopt for a model without a record-length register.
std::optional<RecordLengthCoding> RecordLengthCodingOf(int32_t modelType);

// Register value for a requested length (unsigned division, remainder dropped).
uint32_t EncodeRecordLength(const RecordLengthCoding &coding, uint32_t length);
// Length the getter reports for a register value (32-bit arithmetic).
uint32_t DecodeRecordLength(const RecordLengthCoding &coding, uint32_t registerValue);

// Whether the board records exactly the requested length: it must be a whole number of the
// units the model writes. Any other length would be rounded down by the board while the engine
// sliced the DMA buffer for the length asked, so the two would disagree on where a record ends.
bool RecordLengthOnStep(const RecordLengthCoding &coding, uint32_t length);

}  // namespace ostrel
