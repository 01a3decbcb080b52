#include "frontend/record_geometry.h"

#include <limits>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_map.h"
#include "frontend/board_registers.h"
#include "frontend/record_length_coding.h"

namespace ostrel {
namespace {

constexpr uint64_t kRingFrameCount = 4;
constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();

}  // namespace

std::optional<RecordSlots> RecordSlotsOf(const BoardModelState &model, uint32_t recordLength) {
    if (model.ModelType < kFirstModel || model.ModelType > kLastModel) return std::nullopt;
    const auto coding = RecordLengthCodingOf(model.ModelType);
    if (!coding || recordLength == 0 || recordLength > model.MaxRecordLength ||
        !RecordLengthOnStep(*coding, recordLength)) {
        return std::nullopt;
    }
    const uint64_t recordPoints = static_cast<uint64_t>(recordLength) * model.ADCNumber;
    const uint64_t slotPoints = recordPoints + model.TrailerPoints;
    if (recordPoints == 0 || slotPoints > kMax32) return std::nullopt;
    RecordSlots slots;
    slots.RecordPoints = static_cast<uint32_t>(recordPoints);
    slots.RecordSlotPoints = static_cast<uint32_t>(slotPoints);
    slots.RecordNumInMem = static_cast<uint32_t>(model.DMATransferPoints / slotPoints);
    return slots;
}

std::optional<RecordGeometry> PlanRecordGeometry(const BoardModelState &model,
                                                 uint32_t recordLength, uint32_t recordNumber) {
    const std::optional<RecordSlots> slots = RecordSlotsOf(model, recordLength);
    if (!slots) return std::nullopt;
    const uint64_t lanes = model.ADCNumber;
    // Raise the records per frame so that a frame holds at least MinAcquisitionPoints points. The
    // product is taken in 64 bits: in 32 bits a large record number wraps below the minimum and
    // would give a frame shorter than the record number the readout returns.
    uint64_t recordsPerFrame = recordNumber;
    if (static_cast<uint64_t>(recordLength) * recordNumber * lanes < model.MinAcquisitionPoints) {
        recordsPerFrame = model.MinAcquisitionPoints / lanes / recordLength;
    }
    const uint64_t recordPoints = slots->RecordPoints;
    const uint64_t ringRecords = recordsPerFrame * kRingFrameCount;
    // The board counts tags up to four times the records per frame in a 32-bit register, and the
    // readout counts the samples of a frame in 32 bits.
    if (recordsPerFrame == 0 || ringRecords > kMax32) return std::nullopt;
    if (recordPoints * recordsPerFrame > kMax32) return std::nullopt;
    if (ringRecords * recordPoints * sizeof(int16_t) > kMaxFrameRingBytes) return std::nullopt;
    RecordGeometry geometry;
    geometry.Slots = *slots;
    geometry.RecordsPerFrame = static_cast<uint32_t>(recordsPerFrame);
    return geometry;
}

int32_t WriteRecordLength(uint32_t recordLength) {
    const BoardModelState &model = g_engine.model;
    const auto coding = RecordLengthCodingOf(model.ModelType);
    if (!coding) return 0;
    const std::optional<RecordSlots> slots = RecordSlotsOf(model, recordLength);
    if (!slots) return DAQ_ERROR;
    RecordGeometryState &geometry = g_engine.geometry;
    geometry.RecordSlotPoints = slots->RecordSlotPoints;
    geometry.RecordNumInMem = slots->RecordNumInMem;
    WriteRoleRegister(Reg::RecordLength, EncodeRecordLength(*coding, recordLength));
    WriteRoleRegister(Reg::RecordsInMemory, geometry.RecordNumInMem);
    return 0;
}

int32_t WriteRecordsPerFrame(int32_t recordsPerFrame) {
    const uint32_t value = static_cast<uint32_t>(recordsPerFrame) * kRecordNumberScale;
    return WriteRoleRegister(Reg::RecordNumber, value).value_or(0);
}

}  // namespace ostrel
