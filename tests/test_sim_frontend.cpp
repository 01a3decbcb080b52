// The simulated board's own reading of its front-end registers, per model: registers are set
// with SIM_PokeRegister (the board's side of the window) and read back through SIM_GetFrontEnd.
#include <gtest/gtest.h>

#include <vector>

#include "OstrelBoardSim.h"

namespace {

struct Poke {
    int32_t registerIndex;
    uint32_t value;
};

struct Case {
    const char *what;
    uint32_t deviceId;
    std::vector<Poke> pokes;
    int input;
    SimFrontEnd expected;  // inputChannel, coupling, termination, gain, attenuation
};

void Check(const Case &entry) {
    SCOPED_TRACE(testing::Message() << entry.what << " (device 0x" << std::hex << entry.deviceId
                                    << std::dec << ", input " << entry.input << ")");
    const uint32_t ids[] = {entry.deviceId};
    ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
    for (const Poke &poke : entry.pokes) ASSERT_EQ(SIM_PokeRegister(0, poke.registerIndex, poke.value), 0);
    SimFrontEnd decoded{99, 99, 99, 99, 99};
    ASSERT_EQ(SIM_GetFrontEnd(0, entry.input, &decoded), 0);
    EXPECT_EQ(decoded.inputChannel, entry.expected.inputChannel);
    EXPECT_EQ(decoded.coupling, entry.expected.coupling);
    EXPECT_EQ(decoded.termination, entry.expected.termination);
    EXPECT_EQ(decoded.gain, entry.expected.gain);
    EXPECT_EQ(decoded.attenuation, entry.expected.attenuation);
}

TEST(SimFrontEnd, Model5WholeRegistersAndGainCodes) {
    // Gain -1012, input channel -1014, coupling -1008, termination -1006, attenuation -1010.
    const std::vector<Case> cases = {
        {"gain code 3 is gain 0", 0xA001, {{-1012, 3}}, 0, {0, 0, 0, 0, 0}},
        {"gain code 2 is gain 1", 0xA001, {{-1012, 2}}, 0, {0, 0, 0, 1, 0}},
        {"gain code 4 is gain 2", 0xA001, {{-1012, 4}}, 0, {0, 0, 0, 2, 0}},
        {"gain code 7 undecodable", 0xA001, {{-1012, 7}}, 0, {0, 0, 0, -1, 0}},
        {"gain code 0 undecodable", 0xA001, {}, 0, {0, 0, 0, -1, 0}},
        {"input channel register", 0xA001, {{-1014, 2}, {-1012, 3}}, 1, {2, 0, 0, 0, 0}},
        {"input channel 3", 0xA001, {{-1014, 3}, {-1012, 3}}, 3, {3, 0, 0, 0, 0}},
        {"input channel 9 undecodable", 0xA001, {{-1014, 9}, {-1012, 3}}, 0, {-1, 0, 0, 0, 0}},
        {"coupling and termination", 0xA001, {{-1008, 1}, {-1006, 1}, {-1012, 2}}, 0, {0, 1, 1, 1, 0}},
        {"attenuation 65535", 0xA001, {{-1010, 65535}, {-1012, 3}}, 0, {0, 0, 0, 0, 65535}},
        // The model 6..10 block means nothing on model 5.
        {"other block ignored", 0xA001, {{-2036, 3}, {-2034, 1}, {-1012, 2}}, 0, {0, 0, 0, 1, 0}},
    };
    for (const Case &entry : cases) Check(entry);
}

TEST(SimFrontEnd, Model10InputCodesAndGainCodes) {
    // Gain -2036, input channel -2038, coupling -2034, termination -2032, attenuation -2030.
    const std::vector<Case> cases = {
        {"input code 3 is channel 0", 0xA007, {{-2038, 3}, {-2036, 3}}, 0, {0, 0, 0, 0, 0}},
        {"input code 2 is channel 1", 0xA007, {{-2038, 2}, {-2036, 3}}, 0, {1, 0, 0, 0, 0}},
        {"input code 0 is channel 2", 0xA007, {{-2038, 0}, {-2036, 3}}, 2, {2, 0, 0, 0, 0}},
        {"input code 1 is channel 3", 0xA007, {{-2038, 1}, {-2036, 3}}, 3, {3, 0, 0, 0, 0}},
        {"input code 5 undecodable", 0xA007, {{-2038, 5}, {-2036, 3}}, 0, {-1, 0, 0, 0, 0}},
        {"gain code 2 is gain 1", 0xA007, {{-2038, 3}, {-2036, 2}}, 0, {0, 0, 0, 1, 0}},
        {"gain code 4 is gain 2", 0xA007, {{-2038, 3}, {-2036, 4}}, 0, {0, 0, 0, 2, 0}},
        {"gain code 1 undecodable", 0xA007, {{-2038, 3}, {-2036, 1}}, 0, {0, 0, 0, -1, 0}},
        {"whole coupling, termination, attenuation", 0xA007,
         {{-2038, 3}, {-2036, 3}, {-2034, 1}, {-2032, 1}, {-2030, 1}}, 0, {0, 1, 1, 0, 1}},
    };
    for (const Case &entry : cases) Check(entry);
}

TEST(SimFrontEnd, Model6LaneBitsWithInvertedGain) {
    const std::vector<Case> cases = {
        // Gain register 2: bit 1 set -> lane 1 gain 0; lane 0 clear -> gain 1.
        {"gain bit set on lane 1", 0xA002, {{-2036, 2}}, 1, {1, 0, 0, 0, 0}},
        {"gain bit clear on lane 0", 0xA002, {{-2036, 2}}, 0, {0, 0, 0, 1, 0}},
        {"coupling lane bit", 0xA002, {{-2034, 1}, {-2036, 3}}, 0, {0, 1, 0, 0, 0}},
        {"coupling other lane", 0xA002, {{-2034, 1}, {-2036, 3}}, 1, {1, 0, 0, 0, 0}},
        {"termination lane bit", 0xA002, {{-2032, 2}, {-2036, 3}}, 1, {1, 0, 1, 0, 0}},
        // -2030 is a generator register on model 6: no attenuation.
        {"no attenuation", 0xA002, {{-2030, 7}, {-2036, 3}}, 0, {0, 0, 0, 0, 0}},
    };
    for (const Case &entry : cases) Check(entry);
}

TEST(SimFrontEnd, Model8FourLaneBits) {
    const std::vector<Case> cases = {
        {"coupling bit 2", 0xA005, {{-2034, 4}}, 2, {2, 1, 0, 0, 0}},
        {"coupling bit 2 not lane 1", 0xA005, {{-2034, 4}}, 1, {1, 0, 0, 0, 0}},
        {"gain bit set is gain 1", 0xA005, {{-2036, 8}}, 3, {3, 0, 0, 1, 0}},
        {"gain bit clear is gain 0", 0xA005, {{-2036, 8}}, 0, {0, 0, 0, 0, 0}},
        {"termination on every lane", 0xA005, {{-2032, 15}}, 3, {3, 0, 1, 0, 0}},
    };
    for (const Case &entry : cases) Check(entry);
}

TEST(SimFrontEnd, Model9WholeRegisterWritesSeenAsLaneBits) {
    // The engine writes the whole register on model 9; each lane sees its own bit of it.
    const std::vector<Case> cases = {
        {"termination 1 reaches lane 0", 0xA006, {{-2032, 1}}, 0, {0, 0, 1, 0, 0}},
        {"termination 1 not lane 1", 0xA006, {{-2032, 1}}, 1, {1, 0, 0, 0, 0}},
        {"gain 2 reaches lane 1", 0xA006, {{-2036, 2}}, 1, {1, 0, 0, 1, 0}},
        {"coupling 3 reaches both", 0xA006, {{-2034, 3}}, 1, {1, 1, 0, 0, 0}},
        // -2020 is the record counter and -2012 the indicator on model 9.
        {"other registers ignored", 0xA006, {{-2020, 0xFFFF}, {-2012, 0xFFFF}}, 0, {0, 0, 0, 0, 0}},
    };
    for (const Case &entry : cases) Check(entry);
}

TEST(SimFrontEnd, Model7WholeRegisters) {
    for (uint32_t deviceId : {0xA004u, 0xE001u}) {
        const std::vector<Case> cases = {
            {"gain register", deviceId, {{-2036, 1}}, 0, {0, 0, 0, 1, 0}},
            {"whole coupling and termination", deviceId, {{-2034, 1}, {-2032, 1}}, 2, {0, 1, 1, 0, 0}},
            // -2030 is the indicator code on model 7: no attenuation there.
            {"indicator is not attenuation", deviceId, {{-2030, 5}}, 0, {0, 0, 0, 0, 0}},
        };
        for (const Case &entry : cases) Check(entry);
    }
}

TEST(SimFrontEnd, RefusedInputsAndBoards) {
    struct Refusal {
        uint32_t deviceId;
        int input;
    };
    const Refusal refusals[] = {{0xA001, 4}, {0xA001, -1}, {0xA007, 4}, {0xA004, 4}, {0xA002, 2},
                                {0xA006, 2}, {0xA005, 4}, {0xA005, -1}, {0xA003, 0}, {0x1234, 0}};
    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(testing::Message() << std::hex << refusal.deviceId << std::dec << " input "
                                        << refusal.input);
        const uint32_t ids[] = {refusal.deviceId};
        ASSERT_EQ(SIM_SetBoards(ids, 1), 0);
        SimFrontEnd decoded{7, 7, 7, 7, 7};
        EXPECT_EQ(SIM_GetFrontEnd(0, refusal.input, &decoded), -1);
        EXPECT_EQ(decoded.gain, 7);  // untouched
        EXPECT_EQ(decoded.inputChannel, 7);
    }
    SimFrontEnd decoded{};
    EXPECT_EQ(SIM_GetFrontEnd(1, 0, &decoded), -1);
    EXPECT_EQ(SIM_GetFrontEnd(-1, 0, &decoded), -1);
    EXPECT_EQ(SIM_GetFrontEnd(0, 0, nullptr), -1);
}

TEST(SimFrontEnd, EachBoardDecodesItsOwnRegisters) {
    const uint32_t ids[] = {0xA006, 0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    ASSERT_EQ(SIM_PokeRegister(1, -2036, 1), 0);
    SimFrontEnd first{}, second{};
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &first), 0);
    ASSERT_EQ(SIM_GetFrontEnd(1, 0, &second), 0);
    EXPECT_EQ(first.gain, 0);
    EXPECT_EQ(second.gain, 1);
}

}  // namespace
