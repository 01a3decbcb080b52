// Waveforms as the board's waveform memory holds them: designed shapes, amplitude and offset
// scaling, phase rotation, the model 6 / model 9 address swap, and channels that must not reach
// the board.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>

#include "test_generator_board.h"

namespace {

using namespace generator_test;

constexpr float kFullScale = 4.75f;
constexpr float kPi = 3.14159265358979f;

// Model 9: channel 0 lives at 0x8084000, channel 1 at 0x8080000.
class GeneratorWaveform : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenBoard(9), 0); }
    void TearDown() override { DAQ_CloseDevice(); }
    static std::vector<uint16_t> Channel(int channel) {
        return WaveformMemory(LayoutOfModel(9).memory[channel]);
    }
};

TEST_F(GeneratorWaveform, FullScaleSineIsTheDesignedSine) {
    ASSERT_EQ(AWG_SetAmplitude(0, kFullScale), 0);
    const std::vector<uint16_t> sine = Channel(0);
    EXPECT_EQ(sine[0], 8191);
    EXPECT_EQ(sine[2048], 16382);
    EXPECT_EQ(sine[6144], 0);
    EXPECT_EQ(sine[8191], 8190);
    EXPECT_EQ(*std::max_element(sine.begin(), sine.end()), 16382);
    // Channel 1 was not touched.
    EXPECT_EQ(CountOf(Channel(1), kMidCode), kPoints);
}

TEST_F(GeneratorWaveform, SquareAndTriangleFollowTheDutyCycle) {
    struct Case {
        int type;
        float duty;
        std::vector<std::pair<int, uint16_t>> points;  // (point, code)
        int topCount;                                  // points at 0x3FFF
    };
    const Case cases[] = {
        {1, 0.3f, {{0, 16383}, {2456, 16383}, {2457, 0}, {8191, 0}}, 2457},
        {1, 0.0f, {{0, 0}, {8191, 0}}, 0},
        {1, 1.0f, {{0, 16383}, {8191, 16383}}, kPoints},
        {1, 1.5f, {{0, 16383}, {8191, 16383}}, kPoints},  // limited to 1
        {1, -0.5f, {{0, 0}, {8191, 0}}, 0},               // limited to 0
        {2, 0.5f, {{0, 0}, {4095, 16383}, {4096, 16379}, {8191, 0}}, 1},
        {2, 1.0f, {{0, 0}, {8191, 16383}}, 1},
        {2, 1.0f / 8192.0f, {{0, 0}, {1, 16381}, {8191, 0}}, 0},
    };
    ASSERT_EQ(AWG_SetAmplitude(1, kFullScale), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " duty " << c.duty);
        ASSERT_EQ(AWG_SetWaveformType(1, c.type), 0);
        ASSERT_EQ(AWG_SetDutycycle(1, c.duty), 0);
        float stored = -1;
        EXPECT_EQ(AWG_GetDutycycle(1, &stored), 0);
        EXPECT_EQ(stored, c.duty);  // kept as given; only the design limits it
        const std::vector<uint16_t> memory = Channel(1);
        for (const auto &[point, code] : c.points) EXPECT_EQ(memory[point], code) << point;
        EXPECT_EQ(CountOf(memory, kMaxCode), c.topCount);
    }
}

TEST_F(GeneratorWaveform, UnknownTypeIsStoredAndKeepsTheDesignedTable) {
    ASSERT_EQ(AWG_SetDutycycle(0, 0.3f), 0);
    ASSERT_EQ(AWG_SetWaveformType(0, 1), 0);
    ASSERT_EQ(AWG_SetAmplitude(0, kFullScale), 0);
    ASSERT_EQ(AWG_SetWaveformType(0, 3), 0);
    int32_t type = -1;
    EXPECT_EQ(AWG_GetWaveformType(0, &type), 0);
    EXPECT_EQ(type, 3);
    // The update after the type change wrote the old square again.
    std::vector<uint16_t> memory = Channel(0);
    EXPECT_EQ(CountOf(memory, kMaxCode), 2457);
    EXPECT_EQ(memory[2456], kMaxCode);
    EXPECT_EQ(memory[2457], 0);
    // A duty-cycle change redesigns nothing for an unknown type.
    ASSERT_EQ(AWG_SetDutycycle(0, 0.6f), 0);
    EXPECT_EQ(CountOf(Channel(0), kMaxCode), 2457);
}

TEST_F(GeneratorWaveform, AmplitudeAndOffsetScaleAboutMidScale) {
    struct Case {
        float amplitude;
        float offset;
        uint16_t top;     // code written for the sine's 16382
        uint16_t bottom;  // code written for the sine's 0
        uint16_t start;   // code written for the sine's 8191 at point 0
    };
    const Case cases[] = {
        {4.75f, 0.0f, 16382, 0, 8191},
        {0.0f, 0.0f, 8191, 8191, 8191},
        {2.375f, 0.0f, 12286, 4095, 8191},
        {0.0f, 2.375f, 16382, 16382, 16382},
        // Overdriven: the DAC saturates at both ends instead of wrapping.
        {9.5f, 0.0f, 16383, 0, 8191},
        {4.75f, 2.375f, 16383, 8191, 16382},
        {4.75f, -4.75f, 0, 0, 0},
        {-4.75f, 0.0f, 0, 16382, 8191},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "amplitude " << c.amplitude << " offset " << c.offset);
        ASSERT_EQ(AWG_SetAmplitude(0, c.amplitude), 0);
        ASSERT_EQ(AWG_SetOffset(0, c.offset), 0);
        const std::vector<uint16_t> memory = Channel(0);
        EXPECT_EQ(memory[2048], c.top);
        EXPECT_EQ(memory[6144], c.bottom);
        EXPECT_EQ(memory[0], c.start);
        for (uint16_t code : memory) ASSERT_LE(code, kMaxCode);
    }
}

TEST_F(GeneratorWaveform, PhaseRotatesTheTable) {
    struct Case {
        float phase;
        int shift;  // output point k plays designed point k + shift
    };
    const Case cases[] = {
        {0.0f, 0}, {kPi, 4096}, {kPi / 2, 2048}, {-kPi / 2, 6144}, {0.0001f, 0},
        {-0.001f, 8191}, {2 * kPi, 0}, {-2 * kPi, 0}, {1000.0f, 1269}, {1e7f, 3530},
    };
    // A square of 2457 high points shows the rotation: the high run starts at output point
    // (8192 - shift) mod 8192.
    ASSERT_EQ(AWG_SetDutycycle(0, 0.3f), 0);
    ASSERT_EQ(AWG_SetWaveformType(0, 1), 0);
    ASSERT_EQ(AWG_SetAmplitude(0, kFullScale), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "phase " << c.phase);
        ASSERT_EQ(AWG_SetPhase(0, c.phase), 0);
        const std::vector<uint16_t> memory = Channel(0);
        const int runStart = (kPoints - c.shift) % kPoints;
        EXPECT_EQ(memory[runStart], kMaxCode);
        EXPECT_EQ(memory[(runStart + kPoints - 1) % kPoints], 0);
        EXPECT_EQ(memory[(runStart + 2456) % kPoints], kMaxCode);
        EXPECT_EQ(memory[(runStart + 2457) % kPoints], 0);
        EXPECT_EQ(CountOf(memory, kMaxCode), 2457);
        float stored = 0;
        EXPECT_EQ(AWG_GetPhase(0, &stored), 0);
        EXPECT_EQ(stored, c.phase);
    }
}

TEST_F(GeneratorWaveform, OffsetAndPhaseGettersRewriteTheSameContent) {
    ASSERT_EQ(AWG_SetWaveformType(1, 2), 0);
    ASSERT_EQ(AWG_SetDutycycle(1, 0.25f), 0);
    ASSERT_EQ(AWG_SetAmplitude(1, 3.0f), 0);
    ASSERT_EQ(AWG_SetOffset(1, 0.5f), 0);
    ASSERT_EQ(AWG_SetPhase(1, 1.0f), 0);
    const std::vector<uint16_t> before = Channel(1);
    const uint64_t base = LayoutOfModel(9).memory[1];
    for (int getter = 0; getter < 2; ++getter) {
        SCOPED_TRACE(getter == 0 ? "phase getter" : "offset getter");
        StartLog();
        float value = 0;
        ASSERT_EQ(getter == 0 ? AWG_GetPhase(1, &value) : AWG_GetOffset(1, &value), 0);
        EXPECT_EQ(value, getter == 0 ? 1.0f : 0.5f);
        const std::vector<SimAccess> writes = PointWrites(AccessLog());
        ASSERT_EQ(writes.size(), static_cast<size_t>(kPoints));
        for (int k = 0; k < kPoints; ++k) {
            ASSERT_EQ(writes[k].offset, base + 2ull * k);
            ASSERT_EQ(writes[k].value, before[k]);
        }
        EXPECT_EQ(Channel(1), before);
    }
    // The other getters touch nothing.
    StartLog();
    int32_t type = 0;
    float value = 0;
    double frequency = 0;
    EXPECT_EQ(AWG_GetWaveformType(1, &type), 0);
    EXPECT_EQ(AWG_GetAmplitude(1, &value), 0);
    EXPECT_EQ(AWG_GetDutycycle(1, &value), 0);
    EXPECT_EQ(AWG_GetFrequency(1, &frequency), 0);
    EXPECT_TRUE(AccessLog().empty());
}

TEST_F(GeneratorWaveform, DesignAloneLeavesTheBoardUntilTheUpdate) {
    ASSERT_EQ(AWG_SetAmplitude(0, kFullScale), 0);
    ASSERT_EQ(AWG_SetDutycycle(0, 0.5f), 0);
    StartLog();
    ASSERT_EQ(AWG_DesignWaveform(0, 1), 0);
    EXPECT_TRUE(AccessLog().empty());
    EXPECT_EQ(Channel(0)[2048], 16382);  // still the sine
    ASSERT_EQ(AWG_UpdateWaveform(0), 0);
    EXPECT_EQ(CountOf(Channel(0), kMaxCode), 4096);
}

TEST_F(GeneratorWaveform, ChannelsWithoutWaveformMemoryKeepParametersOnly) {
    const std::vector<uint16_t> channel0 = Channel(0), channel1 = Channel(1);
    for (int channel = 2; channel < 8; ++channel) {
        SCOPED_TRACE(testing::Message() << "channel " << channel);
        StartLog();
        EXPECT_EQ(AWG_SetWaveformType(channel, 1), 0);
        EXPECT_EQ(AWG_SetDutycycle(channel, 0.7f), 0);
        EXPECT_EQ(AWG_SetAmplitude(channel, 1.5f), 0);
        EXPECT_EQ(AWG_SetOffset(channel, -0.5f), 0);
        EXPECT_EQ(AWG_SetPhase(channel, 2.0f), 0);
        EXPECT_EQ(AWG_DesignWaveform(channel, 2), 0);
        EXPECT_EQ(AWG_UpdateWaveform(channel), 0);
        int32_t type = 0;
        float amplitude = 0, offset = 0, phase = 0, duty = 0;
        EXPECT_EQ(AWG_GetWaveformType(channel, &type), 0);
        EXPECT_EQ(AWG_GetAmplitude(channel, &amplitude), 0);
        EXPECT_EQ(AWG_GetOffset(channel, &offset), 0);
        EXPECT_EQ(AWG_GetPhase(channel, &phase), 0);
        EXPECT_EQ(AWG_GetDutycycle(channel, &duty), 0);
        EXPECT_EQ(type, 2);
        EXPECT_EQ(amplitude, 1.5f);
        EXPECT_EQ(offset, -0.5f);
        EXPECT_EQ(phase, 2.0f);
        EXPECT_EQ(duty, 0.7f);
        EXPECT_TRUE(AccessLog().empty());
    }
    EXPECT_EQ(Channel(0), channel0);
    EXPECT_EQ(Channel(1), channel1);
}

TEST_F(GeneratorWaveform, RefusalsTouchNothing) {
    ASSERT_EQ(AWG_SetAmplitude(0, 1.0f), 0);
    ASSERT_EQ(AWG_SetPhase(0, 0.5f), 0);
    const std::vector<uint16_t> channel0 = Channel(0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    StartLog();
    for (int channel : {-1, 8, 100, std::numeric_limits<int32_t>::min()}) {
        SCOPED_TRACE(testing::Message() << "channel " << channel);
        int32_t type = 5;
        float value = 5;
        EXPECT_EQ(AWG_DesignWaveform(channel, 0), -1);
        EXPECT_EQ(AWG_UpdateWaveform(channel), -1);
        EXPECT_EQ(AWG_SetWaveformType(channel, 0), -1);
        EXPECT_EQ(AWG_GetWaveformType(channel, &type), -1);
        EXPECT_EQ(AWG_SetAmplitude(channel, 1.0f), -1);
        EXPECT_EQ(AWG_GetAmplitude(channel, &value), -1);
        EXPECT_EQ(AWG_SetOffset(channel, 1.0f), -1);
        EXPECT_EQ(AWG_GetOffset(channel, &value), -1);
        EXPECT_EQ(AWG_SetPhase(channel, 1.0f), -1);
        EXPECT_EQ(AWG_GetPhase(channel, &value), -1);
        EXPECT_EQ(AWG_SetDutycycle(channel, 0.5f), -1);
        EXPECT_EQ(AWG_GetDutycycle(channel, &value), -1);
        EXPECT_EQ(type, 5);
        EXPECT_EQ(value, 5.0f);
    }
    for (float bad : {nan, infinity, -infinity}) {
        SCOPED_TRACE(testing::Message() << "value " << bad);
        EXPECT_EQ(AWG_SetAmplitude(0, bad), -1);
        EXPECT_EQ(AWG_SetOffset(0, bad), -1);
        EXPECT_EQ(AWG_SetPhase(0, bad), -1);
        EXPECT_EQ(AWG_SetDutycycle(0, bad), -1);
    }
    EXPECT_EQ(AWG_GetWaveformType(0, nullptr), -1);
    EXPECT_EQ(AWG_GetAmplitude(0, nullptr), -1);
    EXPECT_EQ(AWG_GetOffset(0, nullptr), -1);
    EXPECT_EQ(AWG_GetPhase(0, nullptr), -1);
    EXPECT_EQ(AWG_GetDutycycle(0, nullptr), -1);
    EXPECT_TRUE(AccessLog().empty());
    float amplitude = 0, phase = 0, offset = 0, duty = 0;
    AWG_GetAmplitude(0, &amplitude);
    AWG_GetDutycycle(0, &duty);
    EXPECT_EQ(amplitude, 1.0f);
    EXPECT_EQ(duty, 0.0f);
    AWG_GetPhase(0, &phase);
    AWG_GetOffset(0, &offset);
    EXPECT_EQ(phase, 0.5f);
    EXPECT_EQ(offset, 0.0f);
    EXPECT_EQ(Channel(0), channel0);
}

TEST(GeneratorWaveformModels, ChannelMemoriesSwapBetweenModel6AndModel9) {
    struct Case {
        int model;
        uint64_t channel0;
        uint64_t channel1;
    };
    const Case cases[] = {{6, 0x8080000, 0x8084000}, {9, 0x8084000, 0x8080000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        ASSERT_EQ(OpenBoard(c.model), 0);
        ASSERT_EQ(AWG_SetAmplitude(0, kFullScale), 0);  // sine on channel 0
        ASSERT_EQ(AWG_SetOffset(1, 2.375f), 0);         // flat top on channel 1
        const std::vector<uint16_t> memory0 = WaveformMemory(c.channel0);
        const std::vector<uint16_t> memory1 = WaveformMemory(c.channel1);
        EXPECT_EQ(memory0[2048], 16382);
        EXPECT_EQ(memory0[6144], 0);
        EXPECT_EQ(CountOf(memory1, 16382), kPoints);
        DAQ_CloseDevice();
    }
}

// FNV-1a over 16-bit values, lowest byte first.
uint64_t DigestOf(const std::vector<uint16_t> &points) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint16_t point : points) {
        for (int byte = 0; byte < 2; ++byte) {
            hash ^= static_cast<uint64_t>((point >> (8 * byte)) & 0xFFu);
            hash *= 0x100000001B3ull;
        }
    }
    return hash;
}

// Every update is 8192 separate 16-bit writes, point 0 first, and the content is bit for bit what
// the plain per-point loop wrote before the update path was made cheaper: the digests below were
// taken from that loop. A ladder of waveform, duty-cycle, amplitude, offset and phase settings on
// both channels of both generator models, including clipped and inverted waveforms.
TEST(GeneratorWaveformModels, UpdatesWriteTheSameCodesInTheSameOrder) {
    struct Step {
        int type;
        float duty, amplitude, offset, phase;
        uint64_t digest;  // of the waveform memory after the step
    };
    const Step steps[] = {
        {0, 0.0f, 4.75f, 0.0f, 0.0f, 0x9c471898c814a920},
        {0, 0.0f, 1.0f, 0.5f, 0.0f, 0x17c87666a4712c88},
        {0, 0.0f, 1.0f, 0.5f, 1.0f, 0xa4790a8f057aa560},
        {1, 0.3f, 2.375f, -1.25f, -kPi / 2, 0xc70d11b0986edc33},
        {2, 0.5f, 6.0f, 0.0f, 100.0f, 0xc7782ec39f357b30},
        {2, 1.0f / 8192.0f, -2.0f, 3.0f, -0.001f, 0xae006dcf925263d0},
        {0, 0.0f, 3.3f, -0.7f, 2.5f, 0xe2c4b014c6268046},
        {3, 0.6f, 4.0f, 0.25f, -7.0f, 0x4d5fd612221450c4},  // unknown type: the sine stays
    };
    for (int model : {6, 9}) {
        for (int channel = 0; channel < 2; ++channel) {
            ASSERT_EQ(OpenBoard(model), 0);
            const uint64_t base = LayoutOfModel(model).memory[channel];
            const uint64_t otherBase = LayoutOfModel(model).memory[1 - channel];
            const std::vector<uint16_t> other = WaveformMemory(otherBase);
            for (const Step &s : steps) {
                SCOPED_TRACE(testing::Message()
                             << "model " << model << " channel " << channel << " type " << s.type
                             << " amplitude " << s.amplitude << " phase " << s.phase);
                ASSERT_EQ(AWG_SetWaveformType(channel, s.type), 0);
                ASSERT_EQ(AWG_SetDutycycle(channel, s.duty), 0);
                ASSERT_EQ(AWG_SetAmplitude(channel, s.amplitude), 0);
                ASSERT_EQ(AWG_SetOffset(channel, s.offset), 0);
                StartLog();
                ASSERT_EQ(AWG_SetPhase(channel, s.phase), 0);
                const std::vector<SimAccess> log = AccessLog();
                SIM_SetAccessLog(0);
                ASSERT_EQ(log.size(), static_cast<size_t>(kPoints));
                const std::vector<uint16_t> memory = WaveformMemory(base);
                for (int k = 0; k < kPoints; ++k) {
                    ASSERT_TRUE(log[k].write == 1 && log[k].space == 0 && log[k].width == 2) << k;
                    ASSERT_EQ(log[k].offset, base + 2ull * k);
                    ASSERT_EQ(log[k].value, memory[k]) << k;
                }
                EXPECT_EQ(DigestOf(memory), s.digest) << std::hex << DigestOf(memory);
            }
            EXPECT_EQ(WaveformMemory(otherBase), other);
            DAQ_CloseDevice();
        }
    }
}

}  // namespace
