// Generator start-up at open and release at close: the board and the channel state right after
// open, the refusals while no channel state exists, boards without a generator, and releases that
// never free twice.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/engine_state.h"
#include "generator/generator_lifecycle.h"
#include "test_generator_board.h"

namespace {

using namespace generator_test;

// Calls every generator export except the channel count; each must refuse and write nothing.
void ExpectEveryExportRefuses() {
    int32_t type = 77;
    float value = 77.0f;
    double frequency = 77.0;
    EXPECT_EQ(AWG_DesignWaveform(0, 0), -1);
    EXPECT_EQ(AWG_UpdateWaveform(0), -1);
    EXPECT_EQ(AWG_SetWaveformType(0, 1), -1);
    EXPECT_EQ(AWG_GetWaveformType(0, &type), -1);
    EXPECT_EQ(AWG_SetAmplitude(0, 1.0f), -1);
    EXPECT_EQ(AWG_GetAmplitude(0, &value), -1);
    EXPECT_EQ(AWG_SetOffset(0, 1.0f), -1);
    EXPECT_EQ(AWG_GetOffset(0, &value), -1);
    EXPECT_EQ(AWG_SetPhase(0, 1.0f), -1);
    EXPECT_EQ(AWG_GetPhase(0, &value), -1);
    EXPECT_EQ(AWG_SetDutycycle(0, 0.5f), -1);
    EXPECT_EQ(AWG_GetDutycycle(0, &value), -1);
    EXPECT_EQ(AWG_SetFrequency(0, 1e6), -1);
    EXPECT_EQ(AWG_GetFrequency(0, &frequency), -1);
    EXPECT_EQ(AWG_SyncAllChannels(), -1);
    EXPECT_EQ(AWG_EnableOutput(0, 0), -1);
    EXPECT_EQ(AWG_EnableOutput(1, 1), -1);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(value, 77.0f);
    EXPECT_EQ(frequency, 77.0);
}

TEST(GeneratorLifecycle, BeforeTheFirstOpenEveryExportRefusesButTheChannelCount) {
    StartLog();
    ExpectEveryExportRefuses();
    int32_t count = 77;
    EXPECT_EQ(AWG_GetnelNum(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(AWG_GetnelNum(nullptr), -1);
    EXPECT_TRUE(AccessLog().empty());
}

TEST(GeneratorLifecycle, StateRightAfterOpen) {
    for (int model : {6, 9}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        const GeneratorLayout layout = LayoutOfModel(model);
        StartLog();
        ASSERT_EQ(OpenBoard(model), 0);
        const std::vector<SimAccess> log = AccessLog();

        int32_t count = 0;
        EXPECT_EQ(AWG_GetnelNum(&count), 0);
        EXPECT_EQ(count, 2);
        for (int channel = 0; channel < 2; ++channel) {
            SCOPED_TRACE(testing::Message() << "channel " << channel);
            int32_t type = -5;
            float amplitude = -5, offset = -5, phase = -5, duty = -5;
            double frequency = -5;
            EXPECT_EQ(AWG_GetWaveformType(channel, &type), 0);
            EXPECT_EQ(AWG_GetAmplitude(channel, &amplitude), 0);
            EXPECT_EQ(AWG_GetOffset(channel, &offset), 0);
            EXPECT_EQ(AWG_GetPhase(channel, &phase), 0);
            EXPECT_EQ(AWG_GetDutycycle(channel, &duty), 0);
            EXPECT_EQ(AWG_GetFrequency(channel, &frequency), 0);
            EXPECT_EQ(type, 0);
            EXPECT_EQ(amplitude, 0.0f);
            EXPECT_EQ(offset, 0.0f);
            EXPECT_EQ(phase, 0.0f);
            EXPECT_EQ(duty, 0.0f);
            // The board runs at its default steps, but no frequency was ever requested.
            EXPECT_EQ(frequency, 0.0);
            EXPECT_EQ(CountOf(WaveformMemory(layout.memory[channel]), kMidCode), kPoints);
        }

        // Default steps, in this order, at the model's own indices.
        std::vector<std::pair<int32_t, uint32_t>> stepWrites;
        for (const SimAccess &access : log) {
            for (int32_t index : {layout.stepInt[0], layout.stepFrac[0], layout.stepInt[1],
                                  layout.stepFrac[1]}) {
                if (access.write && access.width == 4 && access.offset == RegisterOffset(index)) {
                    stepWrites.emplace_back(index, access.value);
                }
            }
        }
        const std::vector<std::pair<int32_t, uint32_t>> expectedSteps = {
            {layout.stepInt[0], 1536u}, {layout.stepFrac[0], 0u},
            {layout.stepInt[1], 1792u}, {layout.stepFrac[1], 0u}};
        EXPECT_EQ(stepWrites, expectedSteps);
        EXPECT_EQ(SIM_PeekRegister(0, layout.stepInt[0]), 1536u);
        EXPECT_EQ(SIM_PeekRegister(0, layout.stepFrac[0]), 0u);
        EXPECT_EQ(SIM_PeekRegister(0, layout.stepInt[1]), 1792u);
        EXPECT_EQ(SIM_PeekRegister(0, layout.stepFrac[1]), 0u);

        // Both channels held, then released together.
        EXPECT_EQ(RegisterWrites(log, kOutputMaskIndex), (std::vector<uint32_t>{3u, 0u}));
        EXPECT_EQ(SIM_PeekRegister(0, kOutputMaskIndex), 0u);
        // Each channel's memory written once: every point of both memories, and nothing else.
        const std::vector<SimAccess> points = PointWrites(log);
        ASSERT_EQ(points.size(), 2u * kPoints);
        for (const SimAccess &write : points) {
            const bool inChannel0 = write.offset >= layout.memory[0] &&
                                    write.offset < layout.memory[0] + 2 * kPoints;
            const bool inChannel1 = write.offset >= layout.memory[1] &&
                                    write.offset < layout.memory[1] + 2 * kPoints;
            EXPECT_TRUE(inChannel0 || inChannel1) << "offset " << write.offset;
        }

        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

TEST(GeneratorLifecycle, AfterCloseEveryExportRefusesButTheChannelCount) {
    ASSERT_EQ(OpenBoard(9), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    StartLog();
    ExpectEveryExportRefuses();
    // The count of the model parameters in force: those of the board opened last.
    int32_t count = 77;
    EXPECT_EQ(AWG_GetnelNum(&count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(AccessLog().empty());
}

TEST(GeneratorLifecycle, BoardsWithoutGeneratorGetNoPhaseStepsAndNoWaveformWrites) {
    for (int model : {5, 7, 8, 10}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        StartLog();
        ASSERT_EQ(OpenBoard(model), 0);
        std::vector<SimAccess> log = AccessLog();
        int32_t count = 77;
        EXPECT_EQ(AWG_GetnelNum(&count), 0);
        EXPECT_EQ(count, 0);
        EXPECT_TRUE(PointWrites(log).empty());
        for (int32_t index : {-2028, -2026, -2024}) {
            EXPECT_TRUE(RegisterWrites(log, index).empty()) << "index " << index;
        }
        for (uint32_t value : RegisterWrites(log, -2030)) EXPECT_NE(value, 1536u);
        // The synchronisation holds no channel: the mask stays 0.
        for (uint32_t value : RegisterWrites(log, kOutputMaskIndex)) EXPECT_EQ(value, 0u);

        // Parameters are kept for every channel; nothing reaches the board.
        StartLog();
        float amplitude = 0;
        double frequency = 0;
        EXPECT_EQ(AWG_SetAmplitude(0, 2.0f), 0);
        EXPECT_EQ(AWG_GetAmplitude(0, &amplitude), 0);
        EXPECT_EQ(amplitude, 2.0f);
        EXPECT_EQ(AWG_SetFrequency(0, 1e6), 0);
        EXPECT_EQ(AWG_GetFrequency(0, &frequency), 0);
        EXPECT_EQ(frequency, 1e6);
        EXPECT_EQ(AWG_SetWaveformType(1, 1), 0);
        EXPECT_EQ(AWG_EnableOutput(0, 0), -1);
        EXPECT_TRUE(AccessLog().empty());
        EXPECT_EQ(DAQ_CloseDevice(), 0);
    }
}

TEST(GeneratorLifecycle, BoardWithoutGeneratorAfterAGeneratorBoardKeepsItsRegisters) {
    // Model 10 reuses index -2030 for its attenuation; the phase-step indices left over from the
    // model-9 board must not be written there.
    const uint32_t boards[] = {0xA006, 0xA007};
    ASSERT_EQ(SIM_SetBoards(boards, 2), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    StartLog();
    ASSERT_EQ(DAQ_OpenDevice(1), 0);
    const std::vector<SimAccess> log = AccessLog();
    for (int32_t index : {-2030, -2028, -2026, -2024}) {
        for (uint32_t value : RegisterWrites(log, index)) {
            EXPECT_NE(value, 1536u) << "index " << index;
            EXPECT_NE(value, 1792u) << "index " << index;
        }
    }
    EXPECT_TRUE(PointWrites(log).empty());
    StartLog();
    EXPECT_EQ(AWG_SetFrequency(1, 1e7), 0);
    EXPECT_TRUE(AccessLog().empty());
    EXPECT_EQ(DAQ_CloseDevice(), 0);
}

TEST(GeneratorLifecycle, OpenThatStopsBeforeStartUpLeavesNoChannelState) {
    const uint32_t model9 = 0xA006;
    ASSERT_EQ(SIM_SetBoards(&model9, 1), 0);
    ASSERT_EQ(SIM_SetConfigWord(0, 0x11800008), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), -2);
    ExpectEveryExportRefuses();
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    DAQ_CloseDevice();  // nothing left to release
    ExpectEveryExportRefuses();
}

TEST(GeneratorLifecycle, ReleaseFreesOnceAndAReopenStartsAfresh) {
    ASSERT_EQ(OpenBoard(6), 0);
    EXPECT_EQ(AWG_SetAmplitude(0, 3.0f), 0);
    EXPECT_EQ(AWG_SetFrequency(1, 1e6), 0);
    ASSERT_EQ(DAQ_CloseDevice(), 0);
    ostrel::AwgRelease();  // a release with nothing allocated frees nothing
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    float amplitude = -1;
    double frequency = -1;
    EXPECT_EQ(AWG_GetAmplitude(0, &amplitude), 0);
    EXPECT_EQ(AWG_GetFrequency(1, &frequency), 0);
    EXPECT_EQ(amplitude, 0.0f);
    EXPECT_EQ(frequency, 0.0);
    EXPECT_EQ(CountOf(WaveformMemory(0x8080000), kMidCode), kPoints);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
}

TEST(GeneratorLifecycle, SecondOpenWithoutCloseReplacesTheChannelState) {
    ASSERT_EQ(OpenBoard(9), 0);
    EXPECT_EQ(AWG_SetOffset(1, 1.0f), 0);
    // The caller forgot the close; the second start-up replaces the arrays of the first (the
    // leak check of the sanitizer build sees that nothing is lost).
    ASSERT_EQ(DAQ_OpenDevice(0), 0);
    float offset = -1;
    EXPECT_EQ(AWG_GetOffset(1, &offset), 0);
    EXPECT_EQ(offset, 0.0f);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
    DAQ_CloseDevice();
}

}  // namespace
