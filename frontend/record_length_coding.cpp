#include "frontend/record_length_coding.h"

#include <iterator>

#include "engine/register_map.h"

namespace ostrel {
namespace {

// Rows: models 5..10.
constexpr RecordLengthCoding kRecordLengthCodings[] = {
    {1, 1, 1},  // 5: points
    {4, 2, 2},  // 6: pairs of points, written in whole groups of 4
    {8, 1, 8},  // 7: groups of 8 points
    {1, 1, 1},  // 8: points
    {4, 1, 4},  // 9: groups of 4 points
    {4, 1, 2},  // 10: written in groups of 4, read back as pairs
};
static_assert(std::size(kRecordLengthCodings) == kModelCount, "one coding per model 5..10");

// A factor left out of a row reads 0: a division by zero or a length that always reads back 0.
constexpr bool CodingsComplete() {
    for (const RecordLengthCoding &coding : kRecordLengthCodings) {
        if (coding.writeDivisor == 0 || coding.writeMultiplier == 0 || coding.readFactor == 0) {
            return false;
        }
    }
    return true;
}
static_assert(CodingsComplete(), "a record-length coding lacks a factor");

}  // namespace

std::optional<RecordLengthCoding> RecordLengthCodingOf(int32_t modelType) {
    if (modelType < kFirstModel || modelType > kLastModel) return std::nullopt;
    return kRecordLengthCodings[modelType - kFirstModel];
}

uint32_t EncodeRecordLength(const RecordLengthCoding &coding, uint32_t length) {
    return (length / coding.writeDivisor) * coding.writeMultiplier;
}

bool RecordLengthOnStep(const RecordLengthCoding &coding, uint32_t length) {
    return coding.writeDivisor != 0 && length % coding.writeDivisor == 0;
}

uint32_t DecodeRecordLength(const RecordLengthCoding &coding, uint32_t registerValue) {
    return registerValue * coding.readFactor;
}

}  // namespace ostrel
