// Offset table index, the choice of the offsets in force, the initial inputs of the open, and the
// card-data file across a close and a reopen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <set>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "calibration/offset_table.h"
#include "engine/engine_state.h"
#include "support/open_model_board.h"

namespace {

using ostrel::g_engine;
using ostrel_test::kModelBoards;
using ostrel_test::OpenModel;

// Setting counts per model as the board documentation lists them.
struct ModelCounts {
    int32_t model;
    uint32_t lanes;
    int32_t couplings, terminations, gains, attenuations;
    int32_t span;  // entries the calibration fills
};
constexpr ModelCounts kCounts[] = {{5, 1, 2, 2, 3, 2, 24}, {6, 2, 2, 2, 2, 1, 16},
                                   {7, 1, 2, 2, 2, 1, 8},  {8, 4, 2, 2, 2, 1, 32},
                                   {9, 2, 2, 2, 2, 1, 16}, {10, 1, 2, 2, 2, 1, 8}};

void UseCounts(const ModelCounts &counts) {
    g_engine.model.ModelType = counts.model;
    g_engine.model.ADCNumber = counts.lanes;
    g_engine.model.CouplingNumber = counts.couplings;
    g_engine.model.TerminationNumber = counts.terminations;
    g_engine.model.GainNumber = counts.gains;
    g_engine.model.AttenuationNumber = counts.attenuations;
}

std::vector<int16_t> ChannelOffsets() {
    const auto &offsets = g_engine.calibration.ChannelOffsets;
    return std::vector<int16_t>(std::begin(offsets), std::end(offsets));
}

void WriteCardFile(const char *name, uint32_t deviceId, const std::vector<int16_t> &entries) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(deviceId >> (8 * i)));
    for (int i = 0; i < ostrel::kOffsetTableEntries; ++i) {
        const auto word = static_cast<uint16_t>(i < static_cast<int>(entries.size()) ? entries[i] : 0);
        out.put(static_cast<char>(word & 0xFF));
        out.put(static_cast<char>(word >> 8));
    }
}

// Entry i holds 10 x i + 1, so an offset in force tells which entry it came from.
std::vector<int16_t> NumberedEntries() {
    std::vector<int16_t> entries(ostrel::kOffsetTableEntries);
    for (int i = 0; i < ostrel::kOffsetTableEntries; ++i) entries[i] = static_cast<int16_t>(10 * i + 1);
    return entries;
}

int16_t InForceForEntry(int entry) { return static_cast<int16_t>(8192 + 10 * entry + 1); }

TEST(OffsetIndex, WorkedValueOnModel8) {
    UseCounts(kCounts[3]);
    // Lane 2, coupling 1, termination 0, gain 1, attenuation 0.
    EXPECT_EQ(ostrel::OffsetIndex(2, 1, 0, 1, 0), 22);
}

// Within the counts, every lane and setting has an entry of its own and together they fill the
// span from entry 0 without a gap.
TEST(OffsetIndex, SettingsWithinTheCountsFillTheSpanOnce) {
    for (const ModelCounts &counts : kCounts) {
        SCOPED_TRACE(testing::Message() << "model " << counts.model);
        UseCounts(counts);
        std::set<int32_t> seen;
        for (int32_t a = 0; a < counts.attenuations; ++a)
            for (int32_t g = 0; g < counts.gains; ++g)
                for (int32_t t = 0; t < counts.terminations; ++t)
                    for (int32_t c = 0; c < counts.couplings; ++c)
                        for (int32_t lane = 0; lane < static_cast<int32_t>(counts.lanes); ++lane) {
                            const auto index = ostrel::OffsetIndex(lane, c, t, g, a);
                            ASSERT_TRUE(index.has_value());
                            seen.insert(*index);
                        }
        EXPECT_EQ(static_cast<int32_t>(seen.size()), counts.span);
        EXPECT_EQ(*seen.begin(), 0);
        EXPECT_EQ(*seen.rbegin(), counts.span - 1);
    }
}

TEST(OffsetIndex, SettingsOutsideTheTableHaveNoEntry) {
    UseCounts(kCounts[0]);  // model 5
    EXPECT_EQ(ostrel::OffsetIndex(3, 1, 1, 2, 1), 26) << "input channel 3, everything at its top";
    const struct {
        int32_t lane, coupling, termination, gain, attenuation;
    } outside[] = {
        {-1, 0, 0, 0, 0},           {0, -1, 0, 0, 0},          {0, 0, 0, 0, 11},
        {0, 0, 0, 65535, 0},        {0, 0, 0, 0, 65535},       {INT32_MIN, 0, 0, 0, 0},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
        {128, 0, 0, 0, 0},
    };
    for (const auto &s : outside) {
        SCOPED_TRACE(testing::Message() << s.lane << " " << s.coupling << " " << s.termination
                                        << " " << s.gain << " " << s.attenuation);
        EXPECT_FALSE(ostrel::OffsetIndex(s.lane, s.coupling, s.termination, s.gain, s.attenuation));
    }
    // Entry 127 is the last one inside.
    EXPECT_EQ(ostrel::OffsetIndex(127, 0, 0, 0, 0), 127);
}

TEST(OffsetInForce, EntryPlusMidScale) {
    EXPECT_EQ(ostrel::OffsetInForce(-100), 8092);
    EXPECT_EQ(ostrel::OffsetInForce(0), 8192);
    EXPECT_EQ(ostrel::OffsetInForce(24575), INT16_MAX);
    EXPECT_EQ(ostrel::OffsetInForce(24576), INT16_MIN) << "kept as a 16-bit value";
}

TEST(UpdateChannelOffset, CalibrationActiveForcesMidScaleAndReadsNothing) {
    OpenModel(8);
    std::fill(std::begin(g_engine.calibration.ChannelOffsets), std::end(g_engine.calibration.ChannelOffsets),
              int16_t{1234});
    g_engine.calibration.CalibrationActive = true;
    ostrel_test::StartRegisterLog();
    EXPECT_EQ(ostrel::UpdateChannelOffset(3), 0);
    EXPECT_EQ(ChannelOffsets(), std::vector<int16_t>(5, 8192));
    EXPECT_TRUE(ostrel_test::RegisterLog().empty());
    g_engine.calibration.CalibrationActive = false;
    DAQ_CloseDevice();
}

TEST(UpdateChannelOffset, SingleLaneUsesTheInputChannelAsTheLane) {
    for (int32_t model : {5, 10}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        OpenModel(model);
        std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
        DAQ_SetInputChannel(0);  // model 10 comes up on input channel 2 (code 0)
        DAQ_SetCoupling(0, 0);
        DAQ_SetTermination(0, 0);
        DAQ_SetGain(0, 0);
        DAQ_SetAttenuation(0, 0);
        const int16_t before = g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset];
        EXPECT_EQ(before, InForceForEntry(0));
        EXPECT_EQ(DAQ_SetInputChannel(1), 0);
        EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset], before)
            << "a new input channel takes effect at the next update";
        if (model == 10) {
            EXPECT_EQ(SIM_PeekRegister(0, -2038), 2u);
        }
        EXPECT_EQ(ostrel::UpdateChannelOffset(7), 0);  // the lane argument is not used
        EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset], InForceForEntry(1));
        const std::vector<int32_t> readback(std::begin(g_engine.calibration.FrontEndReadback),
                                            std::end(g_engine.calibration.FrontEndReadback));
        EXPECT_EQ(readback, (std::vector<int32_t>{1, 0, 0, 0, 0}));
        // Entry 1 is also input channel 0 with coupling 1.
        DAQ_SetInputChannel(0);
        DAQ_SetCoupling(0, 1);
        EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset], InForceForEntry(1));
        DAQ_CloseDevice();
    }
}

TEST(UpdateChannelOffset, EachLaneOfAMultiLaneBoardFollowsItsSettings) {
    for (int32_t model : {6, 8, 9}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        OpenModel(model);
        std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
        int32_t lanes = 0;
        DAQ_GetADCNumber(&lanes);
        DAQ_SetCoupling(lanes - 1, 1);
        // Read the settings back the way an application would and find the entry by the model's
        // documented order: lane fastest, then coupling, termination, gain.
        for (int32_t lane = 0; lane < lanes; ++lane) {
            int32_t coupling = 0, termination = 0, gain = 0;
            DAQ_GetCoupling(lane, &coupling);
            DAQ_GetTermination(lane, &termination);
            DAQ_GetGain(lane, &gain);
            const int entry = lane + lanes * (coupling + 2 * (termination + 2 * gain));
            SCOPED_TRACE(testing::Message() << "lane " << lane << " entry " << entry);
            ostrel::UpdateChannelOffset(lane);
            EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kLaneOffset0 + lane], InForceForEntry(entry));
        }
        DAQ_CloseDevice();
    }
}

TEST(UpdateChannelOffset, MinusHundredEntryGives8092) {
    OpenModel(6);  // the open leaves gain 1 on both lanes
    // Lane 1 with coupling 1, termination 0, gain 1: entry 1 + 2 x (1 + 2 x (0 + 2 x 1)) = 11.
    DAQ_SetTermination(1, 0);
    g_engine.calibration.OffsetTable[11] = -100;
    DAQ_SetCoupling(1, 1);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kLaneOffset0 + 1], 8092);
    DAQ_CloseDevice();
}

TEST(UpdateChannelOffset, LaneOutsideTheBoardChangesNothing) {
    OpenModel(8);
    std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
    const std::vector<int16_t> before = ChannelOffsets();
    SIM_PokeRegister(0, -2034, 1u << 5);  // lane 5's coupling bit
    ostrel_test::StartRegisterLog();
    EXPECT_EQ(ostrel::UpdateChannelOffset(5), 0);
    EXPECT_EQ(ChannelOffsets(), before);
    EXPECT_TRUE(ostrel_test::RegisterLog().empty()) << "a lane the board lacks is not read";
    DAQ_CloseDevice();
}

TEST(UpdateChannelOffset, SettingOutsideTheTableKeepsTheOffset) {
    OpenModel(7);
    std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
    DAQ_SetGain(0, 1);
    const int16_t before = g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset];
    DAQ_SetGain(0, 500);  // the board keeps 500; no entry belongs to it
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset], before);
    DAQ_CloseDevice();
}

TEST(UpdateChannelOffset, AttenuationSetterUpdatesEvenWithoutTheRegister) {
    for (int32_t model : {6, 7, 8, 9}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        OpenModel(model);
        std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
        std::fill(std::begin(g_engine.calibration.ChannelOffsets), std::end(g_engine.calibration.ChannelOffsets),
                  int16_t{1});
        ostrel_test::StartRegisterLog();
        EXPECT_EQ(DAQ_SetAttenuation(0, 1), 0);
        EXPECT_TRUE(ostrel_test::RegisterWrites().empty());
        const int slot = model == 7 ? ostrel::kSingleLaneOffset : ostrel::kLaneOffset0;
        EXPECT_NE(g_engine.calibration.ChannelOffsets[slot], 1);
        DAQ_CloseDevice();
    }
}

TEST(InitialInputs, SetAtOpenOnModels5And6) {
    OpenModel(5);
    EXPECT_EQ(SIM_PeekRegister(0, -1014), 0u);
    EXPECT_EQ(SIM_PeekRegister(0, -1012), 3u);
    SimFrontEnd view{};
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &view), 0);
    EXPECT_EQ(view.inputChannel, 0);
    EXPECT_EQ(view.gain, 0);
    DAQ_CloseDevice();

    OpenModel(6);
    for (int lane = 0; lane < 2; ++lane) {
        SCOPED_TRACE(testing::Message() << "model 6 lane " << lane);
        ASSERT_EQ(SIM_GetFrontEnd(0, lane, &view), 0);
        EXPECT_EQ(view.gain, 1);
    }
    DAQ_CloseDevice();
}

TEST(InitialInputs, OffsetsOfEveryLaneComeFromTheCardData) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        g_engine.calibration = ostrel::CalibrationState{};
        const char *name = board.model == 8 ? "CardData_P2W8B.dat" : "CardData_K9T3A.dat";
        WriteCardFile(name, board.deviceId, NumberedEntries());
        OpenModel(board.model);
        int32_t lanes = 0;
        DAQ_GetADCNumber(&lanes);
        for (int32_t lane = 0; lane < lanes; ++lane) {
            // The board's own view of the setting in force, and the entry the documented order
            // gives for it.
            SimFrontEnd view{};
            int32_t channel = 0;
            if (lanes == 1) DAQ_GetInputChannel(&channel);
            ASSERT_EQ(SIM_GetFrontEnd(0, lanes == 1 ? channel : lane, &view), 0);
            // A code the board cannot decode (model 10 comes up with gain code 0) stands for no
            // setting; the read-back then keeps its value from before, 0 in a fresh state.
            const int32_t gain = view.gain < 0 ? 0 : view.gain;
            int32_t gains = 0;
            DAQ_GetGainNumber(&gains);
            const int entry = (lanes == 1 ? channel : lane) +
                              lanes * (view.coupling + 2 * (view.termination + 2 * (gain + gains * view.attenuation)));
            SCOPED_TRACE(testing::Message() << "lane " << lane << " entry " << entry);
            const int slot = lanes == 1 ? ostrel::kSingleLaneOffset : ostrel::kLaneOffset0 + lane;
            EXPECT_EQ(g_engine.calibration.ChannelOffsets[slot], InForceForEntry(entry));
        }
        DAQ_CloseDevice();
    }
}

TEST(InitialInputs, RejectedCardDataLeavesEveryOffsetAtMidScale) {
    OpenModel(9);
    DAQ_CloseDevice();
    std::copy_n(NumberedEntries().begin(), ostrel::kOffsetTableEntries, g_engine.calibration.OffsetTable);
    WriteCardFile("CardData_K9T3A.dat", 0xA002, NumberedEntries());  // another board's file
    OpenModel(9);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kLaneOffset0], 8192);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kLaneOffset0 + 1], 8192);
    EXPECT_TRUE(std::all_of(std::begin(g_engine.calibration.OffsetTable), std::end(g_engine.calibration.OffsetTable),
                            [](int16_t entry) { return entry == 0; }));
    DAQ_CloseDevice();
}

TEST(InitialInputs, Model5WithoutCardDataUsesItsBuiltInOffsets) {
    OpenModel(5);
    // Input channel 0, gain 0, the other settings as the board comes up.
    SimFrontEnd view{};
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &view), 0);
    const int entry = view.coupling + 2 * (view.termination + 2 * (view.gain + 3 * view.attenuation));
    ASSERT_LT(entry, 24);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[ostrel::kSingleLaneOffset],
              static_cast<int16_t>(8192 + ostrel::BuiltInOffsets[entry]));
    DAQ_CloseDevice();
}

TEST(CardData, SaveThenReopenGivesBackTheTable) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        std::vector<int16_t> saved(ostrel::kOffsetTableEntries);
        for (int i = 0; i < ostrel::kOffsetTableEntries; ++i) {
            saved[i] = static_cast<int16_t>((i * 37 + board.model) % 600 - 300);
        }
        std::copy(saved.begin(), saved.end(), g_engine.calibration.OffsetTable);
        EXPECT_EQ(ostrel::SaveCardData(), 0);
        DAQ_CloseDevice();
        std::fill(std::begin(g_engine.calibration.OffsetTable), std::end(g_engine.calibration.OffsetTable),
                  int16_t{0});
        OpenModel(board.model);
        EXPECT_TRUE(std::equal(saved.begin(), saved.end(), g_engine.calibration.OffsetTable));
        DAQ_CloseDevice();
    }
}

// A table belongs to the board model it was made for. After a close, another model opened with
// no card-data file starts from an empty table (model 5 from its built-in offsets) and subtracts
// mid-scale, never the offsets of the board before, which would shift its samples by up to a
// thousand codes; the same model opened again keeps the table it had.
TEST(CardData, AnotherModelNeverInheritsTheTable) {
    const std::vector<int16_t> left = NumberedEntries();
    for (const auto &first : kModelBoards) {
        for (const auto &second : kModelBoards) {
            SCOPED_TRACE(testing::Message() << "model " << first.model << ", then model "
                                            << second.model);
            OpenModel(first.model);
            // As a calibration whose save failed leaves it.
            std::copy(left.begin(), left.end(), g_engine.calibration.OffsetTable);
            DAQ_CloseDevice();
            OpenModel(second.model);
            std::vector<int16_t> expected(ostrel::kOffsetTableEntries, 0);
            if (first.model == second.model) {
                expected = left;
            }
            if (second.model == 5) {
                std::copy(std::begin(ostrel::BuiltInOffsets), std::end(ostrel::BuiltInOffsets),
                          expected.begin());
            }
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                   g_engine.calibration.OffsetTable));
            if (first.model != second.model && second.model != 5) {
                const std::vector<int16_t> inForce = ChannelOffsets();
                for (uint32_t lane = 0; lane < g_engine.model.ADCNumber; ++lane) {
                    const int slot = g_engine.model.ADCNumber == 1
                                         ? ostrel::kSingleLaneOffset
                                         : ostrel::kLaneOffset0 + static_cast<int>(lane);
                    EXPECT_EQ(inForce[slot], 8192) << "lane " << lane;
                }
            }
            DAQ_CloseDevice();
        }
    }
}

TEST(CardData, Model8OpenIgnoresTheCommonFile) {
    WriteCardFile("CardData_K9T3A.dat", 0xA005, NumberedEntries());
    OpenModel(8);
    EXPECT_STREQ(g_engine.calibration.CardDataFileName, "CardData_P2W8B.dat");
    EXPECT_TRUE(std::all_of(std::begin(g_engine.calibration.OffsetTable), std::end(g_engine.calibration.OffsetTable),
                            [](int16_t entry) { return entry == 0; }));
    DAQ_CloseDevice();
}

}  // namespace
