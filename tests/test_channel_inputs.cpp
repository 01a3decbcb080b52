// Channel input exports on every model: each setting reaches the board in the model's own coding,
// as the simulated board decodes it (SIM_GetFrontEnd), and the getters give back what was set.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "support/open_model_board.h"

namespace {

using ostrel_test::kModelBoards;
using ostrel_test::OpenModel;
using ostrel_test::RegisterAccess;
using ostrel_test::RegisterWrites;
using ostrel_test::StartRegisterLog;

struct Counts {
    int32_t lanes, gains, attenuations;
};

Counts CountsOfOpenBoard() {
    Counts counts{};
    int32_t couplings = 0, terminations = 0;
    EXPECT_EQ(DAQ_GetADCNumber(&counts.lanes), 0);
    EXPECT_EQ(DAQ_GetGainNumber(&counts.gains), 0);
    EXPECT_EQ(DAQ_GetAttenuationNumber(&counts.attenuations), 0);
    EXPECT_EQ(DAQ_GetCouplingNumber(&couplings), 0);
    EXPECT_EQ(DAQ_GetTerminationNumber(&terminations), 0);
    EXPECT_EQ(couplings, 2);
    EXPECT_EQ(terminations, 2);
    return counts;
}

SimFrontEnd BoardView(int input) {
    SimFrontEnd view{-9, -9, -9, -9, -9};
    EXPECT_EQ(SIM_GetFrontEnd(0, input, &view), 0) << "input " << input;
    return view;
}

TEST(SettingCounts, PerModel) {
    const struct {
        int32_t model;
        Counts counts;
    } cases[] = {{5, {1, 3, 2}}, {6, {2, 2, 1}}, {7, {1, 2, 1}},
                 {8, {4, 2, 1}}, {9, {2, 2, 1}}, {10, {1, 2, 1}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        OpenModel(c.model);
        const Counts counts = CountsOfOpenBoard();
        EXPECT_EQ(counts.lanes, c.counts.lanes);
        EXPECT_EQ(counts.gains, c.counts.gains);
        EXPECT_EQ(counts.attenuations, c.counts.attenuations);
        DAQ_CloseDevice();
    }
}

// Every combination within the model's counts, on every lane the model's layout keeps apart: the
// board decodes what was set and the getters read it back. On model 9 the setters write the whole
// register whatever the lane, so only lane 0 keeps its own settings there.
TEST(ChannelInputs, EveryCombinationReachesTheBoardAndReadsBack) {
    for (const auto &board : kModelBoards) {
        OpenModel(board.model);
        const Counts counts = CountsOfOpenBoard();
        const bool singleLane = counts.lanes == 1;
        const int32_t lanesToTest = board.model == 9 ? 1 : counts.lanes;
        const bool hasAttenuation = board.model == 5 || board.model == 10;
        const int32_t channels = (board.model == 5 || board.model == 10) ? 4 : 1;
        for (int32_t channel = 0; channel < channels; ++channel) {
            if (channels > 1) DAQ_SetInputChannel(channel);
            for (int32_t lane = 0; lane < lanesToTest; ++lane) {
                for (int32_t attenuation = 0; attenuation < counts.attenuations; ++attenuation) {
                    for (int32_t gain = 0; gain < counts.gains; ++gain) {
                        for (int32_t termination = 0; termination < 2; ++termination) {
                            for (int32_t coupling = 0; coupling < 2; ++coupling) {
                                SCOPED_TRACE(testing::Message()
                                             << "model " << board.model << " channel " << channel
                                             << " lane " << lane << " coupling " << coupling
                                             << " termination " << termination << " gain " << gain
                                             << " attenuation " << attenuation);
                                DAQ_SetCoupling(lane, coupling);
                                DAQ_SetTermination(lane, termination);
                                DAQ_SetGain(lane, gain);
                                DAQ_SetAttenuation(lane, attenuation);

                                const SimFrontEnd view = BoardView(singleLane ? channel : lane);
                                EXPECT_EQ(view.coupling, coupling);
                                EXPECT_EQ(view.termination, termination);
                                EXPECT_EQ(view.gain, gain);
                                if (hasAttenuation) {
                                    EXPECT_EQ(view.attenuation, attenuation);
                                }
                                if (channels > 1) {
                                    EXPECT_EQ(view.inputChannel, channel);
                                }

                                int32_t value = -5;
                                EXPECT_EQ(DAQ_GetCoupling(lane, &value), 0);
                                EXPECT_EQ(value, coupling);
                                EXPECT_EQ(DAQ_GetTermination(lane, &value), 0);
                                EXPECT_EQ(value, termination);
                                EXPECT_EQ(DAQ_GetGain(lane, &value), 0);
                                EXPECT_EQ(value, gain);
                                value = -5;
                                EXPECT_EQ(DAQ_GetAttenuation(lane, &value), 0);
                                EXPECT_EQ(value, hasAttenuation ? attenuation : -5);
                                value = -5;
                                EXPECT_EQ(DAQ_GetInputChannel(&value), 0);
                                EXPECT_EQ(value, channels > 1 ? channel : -5);
                            }
                        }
                    }
                }
            }
        }
        DAQ_CloseDevice();
    }
}

// On the lane-bit models a setter changes its own lane's bit and no other.
TEST(ChannelInputs, LaneBitSettersLeaveTheOtherLanes) {
    for (int32_t model : {6, 8}) {
        OpenModel(model);
        const int32_t lanes = CountsOfOpenBoard().lanes;
        for (int32_t lane = 0; lane < lanes; ++lane) {
            for (int32_t other = 0; other < lanes; ++other) {
                DAQ_SetCoupling(other, 0);
                DAQ_SetTermination(other, 1);
                DAQ_SetGain(other, 0);
            }
            DAQ_SetCoupling(lane, 1);
            DAQ_SetTermination(lane, 0);
            DAQ_SetGain(lane, 1);
            for (int32_t other = 0; other < lanes; ++other) {
                SCOPED_TRACE(testing::Message() << "model " << model << " set lane " << lane
                                                << ", board lane " << other);
                const SimFrontEnd view = BoardView(other);
                EXPECT_EQ(view.coupling, other == lane ? 1 : 0);
                EXPECT_EQ(view.termination, other == lane ? 0 : 1);
                EXPECT_EQ(view.gain, other == lane ? 1 : 0);
            }
        }
        DAQ_CloseDevice();
    }
}

// The worked register values of the per-model codings, seen in the board's registers.
TEST(ChannelInputs, WorkedRegisterValues) {
    struct Step {
        const char *what;
        int32_t model;
        void (*act)();
        int32_t index;
        uint32_t registerValue;
    };
    const Step steps[] = {
        {"model 5 gain 2 is code 4", 5, [] { DAQ_SetGain(0, 2); }, -1012, 4},
        {"model 5 gain 0 is code 3", 5, [] { DAQ_SetGain(0, 0); }, -1012, 3},
        {"model 5 gain 1 is code 2", 5, [] { DAQ_SetGain(0, 1); }, -1012, 2},
        {"model 5 gain 7 goes as it is", 5, [] { DAQ_SetGain(0, 7); }, -1012, 7},
        {"model 5 attenuation -1 as its low 16 bits", 5, [] { DAQ_SetAttenuation(0, -1); }, -1010, 65535},
        {"model 5 input channel 9 selects 0", 5, [] { DAQ_SetInputChannel(9); }, -1014, 0},
        {"model 5 input channel 3", 5, [] { DAQ_SetInputChannel(3); }, -1014, 3},
        {"model 5 coupling 0x12345 as its low 16 bits", 5, [] { DAQ_SetCoupling(0, 0x12345); }, -1008, 0x2345},
        {"model 6 gain 0 on lane 1 sets bit 1", 6,
         [] { SIM_PokeRegister(0, -2036, 0); DAQ_SetGain(1, 0); }, -2036, 2},
        {"model 6 gain 65536 counts as 0 of its low half: bit clear", 6,
         [] { SIM_PokeRegister(0, -2036, 3); DAQ_SetGain(0, 65536); }, -2036, 2},
        {"model 6 gain 5 sets the bit", 6, [] { SIM_PokeRegister(0, -2036, 0); DAQ_SetGain(0, 5); }, -2036, 1},
        {"model 7 gain as it is", 7, [] { DAQ_SetGain(3, 1); }, -2036, 1},
        {"model 8 coupling 65536 sets bit 2", 8,
         [] { SIM_PokeRegister(0, -2034, 0); DAQ_SetCoupling(2, 65536); }, -2034, 4},
        {"model 8 gain 65536 clears bit 2", 8,
         [] { SIM_PokeRegister(0, -2036, 0xF); DAQ_SetGain(2, 65536); }, -2036, 0xB},
        {"model 8 lane 33 is refused", 8, [] { SIM_PokeRegister(0, -2032, 0); DAQ_SetTermination(33, 1); }, -2032, 0},
        {"model 8 lane -1 is refused", 8,
         [] { SIM_PokeRegister(0, -2032, 0); DAQ_SetTermination(-1, 1); }, -2032, 0},
        {"model 9 termination on lane 1 writes the whole register", 9,
         [] { SIM_PokeRegister(0, -2032, 0xF0); DAQ_SetTermination(1, 1); }, -2032, 1},
        {"model 9 gain -2 as its low 16 bits", 9, [] { DAQ_SetGain(0, -2); }, -2036, 0xFFFE},
        {"model 10 gain 2 is code 4", 10, [] { DAQ_SetGain(0, 2); }, -2036, 4},
        {"model 10 input channel 2 is code 0", 10, [] { DAQ_SetInputChannel(2); }, -2038, 0},
        {"model 10 input channel 1 is code 2", 10, [] { DAQ_SetInputChannel(1); }, -2038, 2},
        {"model 10 input channel 9 selects channel 0 (code 3)", 10, [] { DAQ_SetInputChannel(9); }, -2038, 3},
        {"model 10 attenuation", 10, [] { DAQ_SetAttenuation(0, 1); }, -2030, 1},
        {"model 10 coupling", 10, [] { DAQ_SetCoupling(0, 1); }, -2034, 1},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        OpenModel(step.model);
        step.act();
        EXPECT_EQ(SIM_PeekRegister(0, step.index), step.registerValue);
        DAQ_CloseDevice();
    }
}

// What the getters report for register contents the setters may leave, and the board's own view.
TEST(ChannelInputs, GettersDecodeTheBoardsCodes) {
    struct Case {
        const char *what;
        int32_t model;
        int32_t index;
        uint32_t registerValue;
        int32_t (*get)(int32_t *);
        int32_t expected;  // -5: the getter leaves its argument alone
    };
    const Case cases[] = {
        {"model 5 gain code 4", 5, -1012, 4, [](int32_t *v) { return DAQ_GetGain(0, v); }, 2},
        {"model 5 gain code 7", 5, -1012, 7, [](int32_t *v) { return DAQ_GetGain(0, v); }, -5},
        {"model 5 gain code 0", 5, -1012, 0, [](int32_t *v) { return DAQ_GetGain(0, v); }, -5},
        {"model 10 gain code 4", 10, -2036, 4, [](int32_t *v) { return DAQ_GetGain(0, v); }, 2},
        {"model 6 lane 1 bit set is gain 0", 6, -2036, 2, [](int32_t *v) { return DAQ_GetGain(1, v); }, 0},
        {"model 6 lane 0 bit clear is gain 1", 6, -2036, 2, [](int32_t *v) { return DAQ_GetGain(0, v); }, 1},
        {"model 7 gain register", 7, -2036, 0x1234, [](int32_t *v) { return DAQ_GetGain(0, v); }, 0x1234},
        {"model 8 gain lane 3", 8, -2036, 8, [](int32_t *v) { return DAQ_GetGain(3, v); }, 1},
        {"model 9 termination lane 1 of 1", 9, -2032, 1, [](int32_t *v) { return DAQ_GetTermination(1, v); }, 0},
        {"model 9 termination lane 0 of 1", 9, -2032, 1, [](int32_t *v) { return DAQ_GetTermination(0, v); }, 1},
        {"model 9 gain lane 1 of 2", 9, -2036, 2, [](int32_t *v) { return DAQ_GetGain(1, v); }, 1},
        {"model 5 input register", 5, -1014, 6, [](int32_t *v) { return DAQ_GetInputChannel(v); }, 6},
        {"model 10 input code 0", 10, -2038, 0, [](int32_t *v) { return DAQ_GetInputChannel(v); }, 2},
        {"model 10 input code 1", 10, -2038, 1, [](int32_t *v) { return DAQ_GetInputChannel(v); }, 3},
        {"model 10 input code 7", 10, -2038, 7, [](int32_t *v) { return DAQ_GetInputChannel(v); }, -5},
        {"model 10 coupling", 10, -2034, 1, [](int32_t *v) { return DAQ_GetCoupling(0, v); }, 1},
        {"model 10 attenuation", 10, -2030, 1, [](int32_t *v) { return DAQ_GetAttenuation(3, v); }, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OpenModel(c.model);
        SIM_PokeRegister(0, c.index, c.registerValue);
        int32_t value = -5;
        EXPECT_EQ(c.get(&value), 0);
        EXPECT_EQ(value, c.expected);
        DAQ_CloseDevice();
    }
}

// Every per-lane setter and getter on every model, with lanes the board cannot address: -1, no
// register access at all, and the getter's out value untouched.
TEST(ChannelInputs, LanesOutsideTheBoardAreRefusedWithoutAnyAccess) {
    using Setter = int32_t (*)(int32_t, int32_t);
    using Getter = int32_t (*)(int32_t, int32_t *);
    const Setter setters[] = {DAQ_SetGain, DAQ_SetAttenuation, DAQ_SetCoupling, DAQ_SetTermination};
    const Getter getters[] = {DAQ_GetGain, DAQ_GetAttenuation, DAQ_GetCoupling, DAQ_GetTermination};
    for (int32_t model = 5; model <= 10; ++model) {
        OpenModel(model);
        int32_t lanes = 0;
        ASSERT_EQ(DAQ_GetADCNumber(&lanes), 0);
        const int32_t addressable = lanes == 1 ? 4 : lanes;  // single-lane boards: input channels
        for (const int32_t lane : {-1, addressable, 31, 33, 35, 99, INT32_MIN, INT32_MAX}) {
            SCOPED_TRACE(testing::Message() << "model " << model << ", lane " << lane);
            SIM_SetAccessLog(1);
            SIM_ClearAccessLog();
            const std::vector<int16_t> offsetsBefore(std::begin(ostrel::g_engine.calibration.ChannelOffsets),
                                                     std::end(ostrel::g_engine.calibration.ChannelOffsets));
            for (const Setter set : setters) EXPECT_EQ(set(lane, 1), -1);
            for (const Getter get : getters) {
                int32_t value = -77;
                EXPECT_EQ(get(lane, &value), -1);
                EXPECT_EQ(value, -77);
            }
            SimAccess entry{};
            EXPECT_EQ(SIM_GetAccessLog(&entry, 1), 0) << "no register was touched";
            EXPECT_EQ(std::vector<int16_t>(std::begin(ostrel::g_engine.calibration.ChannelOffsets),
                                           std::end(ostrel::g_engine.calibration.ChannelOffsets)),
                      offsetsBefore);
            SIM_SetAccessLog(0);
        }
        // The last addressable lane still works.
        int32_t value = -77;
        EXPECT_EQ(DAQ_GetCoupling(addressable - 1, &value), 0);
        DAQ_CloseDevice();
    }
}

TEST(ChannelInputs, Model9BoardSeesWhatTheGettersReport) {
    OpenModel(9);
    DAQ_SetTermination(1, 1);
    DAQ_SetCoupling(1, 2);
    int32_t value = -5;
    for (int32_t lane = 0; lane < 2; ++lane) {
        SCOPED_TRACE(testing::Message() << "lane " << lane);
        const SimFrontEnd view = BoardView(lane);
        DAQ_GetTermination(lane, &value);
        EXPECT_EQ(view.termination, value);
        EXPECT_EQ(value, lane == 0 ? 1 : 0);
        DAQ_GetCoupling(lane, &value);
        EXPECT_EQ(view.coupling, value);
        EXPECT_EQ(value, lane == 1 ? 1 : 0);
    }
    DAQ_CloseDevice();
}

TEST(ChannelInputs, SetterResults) {
    for (const auto &board : kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        constexpr int32_t kStatus = 0x20000013;
        ostrel::g_engine.discovery.LastStatus = kStatus;
        const bool laneBit = board.model == 6 || board.model == 8;
        const int32_t whole = laneBit ? 0 : kStatus;
        EXPECT_EQ(DAQ_SetGain(0, 1), whole);
        EXPECT_EQ(DAQ_SetCoupling(0, 1), whole);
        EXPECT_EQ(DAQ_SetTermination(0, 1), whole);
        const bool hasAttenuation = board.model == 5 || board.model == 10;
        EXPECT_EQ(DAQ_SetAttenuation(0, 0), hasAttenuation ? kStatus : 0);
        EXPECT_EQ(DAQ_SetInputChannel(1), 0);
        ostrel::g_engine.discovery.LastStatus = 0;
        DAQ_CloseDevice();
    }
}

TEST(ChannelInputs, AttenuationAndInputChannelAbsentOnModels6To9) {
    for (int32_t model : {6, 7, 8, 9}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        OpenModel(model);
        StartRegisterLog();
        EXPECT_EQ(DAQ_SetInputChannel(2), 0);
        EXPECT_TRUE(RegisterWrites().empty());
        int32_t value = -5;
        EXPECT_EQ(DAQ_GetAttenuation(0, &value), 0);
        EXPECT_EQ(DAQ_GetInputChannel(&value), 0);
        EXPECT_EQ(value, -5);
        DAQ_CloseDevice();
    }
}

TEST(ChannelInputs, GettersReadTheRegisterTheSetterWrites) {
    OpenModel(10);
    StartRegisterLog();
    int32_t value = 0;
    DAQ_GetCoupling(0, &value);
    const std::vector<RegisterAccess> expected = {{-2034, false, SIM_PeekRegister(0, -2034)}};
    EXPECT_EQ(ostrel_test::RegisterLog(), expected);
    DAQ_CloseDevice();
}

TEST(ChannelInputs, UnrecognisedBoardTouchesNoRegister) {
    ostrel_test::OpenBoardWithId(0xA003);
    StartRegisterLog();
    int32_t value = -5;
    EXPECT_EQ(DAQ_SetGain(0, 1), 0);
    EXPECT_EQ(DAQ_SetCoupling(0, 1), 0);
    EXPECT_EQ(DAQ_SetTermination(0, 1), 0);
    EXPECT_EQ(DAQ_SetAttenuation(0, 1), 0);
    EXPECT_EQ(DAQ_SetInputChannel(1), 0);
    EXPECT_EQ(DAQ_GetGain(0, &value), 0);
    EXPECT_EQ(DAQ_GetCoupling(0, &value), 0);
    EXPECT_EQ(DAQ_GetTermination(0, &value), 0);
    EXPECT_EQ(DAQ_GetAttenuation(0, &value), 0);
    EXPECT_EQ(DAQ_GetInputChannel(&value), 0);
    EXPECT_EQ(value, -5);
    EXPECT_TRUE(ostrel_test::RegisterLog().empty());
    DAQ_CloseDevice();
}

TEST(ChannelInputs, NullPointersAreRefused) {
    OpenModel(5);
    EXPECT_EQ(DAQ_GetGain(0, nullptr), -1);
    EXPECT_EQ(DAQ_GetCoupling(0, nullptr), -1);
    EXPECT_EQ(DAQ_GetTermination(0, nullptr), -1);
    EXPECT_EQ(DAQ_GetAttenuation(0, nullptr), -1);
    EXPECT_EQ(DAQ_GetInputChannel(nullptr), -1);
    EXPECT_EQ(DAQ_GetGainNumber(nullptr), -1);
    EXPECT_EQ(DAQ_GetAttenuationNumber(nullptr), -1);
    EXPECT_EQ(DAQ_GetCouplingNumber(nullptr), -1);
    EXPECT_EQ(DAQ_GetTerminationNumber(nullptr), -1);
    DAQ_CloseDevice();
}

}  // namespace
