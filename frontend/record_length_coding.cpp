#include "frontend/record_length_coding.h"

#include "engine/register_map.h"

namespace ostrel {
namespace {

// Rows: models 5..10.
constexpr RecordLengthCoding kRecordLengthCodings[kLastModel - kFirstModel + 1] = {
    {1, 1, 1},  // 5: points
    {4, 2, 2},  // 6: pairs of points, written in whole groups of 4
    {8, 1, 8},  // 7: groups of 8 points
    {1, 1, 1},  // 8: points
    {4, 1, 4},  // 9: groups of 4 points
    {4, 1, 2},  // 10: written in groups of 4, read back as pairs
};

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
