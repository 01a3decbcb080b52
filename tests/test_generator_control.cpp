// Frequency as the board's phase-step registers, output enable and synchronisation as the output
// mask register, per model.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_generator_board.h"

namespace {

using namespace generator_test;

TEST(GeneratorControl, FrequencyBecomesThePhaseStepOfTheChannel) {
    struct Case {
        double frequency;
        uint32_t integerPart;
        uint32_t fraction;
    };
    const Case cases[] = {
        {10000000.0, 273, 0x11111111u}, {1000000.0, 27, 1317123304u}, {56250000.0, 1536, 0},
        {36621.09375, 1, 0},            {0.0, 0, 0},                  {2500000.0, 68, 1145324612u},
    };
    for (int model : {6, 9}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        const GeneratorLayout layout = LayoutOfModel(model);
        ASSERT_EQ(OpenBoard(model), 0);
        for (int channel = 0; channel < 2; ++channel) {
            for (const Case &c : cases) {
                SCOPED_TRACE(testing::Message() << "channel " << channel << " frequency "
                                                << c.frequency);
                StartLog();
                ASSERT_EQ(AWG_SetFrequency(channel, c.frequency), 0);
                const std::vector<SimAccess> log = AccessLog();
                // Integer part first, then the fraction, and nothing else.
                ASSERT_EQ(log.size(), 2u);
                EXPECT_EQ(log[0].offset, RegisterOffset(layout.stepInt[channel]));
                EXPECT_EQ(log[0].value, c.integerPart);
                EXPECT_EQ(log[1].offset, RegisterOffset(layout.stepFrac[channel]));
                EXPECT_EQ(log[1].value, c.fraction);
                EXPECT_EQ(SIM_PeekRegister(0, layout.stepInt[channel]), c.integerPart);
                EXPECT_EQ(SIM_PeekRegister(0, layout.stepFrac[channel]), c.fraction);
                double stored = -1;
                EXPECT_EQ(AWG_GetFrequency(channel, &stored), 0);
                EXPECT_EQ(stored, c.frequency);
            }
        }
        // The other channel's step is its own: channel 1 still holds what it was last given.
        EXPECT_EQ(SIM_PeekRegister(0, layout.stepInt[1]), 68u);
        DAQ_CloseDevice();
    }
}

TEST(GeneratorControl, ChannelWithoutGeneratorKeepsItsFrequencyOnly) {
    ASSERT_EQ(OpenBoard(6), 0);
    StartLog();
    for (int channel = 2; channel < 8; ++channel) {
        SCOPED_TRACE(testing::Message() << "channel " << channel);
        const double frequency = 1234.5 * channel;
        EXPECT_EQ(AWG_SetFrequency(channel, frequency), 0);
        double stored = 0;
        EXPECT_EQ(AWG_GetFrequency(channel, &stored), 0);
        EXPECT_EQ(stored, frequency);
    }
    EXPECT_TRUE(AccessLog().empty());
    DAQ_CloseDevice();
}

TEST(GeneratorControl, FrequenciesWithoutAPhaseStepAreRefused) {
    ASSERT_EQ(OpenBoard(9), 0);
    ASSERT_EQ(AWG_SetFrequency(0, 1e6), 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    StartLog();
    for (double refused : {-1.0, -1e-300, nan, infinity, -infinity, 157286400000000.0, 1e300}) {
        SCOPED_TRACE(testing::Message() << "frequency " << refused);
        EXPECT_EQ(AWG_SetFrequency(0, refused), -1);
        // A channel without a generator has no step to overflow; it refuses only what is no
        // frequency at all.
        if (!(refused >= 0.0) || std::isinf(refused)) {
            EXPECT_EQ(AWG_SetFrequency(5, refused), -1);
        }
        double stored = 0;
        EXPECT_EQ(AWG_GetFrequency(0, &stored), 0);
        EXPECT_EQ(stored, 1e6);
    }
    for (int channel : {-1, 8}) {
        double stored = 7;
        EXPECT_EQ(AWG_SetFrequency(channel, 1e6), -1);
        EXPECT_EQ(AWG_GetFrequency(channel, &stored), -1);
        EXPECT_EQ(stored, 7);
    }
    EXPECT_EQ(AWG_GetFrequency(0, nullptr), -1);
    EXPECT_TRUE(AccessLog().empty());
    EXPECT_EQ(SIM_PeekRegister(0, -2026), 27u);
    DAQ_CloseDevice();
}

TEST(GeneratorControl, OutputEnableChangesOnlyTheChannelBit) {
    ASSERT_EQ(OpenBoard(9), 0);
    ASSERT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), 0u);
    struct Step {
        int channel;
        uint8_t enable;
        uint32_t mask;  // register value afterwards
    };
    const Step steps[] = {
        {1, 0, 2}, {1, 1, 0}, {0, 0, 1}, {1, 0, 3}, {0, 255, 2}, {1, 7, 0}, {1, 1, 0},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(testing::Message() << "channel " << step.channel << " enable "
                                        << int(step.enable));
        StartLog();
        ASSERT_EQ(AWG_EnableOutput(step.channel, step.enable), 0);
        const std::vector<SimAccess> log = AccessLog();
        // Read, then write back.
        ASSERT_EQ(log.size(), 2u);
        EXPECT_FALSE(log[0].write);
        EXPECT_TRUE(log[1].write);
        EXPECT_EQ(log[1].offset, RegisterOffset(kOutputMaskIndex));
        EXPECT_EQ(log[1].value, step.mask);
        EXPECT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), step.mask);
    }
    // Bits the engine does not own go back as they were read.
    ASSERT_EQ(SIM_PokeRegister(0, kOutputMaskIndex, 0xF0u), 0);
    ASSERT_EQ(AWG_EnableOutput(0, 0), 0);
    EXPECT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), 0xF1u);
    DAQ_CloseDevice();
}

TEST(GeneratorControl, OutputEnableRefusesChannelsWithoutOutput) {
    ASSERT_EQ(OpenBoard(6), 0);
    StartLog();
    for (int channel : {-1, 2, 7, 8, 31, 32}) {
        SCOPED_TRACE(testing::Message() << "channel " << channel);
        EXPECT_EQ(AWG_EnableOutput(channel, 0), -1);
        EXPECT_EQ(AWG_EnableOutput(channel, 1), -1);
    }
    EXPECT_TRUE(AccessLog().empty());
    DAQ_CloseDevice();
}

TEST(GeneratorControl, SynchronisationHoldsAndReleasesEveryChannel) {
    ASSERT_EQ(OpenBoard(6), 0);
    ASSERT_EQ(AWG_EnableOutput(0, 0), 0);
    ASSERT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), 1u);
    StartLog();
    ASSERT_EQ(AWG_SyncAllChannels(), 0);
    const std::vector<SimAccess> log = AccessLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(RegisterWrites(log, kOutputMaskIndex), (std::vector<uint32_t>{3u, 0u}));
    // The held-off channel plays again.
    EXPECT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), 0u);
    DAQ_CloseDevice();

    // With no board open nothing is written.
    StartLog();
    EXPECT_EQ(AWG_SyncAllChannels(), -1);
    EXPECT_TRUE(AccessLog().empty());
}

}  // namespace
