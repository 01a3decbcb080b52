// The per-model parameters as data: one row per PCI device ID the engine knows, and the sampling
// rates per model. ApplyBoardModel and FillSamplingRates copy a row into the engine state.
#pragma once

#include <cstdint>
#include <span>

#include "engine/board_model_state.h"

namespace ostrel {

// Generator parameters; only the models with a generator carry them. A row without them leaves
// whatever a generator board opened earlier put there.
struct GeneratorModel {
    double AwgClockHz;
    int32_t AwgTableLength;
    int32_t AwgMaxCode;
    uint64_t WaveformMemory[2];  // channel 0, channel 1
    int32_t RegAwgStepInt0;
    int32_t RegAwgStepFrac0;
    int32_t RegAwgStepInt1;
    int32_t RegAwgStepFrac1;
};

struct BoardModelRow {
    uint32_t DeviceId;
    int32_t ModelType;
    int32_t ReportedModel;  // what DAQ_GetDeviceModel reports for the ID (0xE001 reports 0)
    uint64_t RegisterBase;
    uint32_t MinAcquisitionPoints;
    uint32_t DMATransferPoints;
    uint32_t MaxRecordLength;
    uint16_t BytesPerPoint;
    uint16_t TrailerPoints;
    int16_t DmaInfoValue;
    uint32_t AdcMaxCode;
    uint32_t ADCNumber;
    int32_t CouplingNumber;
    int32_t TerminationNumber;
    int32_t GainNumber;
    int32_t AttenuationNumber;
    float VoltsPerCode;
    int32_t AwgChannelCount;
    const GeneratorModel *Generator;  // null: the generator parameters are left as they are
    bool CopiesBuiltInOffsets;        // the model-5 board brings its own zero offsets
};

// Every row, one per device ID the engine knows.
std::span<const BoardModelRow> BoardModelRows();

// The row of a device ID, or null for an ID the engine does not know (0xA003 among them).
const BoardModelRow *FindBoardModel(uint32_t deviceId);

// Model code reported for a device ID without opening it: 5..10, 0 for 0xE001, -1 unknown.
int32_t ReportedModelOf(uint32_t deviceId);

// Applies the row of the device ID to the engine state; an unknown ID sets ModelType -1 only.
void ApplyBoardModel(uint32_t deviceId);

// Writes the rates of the current ModelType to the start of SamplingRates and sets
// SamplingRateCount; entries after them keep what they held. ModelType -1 changes nothing.
void FillSamplingRates();

}  // namespace ostrel
