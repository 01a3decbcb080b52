// The board model table as the engine applies it when a board is opened: every device ID, the
// cells a row leaves alone, the sampling-rate table, and the model code reported without opening.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "OstrelDAQEngine.h"
#include "engine/board_model_table.h"
#include "engine/engine_state.h"
#include "support/board_scenario.h"

namespace {

using ostrel::g_engine;
using ostrel::test::UseBoards;

constexpr uint32_t kVoltsPerCode4660Bits = 0x3961042D;  // nearest float to 1/4660
constexpr uint32_t kVoltsPerCode4877Bits = 0x3957011A;  // nearest float to 1/4877

// Opens the only board of a bus holding just this device ID, checks the open succeeded.
void OpenSingleBoard(uint32_t deviceId) {
    UseBoards({deviceId});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
}

struct ModelRow {
    uint32_t deviceId;
    int32_t modelType;
    int32_t reportedModel;
    uint32_t chunkPoints;
    uint32_t maxRecordLength;
    uint16_t trailerPoints;
    int16_t dmaInfoValue;
    uint32_t adcMaxCode;
    uint32_t adcNumber;
    int32_t gainNumber;
    int32_t attenuationNumber;
    uint32_t voltsPerCodeBits;
    int32_t awgChannelCount;
    int32_t rateCount;
    float firstRate;
    float lastRate;
};

// The values each device ID must yield. 0xE001's ADC range, scale and DMA info value are the
// engine's own choice (those of model 7), the rest is fixed by the board family.
const ModelRow kModelRows[] = {
    {0xA001, 5, 5, 0xA000, 16384, 2, 1, 0x3FFF, 1, 3, 2, kVoltsPerCode4660Bits, 0, 21, 50, 0.5f},
    {0xA002, 6, 6, 0x22000, 16384, 4, 1, 0x3FFF, 2, 2, 1, kVoltsPerCode4660Bits, 2, 6, 150, 150},
    {0xA004, 7, 7, 0x22000, 16384, 8, 1, 0x0FFF, 1, 2, 1, kVoltsPerCode4660Bits, 0, 6, 500, 500},
    {0xA005, 8, 8, 0x22000, 8192, 4, 1, 0x3FFF, 4, 2, 1, kVoltsPerCode4877Bits, 0, 16, 75, 1},
    {0xA006, 9, 9, 0x22000, 16384, 8, 2, 0x3FFF, 2, 2, 1, kVoltsPerCode4660Bits, 2, 6, 250, 250},
    {0xA007, 10, 10, 0x22000, 32768, 4, 1, 0x3FFF, 1, 2, 1, kVoltsPerCode4660Bits, 0, 6, 250, 250},
    {0xE001, 7, 0, 0x22000, 16384, 8, 1, 0x0FFF, 1, 2, 1, kVoltsPerCode4660Bits, 0, 6, 500, 500},
};

TEST(BoardModels, EveryKnownDeviceIdOpensWithItsParameters) {
    for (const ModelRow &row : kModelRows) {
        SCOPED_TRACE(testing::Message() << "device ID 0x" << std::hex << row.deviceId);
        OpenSingleBoard(row.deviceId);
        const ostrel::BoardModelState &model = g_engine.model;
        EXPECT_EQ(model.ModelType, row.modelType);
        EXPECT_EQ(model.RegisterBase, 0x8000000u);
        EXPECT_EQ(model.MinAcquisitionPoints, 0x80000u);
        EXPECT_EQ(model.DMATransferPoints, row.chunkPoints);
        EXPECT_EQ(model.MaxRecordLength, row.maxRecordLength);
        EXPECT_EQ(model.BytesPerPoint, 2u);
        EXPECT_EQ(model.TrailerPoints, row.trailerPoints);
        EXPECT_EQ(model.DmaInfoValue, row.dmaInfoValue);
        EXPECT_EQ(model.AdcMaxCode, row.adcMaxCode);
        EXPECT_EQ(model.ADCNumber, row.adcNumber);
        EXPECT_EQ(model.CouplingNumber, 2);
        EXPECT_EQ(model.TerminationNumber, 2);
        EXPECT_EQ(model.GainNumber, row.gainNumber);
        EXPECT_EQ(model.AttenuationNumber, row.attenuationNumber);
        EXPECT_EQ(std::bit_cast<uint32_t>(model.VoltsPerCode), row.voltsPerCodeBits);
        EXPECT_EQ(model.AwgChannelCount, row.awgChannelCount);
        EXPECT_EQ(model.SamplingRateCount, row.rateCount);
        EXPECT_EQ(model.SamplingRates[0], row.firstRate);
        EXPECT_EQ(model.SamplingRates[row.rateCount - 1], row.lastRate);

        int32_t reported = -99;
        EXPECT_EQ(DAQ_GetDeviceModel(0, &reported), 0);
        EXPECT_EQ(reported, row.reportedModel);
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

TEST(BoardModels, FourLaneModelHasSixteenRatesFrom75Down) {
    OpenSingleBoard(0xA005);
    EXPECT_EQ(g_engine.model.ModelType, 8);
    EXPECT_EQ(g_engine.model.ADCNumber, 4u);
    EXPECT_EQ(g_engine.model.MaxRecordLength, 8192u);
    EXPECT_FLOAT_EQ(g_engine.model.VoltsPerCode, 1.0f / 4877.0f);
    const std::vector<float> expected = {75, 50, 40, 37.5f, 25, 20, 18.75f, 16,
                                         12.5f, 10, 8, 5, 4, 2.5f, 2, 1};
    ASSERT_EQ(g_engine.model.SamplingRateCount, 16);
    EXPECT_EQ(std::vector<float>(g_engine.model.SamplingRates, g_engine.model.SamplingRates + 16),
              expected);
}

TEST(BoardModels, SingleLaneModelHasTwentyOneRatesFrom50Down) {
    OpenSingleBoard(0xA001);
    const std::vector<float> expected = {50, 40, 30, 25, 24, 20, 15, 12.5f, 12, 10, 8,
                                         7.5f, 6, 5, 4, 3, 2.5f, 2, 1.5f, 1, 0.5f};
    ASSERT_EQ(g_engine.model.SamplingRateCount, 21);
    EXPECT_EQ(std::vector<float>(g_engine.model.SamplingRates, g_engine.model.SamplingRates + 21),
              expected);
}

TEST(BoardModels, UnknownDeviceIdOpensWithoutModelAndChangesNothingElse) {
    OpenSingleBoard(0xA003);
    const ostrel::BoardModelState &model = g_engine.model;
    EXPECT_EQ(model.ModelType, -1);
    // A fresh process: every other parameter is still zero, the rate table untouched.
    EXPECT_EQ(model.RegisterBase, 0u);
    EXPECT_EQ(model.DMATransferPoints, 0u);
    EXPECT_EQ(model.MaxRecordLength, 0u);
    EXPECT_EQ(model.AdcMaxCode, 0u);
    EXPECT_EQ(model.ADCNumber, 0u);
    EXPECT_EQ(model.VoltsPerCode, 0.0f);
    EXPECT_EQ(model.SamplingRateCount, 0);
    EXPECT_EQ(model.SamplingRates[0], 0.0f);
    int32_t reported = -99;
    EXPECT_EQ(DAQ_GetDeviceModel(0, &reported), 0);
    EXPECT_EQ(reported, -1);
}

TEST(BoardModels, UnknownDeviceIdAfterAKnownBoardKeepsItsParametersButNoRates) {
    UseBoards({0xA005, 0xA003});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    ASSERT_EQ(DAQ_OpenDevice(1), 0);
    EXPECT_EQ(g_engine.model.ModelType, -1);
    EXPECT_EQ(g_engine.model.ADCNumber, 4u);
    EXPECT_EQ(g_engine.model.MaxRecordLength, 8192u);
    EXPECT_EQ(g_engine.model.SamplingRateCount, 0) << "no rate of the earlier board survives";
    EXPECT_EQ(g_engine.model.SamplingRates[0], 0.0f);
}

TEST(BoardModels, E001ReportsModel0ButOpensAsModel7WithAWorkingScale) {
    UseBoards({0xE001});
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    ASSERT_EQ(count, 1);
    int32_t reported = -99;
    EXPECT_EQ(DAQ_GetDeviceModel(0, &reported), 0);
    EXPECT_EQ(reported, 0);

    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    EXPECT_EQ(g_engine.model.ModelType, 7);
    EXPECT_EQ(g_engine.model.SamplingRateCount, 6);
    for (int code = 0; code < 6; ++code) EXPECT_EQ(g_engine.model.SamplingRates[code], 500.0f);
    // Non-zero even in a fresh process: the single-lane offset and the volts scale need them.
    EXPECT_NE(g_engine.model.AdcMaxCode, 0u);
    EXPECT_GT(g_engine.model.VoltsPerCode, 0.0f);
    EXPECT_NE(g_engine.model.DmaInfoValue, 0);
}

TEST(BoardModels, SingleLaneOffsetIsHalfTheAdcRangeRightAfterTheModelIsApplied) {
    // A revision mismatch stops the open right after the model and the single-lane offset, so
    // the offset is seen before any later step re-chooses it.
    const struct {
        uint32_t deviceId;
        int16_t offset;
    } rows[] = {{0xA006, 8191}, {0xA004, 2047}, {0xE001, 2047}, {0xA001, 8191}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "device ID 0x" << std::hex << row.deviceId);
        UseBoards({row.deviceId});
        ASSERT_EQ(SIM_SetConfigWord(0, 0x11800008), 0);
        EXPECT_EQ(DAQ_OpenDevice(0), -2);
        EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset], row.offset);
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

TEST(BoardModels, RatesPastTheOpenModelsTableReadZeroAfterAnyEarlierBoard) {
    // Every pair of boards opened one after the other: the second board's table ends at its own
    // count, whatever the first left behind.
    const uint32_t ids[] = {0xA001, 0xA002, 0xA003, 0xA004, 0xA005, 0xA006, 0xE001};
    for (const uint32_t first : ids) {
        for (const uint32_t second : ids) {
            SCOPED_TRACE(testing::Message() << std::hex << first << " then " << second);
            OpenSingleBoard(first);
            ASSERT_EQ(DAQ_CloseDevice(), 0);
            OpenSingleBoard(second);
            const int32_t count = g_engine.model.SamplingRateCount;
            for (int32_t code = 0; code <= 20; ++code) {
                float rate = -1.0f;
                int32_t reported = 0;
                DAQ_CheckSamplingRates(code, &rate, &reported);
                if (code >= count) {
                    EXPECT_EQ(rate, 0.0f) << "code " << code;
                } else {
                    EXPECT_GT(rate, 0.0f) << "code " << code;
                }
            }
            ASSERT_EQ(DAQ_CloseDevice(), 0);
        }
    }
}

struct GeneratorView {
    uint64_t memory0, memory1;
    int32_t stepInt0, stepFrac0, stepInt1, stepFrac1;
    bool operator==(const GeneratorView &) const = default;
};

GeneratorView CurrentGenerator() {
    const ostrel::BoardModelState &model = g_engine.model;
    return {model.WaveformMemory[0], model.WaveformMemory[1], model.RegAwgStepInt0,
            model.RegAwgStepFrac0,   model.RegAwgStepInt1,    model.RegAwgStepFrac1};
}

constexpr GeneratorView kModel6Generator = {0x8080000, 0x8084000, -2030, -2028, -2026, -2024};
constexpr GeneratorView kModel9Generator = {0x8084000, 0x8080000, -2026, -2024, -2030, -2028};

TEST(BoardModels, TwoChannelModelAfterTheOtherSwapsTheGeneratorBack) {
    OpenSingleBoard(0xA006);
    EXPECT_TRUE(CurrentGenerator() == kModel9Generator);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    OpenSingleBoard(0xA002);
    EXPECT_EQ(g_engine.model.ModelType, 6);
    EXPECT_TRUE(CurrentGenerator() == kModel6Generator);
    EXPECT_EQ(g_engine.model.AwgChannelCount, 2);
    EXPECT_EQ(g_engine.model.AwgClockHz, 300000000.0);
    EXPECT_EQ(g_engine.model.AwgTableLength, 8192);
    EXPECT_EQ(g_engine.model.AwgMaxCode, 0x3FFF);
}

TEST(BoardModels, ModelWithoutGeneratorKeepsTheEarlierGeneratorParameters) {
    OpenSingleBoard(0xA006);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    OpenSingleBoard(0xA001);
    EXPECT_EQ(g_engine.model.ModelType, 5);
    EXPECT_EQ(g_engine.model.AwgChannelCount, 0);
    EXPECT_TRUE(CurrentGenerator() == kModel9Generator);
    EXPECT_EQ(g_engine.model.AwgClockHz, 300000000.0);
    EXPECT_EQ(g_engine.model.AwgTableLength, 8192);
}

TEST(BoardModels, ModelWithoutGeneratorInAFreshProcessLeavesItZero) {
    OpenSingleBoard(0xA007);
    EXPECT_TRUE(CurrentGenerator() == (GeneratorView{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(g_engine.model.AwgClockHz, 0.0);
}

TEST(BoardModels, SingleLaneModelBringsItsBuiltInOffsets) {
    const int16_t expected[24] = {134, 134, 134, 134, 314,  314,  313,  313,
                                  1014, 1016, 1012, 1013, 128, 128, 128, 128,
                                  301, 301, 300, 300, 1006, 1003, 1000, 1000};
    int16_t *table = g_engine.calibration.OffsetTable;
    for (int entry = 0; entry < ostrel::kOffsetTableEntries; ++entry) table[entry] = -7;

    ostrel::ApplyBoardModel(0xA002);  // other models leave the table alone
    EXPECT_EQ(table[0], -7);

    ostrel::ApplyBoardModel(0xA001);
    for (int entry = 0; entry < 24; ++entry) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(table[entry], expected[entry]);
    }
    EXPECT_EQ(table[24], -7);
    EXPECT_EQ(table[127], -7);
}

TEST(BoardModels, FillSamplingRatesWithoutModelLeavesNoRate) {
    g_engine.model.ModelType = -1;
    g_engine.model.SamplingRates[0] = 42.0f;
    g_engine.model.SamplingRateCount = 3;
    ostrel::FillSamplingRates();
    EXPECT_EQ(g_engine.model.SamplingRates[0], 0.0f);
    EXPECT_EQ(g_engine.model.SamplingRateCount, 0);
}

TEST(BoardModels, ReportedModelOfEveryBoardOnTheBus) {
    const struct {
        uint32_t deviceId;
        int32_t model;
    } rows[] = {{0xA001, 5}, {0xA002, 6}, {0xA003, -1}, {0xA004, 7}, {0xA005, 8}, {0xA006, 9},
                {0xA007, 10}, {0xE001, 0}, {0xA000, -1}, {0xA008, -1}, {0xE002, -1}};
    std::vector<uint32_t> ids;
    for (const auto &row : rows) ids.push_back(row.deviceId);
    UseBoards(ids);
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), 0);
    ASSERT_EQ(count, 11);
    for (int32_t index = 0; index < count; ++index) {
        SCOPED_TRACE(testing::Message() << "board " << index << ", ID 0x" << std::hex
                                        << rows[index].deviceId);
        int32_t model = -99;
        g_engine.discovery.LastStatus = 77;
        EXPECT_EQ(DAQ_GetDeviceModel(index, &model), 0);
        EXPECT_EQ(model, rows[index].model);
        EXPECT_EQ(g_engine.discovery.LastStatus, 0);  // the model query resets the status
    }
}

}  // namespace
