#include "engine/board_model_table.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "engine/engine_state.h"
#include "engine/register_map.h"

namespace ostrel {
namespace {

constexpr uint64_t kBase = 0x8000000;      // RegisterBase: the register window sits below it
constexpr uint32_t kMinPts = 0x80000;      // MinAcquisitionPoints
constexpr float kVpc4660 = 1.0f / 4660.0f;  // VoltsPerCode, nearest float: bits 0x3961042D
constexpr float kVpc4877 = 1.0f / 4877.0f;  // VoltsPerCode, nearest float: bits 0x3957011A

// Models 6 and 9 have the same generator with the channels' memories and phase-step registers
// swapped.
// clang-format off
//                                          Clock Hz     Points Max code Memory ch. 0, ch. 1      StepInt0 StepFrac0 StepInt1 StepFrac1
constexpr GeneratorModel kGeneratorModel6 = {300000000.0, 8192,  0x3FFF,  {0x8080000, 0x8084000}, -2030,   -2028,    -2026,   -2024};
constexpr GeneratorModel kGeneratorModel9 = {300000000.0, 8192,  0x3FFF,  {0x8084000, 0x8080000}, -2026,   -2024,    -2030,   -2028};
// clang-format on

// The 0xE001 board runs as model 7 (same trailer, rate table and register map) but comes without
// an ADC range, vertical scale or DMA info value of its own; left unset they would keep whatever
// the board opened before left there, and in a fresh process 0, which makes the single-lane offset
// 0 and every volts figure 0. It takes model 7's values instead: AdcMaxCode 0x0FFF, 1/4660 V per
// code, and DmaInfoValue 1 like every single-lane model.
// clang-format off
constexpr BoardModelRow kBoardModelTable[] = {
//   ID      Model Rep. RegBase MinPts  Chunk    MaxLen Bpp Trail Info AdcMax  ADCs Cpl Trm Gain Att VoltsPerCode AWG Generator           BuiltIn
    {0xA001,  5,    5,  kBase,  kMinPts, 0xA000,  16384, 2,  2,    1,   0x3FFF, 1,   2,  2,  3,   2,  kVpc4660,    0,  nullptr,            true },
    {0xA002,  6,    6,  kBase,  kMinPts, 0x22000, 16384, 2,  4,    1,   0x3FFF, 2,   2,  2,  2,   1,  kVpc4660,    2,  &kGeneratorModel6,  false},
    {0xA004,  7,    7,  kBase,  kMinPts, 0x22000, 16384, 2,  8,    1,   0x0FFF, 1,   2,  2,  2,   1,  kVpc4660,    0,  nullptr,            false},
    {0xA005,  8,    8,  kBase,  kMinPts, 0x22000, 8192,  2,  4,    1,   0x3FFF, 4,   2,  2,  2,   1,  kVpc4877,    0,  nullptr,            false},
    {0xA006,  9,    9,  kBase,  kMinPts, 0x22000, 16384, 2,  8,    2,   0x3FFF, 2,   2,  2,  2,   1,  kVpc4660,    2,  &kGeneratorModel9,  false},
    {0xA007,  10,   10, kBase,  kMinPts, 0x22000, 32768, 2,  4,    1,   0x3FFF, 1,   2,  2,  2,   1,  kVpc4660,    0,  nullptr,            false},
    {0xE001,  7,    0,  kBase,  kMinPts, 0x22000, 16384, 2,  8,    1,   0x0FFF, 1,   2,  2,  2,   1,  kVpc4660,    0,  nullptr,            false},
};
// clang-format on

constexpr bool DeviceIdsUnique() {
    for (std::size_t a = 0; a < std::size(kBoardModelTable); ++a) {
        for (std::size_t b = a + 1; b < std::size(kBoardModelTable); ++b) {
            if (kBoardModelTable[a].DeviceId == kBoardModelTable[b].DeviceId) return false;
        }
    }
    return true;
}
static_assert(DeviceIdsUnique(), "one row per device ID");

struct SamplingRateRow {
    int32_t ModelType;
    int32_t Count;
    float Rates[kSamplingRateSlots];  // MS/s by divider code
};

constexpr SamplingRateRow kSamplingRateTable[] = {
    {5, 21, {50, 40, 30, 25, 24, 20, 15, 12.5f, 12, 10, 8, 7.5f, 6, 5, 4, 3, 2.5f, 2, 1.5f, 1,
             0.5f}},
    {8, 16, {75, 50, 40, 37.5f, 25, 20, 18.75f, 16, 12.5f, 10, 8, 5, 4, 2.5f, 2, 1}},
    {6, 6, {150, 150, 150, 150, 150, 150}},
    {9, 6, {250, 250, 250, 250, 250, 250}},
    {10, 6, {250, 250, 250, 250, 250, 250}},
    {7, 6, {500, 500, 500, 500, 500, 500}},
};

constexpr bool RateCountsFit() {
    for (const SamplingRateRow &row : kSamplingRateTable) {
        if (row.Count < 0 || row.Count > kSamplingRateSlots) return false;
    }
    return true;
}
static_assert(RateCountsFit(), "a rate row holds more rates than SamplingRates has room for");
static_assert(std::size(kSamplingRateTable) == kModelCount, "one rate row per model 5..10");

// Every model has exactly one rate row, and every model a board row can name has rates.
constexpr bool EveryModelHasOneRateRow() {
    for (int32_t model = kFirstModel; model <= kLastModel; ++model) {
        int rows = 0;
        for (const SamplingRateRow &row : kSamplingRateTable) rows += row.ModelType == model ? 1 : 0;
        if (rows != 1) return false;
    }
    return true;
}
static_assert(EveryModelHasOneRateRow(), "a model has no rate row, or two");

// Divider code 0 is the fastest rate; a larger code never samples faster, and every code the
// table counts has a rate.
constexpr bool RatesPositiveAndNonIncreasing() {
    for (const SamplingRateRow &row : kSamplingRateTable) {
        if (row.Count < 1) return false;
        for (int32_t code = 0; code < row.Count; ++code) {
            if (!(row.Rates[code] > 0.0f)) return false;
            if (code > 0 && row.Rates[code] > row.Rates[code - 1]) return false;
        }
    }
    return true;
}
static_assert(RatesPositiveAndNonIncreasing(), "a rate row is not descending or has a gap");

// Every board row names a model 5..10, and every model has a board row; a row has generator
// parameters exactly when it has generator channels.
constexpr bool BoardRowsConsistent() {
    for (const BoardModelRow &row : kBoardModelTable) {
        if (row.ModelType < kFirstModel || row.ModelType > kLastModel) return false;
        if ((row.AwgChannelCount > 0) != (row.Generator != nullptr)) return false;
    }
    for (int32_t model = kFirstModel; model <= kLastModel; ++model) {
        bool found = false;
        for (const BoardModelRow &row : kBoardModelTable) found = found || row.ModelType == model;
        if (!found) return false;
    }
    return true;
}
static_assert(BoardRowsConsistent(), "a board row names no model, or a model has no board row");

}  // namespace

std::span<const BoardModelRow> BoardModelRows() { return kBoardModelTable; }

const BoardModelRow *FindBoardModel(uint32_t deviceId) {
    const auto row =
        std::find_if(std::begin(kBoardModelTable), std::end(kBoardModelTable),
                     [deviceId](const BoardModelRow &entry) { return entry.DeviceId == deviceId; });
    return row == std::end(kBoardModelTable) ? nullptr : &*row;
}

int32_t ReportedModelOf(uint32_t deviceId) {
    const BoardModelRow *row = FindBoardModel(deviceId);
    return row != nullptr ? row->ReportedModel : -1;
}

void ApplyBoardModel(uint32_t deviceId) {
    BoardModelState &model = g_engine.model;
    const BoardModelRow *row = FindBoardModel(deviceId);
    if (row == nullptr) {
        model.ModelType = -1;
        return;
    }
    model.ModelType = row->ModelType;
    model.RegisterBase = row->RegisterBase;
    model.MinAcquisitionPoints = row->MinAcquisitionPoints;
    model.DMATransferPoints = row->DMATransferPoints;
    model.MaxRecordLength = row->MaxRecordLength;
    model.BytesPerPoint = row->BytesPerPoint;
    model.TrailerPoints = row->TrailerPoints;
    model.DmaInfoValue = row->DmaInfoValue;
    model.AdcMaxCode = row->AdcMaxCode;
    model.ADCNumber = row->ADCNumber;
    model.CouplingNumber = row->CouplingNumber;
    model.TerminationNumber = row->TerminationNumber;
    model.GainNumber = row->GainNumber;
    model.AttenuationNumber = row->AttenuationNumber;
    model.VoltsPerCode = row->VoltsPerCode;
    model.AwgChannelCount = row->AwgChannelCount;
    if (const GeneratorModel *generator = row->Generator) {
        model.AwgClockHz = generator->AwgClockHz;
        model.AwgTableLength = generator->AwgTableLength;
        model.AwgMaxCode = generator->AwgMaxCode;
        model.WaveformMemory[0] = generator->WaveformMemory[0];
        model.WaveformMemory[1] = generator->WaveformMemory[1];
        model.RegAwgStepInt0 = generator->RegAwgStepInt0;
        model.RegAwgStepFrac0 = generator->RegAwgStepFrac0;
        model.RegAwgStepInt1 = generator->RegAwgStepInt1;
        model.RegAwgStepFrac1 = generator->RegAwgStepFrac1;
    }
    if (row->CopiesBuiltInOffsets) {
        static_assert(std::size(BuiltInOffsets) <= kOffsetTableEntries);
        std::copy(std::begin(BuiltInOffsets), std::end(BuiltInOffsets),
                  g_engine.calibration.OffsetTable);
    }
}

void FillSamplingRates() {
    BoardModelState &model = g_engine.model;
    // No rate of an earlier board may survive past this board's own table.
    std::fill(std::begin(model.SamplingRates), std::end(model.SamplingRates), 0.0f);
    model.SamplingRateCount = 0;
    for (const SamplingRateRow &row : kSamplingRateTable) {
        if (row.ModelType != model.ModelType) continue;
        std::copy_n(row.Rates, row.Count, model.SamplingRates);
        model.SamplingRateCount = row.Count;
        return;
    }
}

}  // namespace ostrel
