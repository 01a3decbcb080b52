// The board model tables: invariants every row of every per-model table keeps (each model in each
// table, distinct registers, descending rates, codes within the board's range), the row applied at
// open, the cells a row leaves alone, worked rate tables, and the model reported without opening.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "OstrelDAQEngine.h"
#include "engine/board_model_table.h"
#include "engine/engine_state.h"
#include "engine/register_map.h"
#include "frontend/front_end_coding.h"
#include "frontend/record_length_coding.h"
#include "support/board_scenario.h"

namespace {

using ostrel::g_engine;
using ostrel::test::UseBoards;

// Opens the only board of a bus holding just this device ID, checks the open succeeded.
void OpenSingleBoard(uint32_t deviceId) {
    UseBoards({deviceId});
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
}

using ostrel::BoardModelRow;
using ostrel::FrontEndSetting;
using ostrel::Reg;

constexpr int32_t kRoleCount = static_cast<int32_t>(Reg::Count);

// Every board row the engine knows, with the device ID in the failure message.
std::string Named(const BoardModelRow &row) {
    std::ostringstream name;
    name << "device ID 0x" << std::hex << row.DeviceId << std::dec << ", model " << row.ModelType;
    return name.str();
}

// The rates FillSamplingRates gives a model, after every slot was made non-zero.
std::vector<float> RatesOfModel(int32_t model, int32_t *count) {
    for (float &rate : g_engine.model.SamplingRates) rate = -1.0f;
    g_engine.model.ModelType = model;
    ostrel::FillSamplingRates();
    *count = g_engine.model.SamplingRateCount;
    return {std::begin(g_engine.model.SamplingRates), std::end(g_engine.model.SamplingRates)};
}

// Opening each device ID applies exactly its own row, every field of it (the table's values are
// the table's business; what matters here is that none is dropped or mixed up on the way).
TEST(BoardModels, EveryDeviceIdOpensWithItsOwnRow) {
    for (const BoardModelRow &row : ostrel::BoardModelRows()) {
        SCOPED_TRACE(Named(row));
        OpenSingleBoard(row.DeviceId);
        const ostrel::BoardModelState &model = g_engine.model;
        EXPECT_EQ(model.ModelType, row.ModelType);
        EXPECT_EQ(model.RegisterBase, row.RegisterBase);
        EXPECT_EQ(model.MinAcquisitionPoints, row.MinAcquisitionPoints);
        EXPECT_EQ(model.DMATransferPoints, row.DMATransferPoints);
        EXPECT_EQ(model.MaxRecordLength, row.MaxRecordLength);
        EXPECT_EQ(model.BytesPerPoint, row.BytesPerPoint);
        EXPECT_EQ(model.TrailerPoints, row.TrailerPoints);
        EXPECT_EQ(model.DmaInfoValue, row.DmaInfoValue);
        EXPECT_EQ(model.AdcMaxCode, row.AdcMaxCode);
        EXPECT_EQ(model.ADCNumber, row.ADCNumber);
        EXPECT_EQ(model.CouplingNumber, row.CouplingNumber);
        EXPECT_EQ(model.TerminationNumber, row.TerminationNumber);
        EXPECT_EQ(model.GainNumber, row.GainNumber);
        EXPECT_EQ(model.AttenuationNumber, row.AttenuationNumber);
        EXPECT_EQ(std::bit_cast<uint32_t>(model.VoltsPerCode),
                  std::bit_cast<uint32_t>(row.VoltsPerCode));
        EXPECT_EQ(model.AwgChannelCount, row.AwgChannelCount);
        if (row.Generator != nullptr) {
            EXPECT_EQ(model.AwgClockHz, row.Generator->AwgClockHz);
            EXPECT_EQ(model.AwgTableLength, row.Generator->AwgTableLength);
            EXPECT_EQ(model.AwgMaxCode, row.Generator->AwgMaxCode);
            EXPECT_EQ(model.WaveformMemory[0], row.Generator->WaveformMemory[0]);
            EXPECT_EQ(model.WaveformMemory[1], row.Generator->WaveformMemory[1]);
            EXPECT_EQ(model.RegAwgStepInt0, row.Generator->RegAwgStepInt0);
            EXPECT_EQ(model.RegAwgStepFrac0, row.Generator->RegAwgStepFrac0);
            EXPECT_EQ(model.RegAwgStepInt1, row.Generator->RegAwgStepInt1);
            EXPECT_EQ(model.RegAwgStepFrac1, row.Generator->RegAwgStepFrac1);
        }
        int32_t reported = -99;
        EXPECT_EQ(DAQ_GetDeviceModel(0, &reported), 0);
        EXPECT_EQ(reported, row.ReportedModel);
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

// Every model 5..10 has a row in every per-model table, and the tables agree with each other: a
// front-end setting has a coding exactly where the model has its register, and a setting the
// model offers more than one value of can reach the board.
TEST(BoardModels, EveryModelIsInEveryTable) {
    for (int32_t model = ostrel::kFirstModel; model <= ostrel::kLastModel; ++model) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        const auto rows = ostrel::BoardModelRows();
        const auto row = std::find_if(rows.begin(), rows.end(), [model](const auto &entry) {
            return entry.ModelType == model && entry.ReportedModel == model;
        });
        ASSERT_NE(row, rows.end()) << "no board row reports the model";

        int32_t rateCount = 0;
        RatesOfModel(model, &rateCount);
        EXPECT_GE(rateCount, 1) << "no sampling rates";
        EXPECT_TRUE(ostrel::RecordLengthCodingOf(model).has_value()) << "no record-length coding";

        for (const Reg role : {Reg::RecordLength, Reg::RecordsInMemory, Reg::RecordNumber,
                               Reg::ClockDivider, Reg::Trigger, Reg::Gain, Reg::Coupling,
                               Reg::Termination, Reg::AwgOutputMask}) {
            EXPECT_NE(ostrel::RegisterIndexOf(role, model), ostrel::kNoRegister)
                << "role " << static_cast<int>(role);
        }
        const struct {
            FrontEndSetting setting;
            int32_t count;
        } settings[] = {{FrontEndSetting::Gain, row->GainNumber},
                        {FrontEndSetting::Attenuation, row->AttenuationNumber},
                        {FrontEndSetting::Coupling, row->CouplingNumber},
                        {FrontEndSetting::Termination, row->TerminationNumber}};
        for (const auto &entry : settings) {
            SCOPED_TRACE(testing::Message() << "setting " << static_cast<int>(entry.setting));
            const bool coded = ostrel::FrontEndCodingOf(entry.setting, model).layout !=
                               ostrel::RegisterLayout::None;
            const bool hasRegister =
                ostrel::RegisterIndexOf(ostrel::RegisterOfSetting(entry.setting), model) !=
                ostrel::kNoRegister;
            EXPECT_EQ(coded, hasRegister);
            EXPECT_GE(entry.count, 1);
            if (entry.count > 1) {
                EXPECT_TRUE(coded) << entry.count << " values, no register";
            }
        }
        const bool channelCoded =
            ostrel::FrontEndCodingOf(FrontEndSetting::InputChannel, model).layout !=
            ostrel::RegisterLayout::None;
        EXPECT_EQ(channelCoded,
                  ostrel::RegisterIndexOf(Reg::InputChannel, model) != ostrel::kNoRegister);
    }
    // Outside 5..10 no table has a row.
    for (const int32_t model : {-1, 0, 4, 11, 1000}) {
        EXPECT_FALSE(ostrel::RecordLengthCodingOf(model).has_value()) << model;
        EXPECT_EQ(ostrel::RegisterIndexOf(Reg::Gain, model), ostrel::kNoRegister) << model;
        EXPECT_EQ(ostrel::FrontEndCodingOf(FrontEndSetting::Gain, model).layout,
                  ostrel::RegisterLayout::None);
    }
}

// Within one model no two roles, and no role and generator phase-step register, share a
// register; every index is even and inside the board's register window.
TEST(BoardModels, RegisterIndicesAreDistinctPerModelAndInsideTheWindow) {
    for (const BoardModelRow &row : ostrel::BoardModelRows()) {
        SCOPED_TRACE(Named(row));
        std::map<int32_t, std::string> used;
        auto claim = [&used](int32_t index, const std::string &name) {
            EXPECT_EQ(index % 2, 0) << name << " at odd index " << index;
            EXPECT_GE(index, -2048) << name;
            EXPECT_LE(index, -1004) << name;
            const auto [place, fresh] = used.emplace(index, name);
            EXPECT_TRUE(fresh) << name << " and " << place->second << " share register " << index;
        };
        for (int32_t role = 0; role < kRoleCount; ++role) {
            const int32_t index = ostrel::RegisterIndexOf(static_cast<Reg>(role), row.ModelType);
            if (index != ostrel::kNoRegister) claim(index, "role " + std::to_string(role));
        }
        if (const ostrel::GeneratorModel *generator = row.Generator) {
            claim(generator->RegAwgStepInt0, "phase step integer 0");
            claim(generator->RegAwgStepFrac0, "phase step fraction 0");
            claim(generator->RegAwgStepInt1, "phase step integer 1");
            claim(generator->RegAwgStepFrac1, "phase step fraction 1");
            EXPECT_NE(generator->WaveformMemory[0], generator->WaveformMemory[1]);
        }
    }
}

// Divider code 0 is each model's fastest rate and no larger code samples faster; slots past the
// model's count read 0.
TEST(BoardModels, SamplingRatesDescendAndEndAtTheirCount) {
    for (int32_t model = ostrel::kFirstModel; model <= ostrel::kLastModel; ++model) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        int32_t count = 0;
        const std::vector<float> rates = RatesOfModel(model, &count);
        ASSERT_GE(count, 1);
        ASSERT_LE(count, ostrel::kSamplingRateSlots);
        for (int32_t code = 0; code < ostrel::kSamplingRateSlots; ++code) {
            if (code >= count) {
                EXPECT_EQ(rates[code], 0.0f) << "code " << code;
                continue;
            }
            EXPECT_GT(rates[code], 0.0f) << "code " << code;
            if (code > 0) {
                EXPECT_LE(rates[code], rates[code - 1]) << "code " << code;
            }
        }
    }
}

// The numbers of each row stay within what the board and the engine's buffers can hold.
TEST(BoardModels, EveryRowFitsTheBoardAndTheBuffers) {
    for (const BoardModelRow &row : ostrel::BoardModelRows()) {
        SCOPED_TRACE(Named(row));
        EXPECT_TRUE(row.ADCNumber == 1 || row.ADCNumber == 2 || row.ADCNumber == 4);
        EXPECT_TRUE(std::has_single_bit(row.AdcMaxCode + 1u)) << "ADC range is not 2^n codes";
        EXPECT_LE(row.AdcMaxCode, 0x3FFFu) << "more than 14 bits";
        EXPECT_GT(row.VoltsPerCode, 0.0f);
        EXPECT_GE(row.TrailerPoints, 2u) << "the 32-bit record tag needs two points";
        EXPECT_TRUE(row.ReportedModel == row.ModelType || row.ReportedModel == 0);
        // Every combination of lane and setting has its entry in the offset table.
        const int64_t combinations = int64_t{row.ADCNumber} * row.CouplingNumber *
                                     row.TerminationNumber * row.GainNumber *
                                     row.AttenuationNumber;
        EXPECT_GE(combinations, 1);
        EXPECT_LE(combinations, ostrel::kOffsetTableEntries);
        if (row.CopiesBuiltInOffsets) {
            EXPECT_EQ(static_cast<int64_t>(std::size(ostrel::BuiltInOffsets)), combinations);
        }
        // The 16 chunks fit the DMA buffer, and a calibration record (the longest) fits a chunk.
        EXPECT_LE(uint64_t{row.DMATransferPoints} * row.BytesPerPoint * ostrel::kDmaChunks,
                  uint64_t{ostrel::kDmaBufferBytes});
        EXPECT_LE(uint64_t{row.MaxRecordLength} * row.ADCNumber + row.TrailerPoints,
                  uint64_t{row.DMATransferPoints});
        // The longest record is one the board records exactly.
        const auto coding = ostrel::RecordLengthCodingOf(row.ModelType);
        ASSERT_TRUE(coding.has_value());
        EXPECT_TRUE(ostrel::RecordLengthOnStep(*coding, row.MaxRecordLength));
        if (const ostrel::GeneratorModel *generator = row.Generator) {
            EXPECT_LE(row.AwgChannelCount, 2) << "two waveform memories";
            EXPECT_LE(generator->AwgMaxCode, 0x3FFF);
            EXPECT_GT(generator->AwgTableLength, 0);
            EXPECT_GT(generator->AwgClockHz, 0.0);
        }
    }
}

// Every value a setting offers reaches the board as a code inside 16 bits (one bit for a lane
// bit) and reads back as the same value, on every model that has the register.
TEST(BoardModels, FrontEndCodesFitTheirRegisterAndReadBack) {
    for (const BoardModelRow &row : ostrel::BoardModelRows()) {
        SCOPED_TRACE(Named(row));
        const struct {
            FrontEndSetting setting;
            int32_t count;
        } settings[] = {{FrontEndSetting::Gain, row.GainNumber},
                        {FrontEndSetting::Attenuation, row.AttenuationNumber},
                        {FrontEndSetting::Coupling, row.CouplingNumber},
                        {FrontEndSetting::Termination, row.TerminationNumber},
                        {FrontEndSetting::InputChannel, 4}};
        for (const auto &entry : settings) {
            const ostrel::FrontEndCoding &coding =
                ostrel::FrontEndCodingOf(entry.setting, row.ModelType);
            if (coding.layout == ostrel::RegisterLayout::None) continue;
            for (int32_t value = 0; value < entry.count; ++value) {
                SCOPED_TRACE(testing::Message() << "setting " << static_cast<int>(entry.setting)
                                                << ", value " << value);
                const uint32_t code = coding.encode(value);
                uint32_t readBack = code;
                if (coding.layout == ostrel::RegisterLayout::LaneBit) {
                    EXPECT_LE(code, 1u);
                } else {
                    EXPECT_LE(code, 0xFFFFu);
                }
                if (coding.layout == ostrel::RegisterLayout::WholeWriteLaneBitRead) {
                    readBack = ostrel::LaneBitOf(code, 0);
                }
                EXPECT_EQ(coding.decode(readBack), std::optional<int32_t>(value));
            }
        }
    }
}

// Worked values: the rate tables of the two models with real dividers, and the four-lane model's
// particular length limit and scale.
TEST(BoardModels, WorkedRateTablesOfTheModelsWithDividers) {
    const struct {
        uint32_t deviceId;
        std::vector<float> rates;
    } cases[] = {
        {0xA005, {75, 50, 40, 37.5f, 25, 20, 18.75f, 16, 12.5f, 10, 8, 5, 4, 2.5f, 2, 1}},
        {0xA001, {50, 40, 30, 25, 24, 20, 15, 12.5f, 12, 10, 8, 7.5f, 6, 5, 4, 3, 2.5f, 2, 1.5f, 1,
                  0.5f}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "device ID 0x" << std::hex << c.deviceId);
        OpenSingleBoard(c.deviceId);
        const auto count = static_cast<int32_t>(c.rates.size());
        ASSERT_EQ(g_engine.model.SamplingRateCount, count);
        EXPECT_EQ(std::vector<float>(g_engine.model.SamplingRates,
                                     g_engine.model.SamplingRates + count),
                  c.rates);
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
    OpenSingleBoard(0xA005);
    EXPECT_EQ(g_engine.model.ModelType, 8);
    EXPECT_EQ(g_engine.model.ADCNumber, 4u);
    EXPECT_EQ(g_engine.model.MaxRecordLength, 8192u);
    EXPECT_FLOAT_EQ(g_engine.model.VoltsPerCode, 1.0f / 4877.0f);
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
