// What the simulated ADC puts into the records: known levels plus the board's zero error, rounding
// and limiting to the ADC range, sines at the asked frequency on the rate table's time base,
// noise of the asked RMS, and the generator looped back into the ADC lanes.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "test_sim_dma_fake_port.h"

namespace {

using namespace simdma_test;

// A board on a fake bus side, configured like the engine does, with immediate pacing.
struct Bench {
    FakePort port;
    BoardDma::Impl dma;
    Geometry geometry;
    uint32_t mask = 0;
    uint32_t chunk = 0;

    Bench(int model, uint32_t recordLength, uint32_t recordsPerFrame, uint32_t divider = 0)
        : port(model), dma(port) {
        EXPECT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
        mask = ProgramWindow(dma, port.BusAddress());
        ResetDispatcher(dma);
        geometry = Configure(port, model, recordLength, recordsPerFrame, divider);
    }
    // Every lane's samples of the next `chunks` chunks, record after record.
    std::vector<std::vector<int>> AcquireLanes(uint32_t chunks) {
        std::vector<std::vector<int>> lanes(geometry.lanes);
        for (uint32_t done = 0; done < chunks; ++done, ++chunk) {
            const uint32_t target = chunk % 16;
            QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, target, geometry.chunkBytes()),
                            geometry.chunkBytes());
            EXPECT_EQ(Status(dma), 0x202u);
            WriteBar32(dma, 0x6000000, 0x200);
            for (uint32_t slot = 0; slot < geometry.recordsInMemory; ++slot) {
                for (uint32_t point = 0; point < geometry.recordLength; ++point) {
                    for (uint32_t lane = 0; lane < geometry.lanes; ++lane) {
                        lanes[lane].push_back(
                            port.Sample(SampleOffset(geometry, target, slot, lane, point)));
                    }
                }
            }
        }
        return lanes;
    }
    std::vector<int> Acquire(uint32_t chunks, uint32_t lane) { return AcquireLanes(chunks)[lane]; }
    // Both lanes of the next chunk's first record (two-lane boards).
    std::vector<int> FirstRecord(uint32_t lane) {
        const uint32_t target = chunk % 16;
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, target, geometry.chunkBytes()),
                        geometry.chunkBytes());
        ++chunk;
        std::vector<int> samples;
        for (uint32_t point = 0; point < geometry.recordLength; ++point) {
            samples.push_back(port.Sample(SampleOffset(geometry, target, 0, lane, point)));
        }
        return samples;
    }
};

double Mean(const std::vector<int> &samples) {
    double sum = 0;
    for (int sample : samples) sum += sample;
    return sum / static_cast<double>(samples.size());
}

// Frequency from the rising crossings of the mid level, interpolated between samples.
double MeasureFrequency(const std::vector<int> &samples, double mid, double rateHz) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < mid && samples[i] >= mid) {
            const double at = static_cast<double>(i - 1) +
                              (mid - samples[i - 1]) / static_cast<double>(samples[i] - samples[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) / ((last - first) / rateHz);
}

// ---- levels and zero errors ---------------------------------------------------------------------

TEST_F(SimDmaTest, LevelsPlusDefaultZeroErrorsAreExact) {
    // Power-on zero errors, worked from the documented pattern
    // 1 + 2 x (35 input - 20 coupling + 13 termination + 27 gain - 9 attenuation - 40).
    struct Lane {
        SimFrontEnd setting;
        double dc;
        int zeroError;
    };
    const Lane lanes[] = {{{0, 0, 0, 0, 0}, 0.0, -79},
                          {{1, 1, 0, 0, 0}, 250.0, -49},
                          {{2, 0, 1, 1, 0}, -1234.0, 141},
                          {{3, 1, 1, 2, 1}, 3000.0, 207}};
    Bench bench(8, 1024, 128);
    for (int lane = 0; lane < 4; ++lane) {
        bench.port.SetFrontEnd(lane, lanes[lane].setting);
        ASSERT_EQ(bench.dma.SetInputSignal(lane, {lanes[lane].dc, 0, 0, 0}), 0);
    }
    for (uint32_t lane = 0; lane < 4; ++lane) {
        SCOPED_TRACE(lane);
        const std::vector<int> samples = bench.Acquire(1, lane);
        const int expected = 8192 + static_cast<int>(lanes[lane].dc) + lanes[lane].zeroError;
        for (size_t i = 0; i < samples.size(); i += 101) ASSERT_EQ(samples[i], expected) << i;
    }
}

TEST_F(SimDmaTest, ZeroErrorPatternIsNonZeroAndWithinRange) {
    FakePort port(5);
    BoardDma::Impl dma(port);
    int count = 0;
    for (int input = 0; input < 4; ++input) {
        for (int coupling = 0; coupling < 2; ++coupling) {
            for (int termination = 0; termination < 2; ++termination) {
                for (int gain = 0; gain < 3; ++gain) {
                    for (int attenuation = 0; attenuation < 2; ++attenuation) {
                        const int codes = dma.ZeroError(
                            input, SimFrontEnd{input, coupling, termination, gain, attenuation});
                        EXPECT_NE(codes, 0);
                        EXPECT_GE(codes, -300);
                        EXPECT_LE(codes, 300);
                        ++count;
                    }
                }
            }
        }
    }
    EXPECT_EQ(count, 96);
    // A setting the board cannot decode has none.
    EXPECT_EQ(dma.ZeroError(0, SimFrontEnd{0, -1, 0, 0, 0}), 0);
    EXPECT_EQ(dma.ZeroError(1, SimFrontEnd{1, 0, 0, 3, 0}), 0);
}

TEST_F(SimDmaTest, SetZeroErrorChangesOneSettingAndRefusesBadArguments) {
    Bench bench(6, 1000, 200);
    bench.port.SetFrontEnd(0, SimFrontEnd{0, 1, 1, 1, 0});
    bench.port.SetFrontEnd(1, SimFrontEnd{1, 1, 1, 1, 0});
    ASSERT_EQ(bench.dma.SetZeroError(1, 1, 1, 1, 0, -222), 0);
    struct Refusal {
        int input, coupling, termination, gain, attenuation, codes;
    };
    const Refusal refusals[] = {{2, 0, 0, 0, 0, 5},  {-1, 0, 0, 0, 0, 5}, {0, 2, 0, 0, 0, 5},
                                {0, 0, 2, 0, 0, 5},  {0, 0, 0, 3, 0, 5},  {0, 0, 0, 0, 2, 5},
                                {0, 0, 0, -1, 0, 5}, {1, 1, 1, 1, 0, 0x4000}};
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(testing::Message() << r.input << r.coupling << r.termination << r.gain
                                        << r.attenuation << " " << r.codes);
        EXPECT_EQ(bench.dma.SetZeroError(r.input, r.coupling, r.termination, r.gain,
                                         r.attenuation, r.codes),
                  -1);
    }
    // Lane 0 keeps its power-on value: 1 + 2 x (-20 + 13 + 27 - 40) = -39.
    EXPECT_EQ(bench.Acquire(1, 0)[5], 8192 - 39);
    EXPECT_EQ(bench.Acquire(1, 1)[5], 8192 - 222);
    // An undecodable setting (-1) has zero error 0.
    bench.port.SetFrontEnd(1, SimFrontEnd{1, -1, 1, 1, 0});
    EXPECT_EQ(bench.Acquire(1, 1)[5], 8192);
}

TEST_F(SimDmaTest, CodesAreRoundedAndLimitedToTheAdcRange) {
    struct Case {
        int model;
        double dc;
        int expected;  // zero error -79 of input 0 in the all-zero setting
    };
    const Case cases[] = {{8, 20000.0, 0x3FFF},  {8, -20000.0, 0},       {8, 0.6, 8192 - 79 + 1},
                          {8, 0.4, 8192 - 79},   {8, -0.4, 8192 - 79},   {8, -0.6, 8192 - 79 - 1},
                          // Model 7's 12 bits centre on 2048.
                          {7, 0.0, 2048 - 79},   {7, 2200.0, 0x0FFF},    {7, -1000.0, 1048 - 79},
                          {7, -3000.0, 0},
                          {5, 8270.0, 0x3FFF},   {5, 8269.0, 0x3FFF - 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " dc " << c.dc);
        Bench bench(c.model, 1024, 512);
        ASSERT_EQ(bench.dma.SetInputSignal(0, {c.dc, 0, 0, 0}), 0);
        const std::vector<int> samples = bench.Acquire(1, 0);
        EXPECT_EQ(samples.front(), c.expected);
        EXPECT_EQ(samples.back(), c.expected);
    }
}

TEST_F(SimDmaTest, InputSignalRefusesBadArguments) {
    FakePort port(9);
    BoardDma::Impl dma(port);
    const double nan = std::nan("");
    EXPECT_EQ(dma.SetInputSignal(2, {}), -1);  // two lanes
    EXPECT_EQ(dma.SetInputSignal(-1, {}), -1);
    EXPECT_EQ(dma.SetInputSignal(0, {nan, 0, 0, 0}), -1);
    EXPECT_EQ(dma.SetInputSignal(0, {0, INFINITY, 0, 0}), -1);
    EXPECT_EQ(dma.SetInputSignal(0, {0, 0, nan, 0}), -1);
    EXPECT_EQ(dma.SetInputSignal(0, {0, 0, 0, -1.0}), -1);
    EXPECT_EQ(dma.SetInputSignal(1, {1, 2, 3, 4}), 0);
}

// ---- sines and noise ----------------------------------------------------------------------------

TEST_F(SimDmaTest, SineHasTheAskedFrequencyAndAmplitudeOnTheRateTableTimeBase) {
    struct Case {
        int model;
        uint32_t divider;
        double rateHz;
        double frequencyHz;
        double amplitude;
        uint32_t chunks;
    };
    const Case cases[] = {{8, 0, 75e6, 1.234567e6, 5000, 3},   // several records per period
                          {8, 9, 10e6, 100e3, 3000, 3},        // divider code 9: 10 MS/s
                          {8, 40, 1e6, 9876.5, 4000, 3},       // out of range: the last rate
                          {7, 2, 500e6, 123.4567e6, 1500, 2},  // 12 bits around their mid-scale
                          {9, 3, 250e6, 3.3e6, 7000, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " f " << c.frequencyHz);
        Bench bench(c.model, 1024, 512, c.divider);
        const double dc = 100.0;
        ASSERT_EQ(bench.dma.SetInputSignal(0, {dc, c.amplitude, c.frequencyHz, 0}), 0);
        const std::vector<int> samples = bench.Acquire(c.chunks, 0);
        const double mid = (c.model == 7 ? 2048 : 8192) + dc - 79;
        EXPECT_NEAR(MeasureFrequency(samples, mid, c.rateHz) / c.frequencyHz, 1.0, 2e-5);
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        EXPECT_NEAR(*high - mid, c.amplitude, 1.0 + c.amplitude * (1 - std::cos(
                                                      std::numbers::pi * c.frequencyHz / c.rateHz)));
        EXPECT_NEAR(mid - *low, c.amplitude, 1.0 + c.amplitude * (1 - std::cos(
                                                      std::numbers::pi * c.frequencyHz / c.rateHz)));
        EXPECT_NEAR(Mean(samples), mid, c.amplitude * 2e-3);
    }
}

TEST_F(SimDmaTest, SineSamplesFollowTheSampleIndexAcrossRecords) {
    // A sine of exactly 64 samples per period, and one so slow that it is computed sample by
    // sample: both equal the rounded sine of the sample index, record after record.
    struct Case {
        int model;
        double rateHz;
        double frequencyHz;
    };
    const Case cases[] = {{5, 50e6, 50e6 / 64}, {5, 50e6, 30.0}, {10, 250e6, 17.5}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.frequencyHz);
        Bench bench(c.model, 1000, 524);
        ASSERT_EQ(bench.dma.SetInputSignal(0, {0, 8000, c.frequencyHz, 0}), 0);
        const std::vector<int> samples = bench.Acquire(3, 0);
        int mismatches = 0;
        for (size_t n = 0; n < samples.size(); ++n) {
            const double value = 8192 - 79 +
                                 8000 * std::sin(2 * std::numbers::pi * c.frequencyHz *
                                                 static_cast<double>(n) / c.rateHz);
            const int expected = static_cast<int>(std::floor(value + 0.5));
            ASSERT_LE(std::abs(samples[n] - expected), 1) << "sample " << n;
            mismatches += samples[n] != expected;
        }
        EXPECT_LT(mismatches, static_cast<int>(samples.size() / 100));
    }
}

TEST_F(SimDmaTest, NoiseHasTheAskedRmsAndDiffersBetweenLanes) {
    Bench bench(9, 1024, 512);
    ASSERT_EQ(bench.dma.SetInputSignal(0, {0, 0, 0, 20.0}), 0);
    ASSERT_EQ(bench.dma.SetInputSignal(1, {0, 0, 0, 5.0}), 0);
    const auto lanes = bench.AcquireLanes(3);
    const std::vector<int> &lane0 = lanes[0];
    const std::vector<int> &lane1 = lanes[1];
    ASSERT_EQ(lane0.size(), lane1.size());
    const double mean0 = Mean(lane0), mean1 = Mean(lane1);
    double squares0 = 0, squares1 = 0, cross = 0;
    for (size_t i = 0; i < lane0.size(); ++i) {
        squares0 += (lane0[i] - mean0) * (lane0[i] - mean0);
        squares1 += (lane1[i] - mean1) * (lane1[i] - mean1);
        cross += (lane0[i] - mean0) * (lane1[i] - mean1);
    }
    const double n = static_cast<double>(lane0.size());
    EXPECT_NEAR(std::sqrt(squares0 / n), 20.0, 0.4);
    EXPECT_NEAR(std::sqrt(squares1 / n), 5.0, 0.15);
    EXPECT_NEAR(mean0, 8192 - 79, 0.3);
    EXPECT_NEAR(mean1, 8192 - 9, 0.3);
    EXPECT_LT(std::abs(cross / std::sqrt(squares0 * squares1)), 0.05);
}

TEST_F(SimDmaTest, MidScaleIsHalfOfEachModelsCodeRange) {
    // A grounded input reads mid-scale plus the zero error of input 0 in the all-zero setting.
    const struct {
        int model;
        int midScale;
    } cases[] = {{5, 8192}, {6, 8192}, {7, 2048}, {8, 8192}, {9, 8192}, {10, 8192}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        Bench bench(c.model, 1024, 512);
        const std::vector<int> samples = bench.Acquire(1, 0);
        EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), c.midScale - 79);
        EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), c.midScale - 79);
    }
}

// The noise of record r as a list of records of samples minus their level.
std::vector<std::vector<double>> NoiseRecords(Bench &bench, uint32_t chunks) {
    const std::vector<int> samples = bench.Acquire(chunks, 0);
    const double mean = Mean(samples);
    std::vector<std::vector<double>> records;
    for (size_t start = 0; start + 1024 <= samples.size(); start += 1024) {
        records.emplace_back();
        for (size_t i = start; i < start + 1024; ++i) records.back().push_back(samples[i] - mean);
    }
    return records;
}

double Correlation(const std::vector<double> &a, const std::vector<double> &b) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return ab / std::sqrt(aa * bb);
}

TEST_F(SimDmaTest, NoiseDiffersFromRecordToRecordAndRepeatsWithItsSeed) {
    struct Case {
        int model;
        double amplitude;  // 0: noise on a level; else a sine, precomputed or streamed
        double frequencyHz;
    };
    const Case cases[] = {{9, 0, 0}, {9, 3000, 3.3e6}, {8, 2000, 1.234567e6}, {7, 0, 0},
                          {9, 3000, 250e6 * 0.37e-6}};  // a period beyond the precomputed cycle
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " amplitude " << c.amplitude);
        auto acquire = [&](uint64_t seed) {
            SIM_SetNoiseSeed(seed);
            Bench bench(c.model, 1024, 512);
            EXPECT_EQ(bench.dma.SetInputSignal(0, {0, c.amplitude, c.frequencyHz, 20.0}), 0);
            return bench.Acquire(2, 0);
        };
        const std::vector<int> first = acquire(12345);
        EXPECT_EQ(acquire(12345), first) << "the same seed repeats every sample";
        EXPECT_NE(acquire(54321), first);
        if (c.amplitude != 0) continue;
        SIM_SetNoiseSeed(777);
        Bench bench(c.model, 1024, 512);
        ASSERT_EQ(bench.dma.SetInputSignal(0, {0, 0, 0, 20.0}), 0);
        const auto records = NoiseRecords(bench, 3);
        ASSERT_GE(records.size(), 64u);
        double largest = 0;
        for (size_t r = 0; r + 1 < records.size(); ++r)
            largest = std::max(largest, std::abs(Correlation(records[r], records[r + 1])));
        EXPECT_LT(largest, 0.2) << "consecutive records share their noise";
        // Averaging n records divides the noise by the root of n.
        for (size_t n : {4u, 16u}) {
            double squares = 0;
            size_t count = 0;
            for (size_t group = 0; group + n <= records.size(); group += n) {
                for (size_t i = 0; i < 1024; ++i) {
                    double sum = 0;
                    for (size_t r = group; r < group + n; ++r) sum += records[r][i];
                    squares += (sum / n) * (sum / n);
                    ++count;
                }
            }
            EXPECT_NEAR(std::sqrt(squares / count), 20.0 / std::sqrt(static_cast<double>(n)),
                        0.1 * 20.0 / std::sqrt(static_cast<double>(n)))
                << n << " records";
        }
    }
}

// ---- loopback -----------------------------------------------------------------------------------

// Waveform memories with recognisable contents: channel 0 a ramp, channel 1 a short period.
void FillWaveforms(FakePort &port, uint64_t channel0, uint64_t channel1) {
    for (uint32_t point = 0; point < 8192; ++point) {
        port.SetWaveformPoint(channel0, point, static_cast<uint16_t>(100 + point));
        port.SetWaveformPoint(channel1, point, static_cast<uint16_t>(4000 + point % 100));
    }
}

TEST_F(SimDmaTest, LoopbackPlaysTheWaveformMemoriesAtTheirPhaseSteps) {
    struct Case {
        int model;
        uint64_t memory0, memory1;           // BAR 0 addresses of channels 0 and 1
        int32_t int0, frac0, int1, frac1;    // step registers of channels 0 and 1
        uint64_t edgesNumerator, edgesDenominator;  // 300 MHz over the sampling rate
    };
    const Case cases[] = {{9, 0x8084000, 0x8080000, -2026, -2024, -2030, -2028, 6, 5},
                          {6, 0x8080000, 0x8084000, -2030, -2028, -2026, -2024, 2, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.model);
        Bench bench(c.model, 1024, 512);
        FillWaveforms(bench.port, c.memory0, c.memory1);
        bench.port.SetRegister(c.int0, 3);            // channel 0: 3 points per edge
        bench.port.SetRegister(c.frac0, 0);
        bench.port.SetRegister(c.int1, 0);            // channel 1: half a point per edge
        bench.port.SetRegister(c.frac1, 0x80000000u);
        ASSERT_EQ(bench.dma.SetInputSignal(0, {500, 0, 0, 0}), 0);  // not what the lane sees
        ASSERT_EQ(bench.dma.SetLoopback(true), 0);
        const auto lanes = bench.AcquireLanes(2);
        const std::vector<int> &lane0 = lanes[0];
        const std::vector<int> &lane1 = lanes[1];
        for (uint64_t n = 0; n < lane0.size(); ++n) {
            const uint64_t edges = n * c.edgesNumerator / c.edgesDenominator;
            ASSERT_EQ(lane0[n], static_cast<int>(100 + (3 * edges) % 8192) - 79) << n;
            ASSERT_EQ(lane1[n], static_cast<int>(4000 + (edges / 2 % 8192) % 100) - 9) << n;
        }
        // Loopback off: the input signal again.
        ASSERT_EQ(bench.dma.SetLoopback(false), 0);
        EXPECT_EQ(bench.Acquire(1, 0)[7], 8192 + 500 - 79);
    }
}

TEST_F(SimDmaTest, LoopbackHeldOutputAndPhaseRestartOnRelease) {
    Bench bench(9, 1024, 512);
    FillWaveforms(bench.port, 0x8084000, 0x8080000);
    bench.port.SetRegister(-2026, 1);
    bench.port.SetRegister(-2030, 1);
    ASSERT_EQ(bench.dma.SetLoopback(true), 0);
    bench.Acquire(1, 0);

    // Channel 1 held off: lane 1 sees the generator's mid code plus its zero error.
    bench.port.SetRegister(-2022, 2);
    bench.dma.Bar0Written(0x7FFF034, 4);
    std::vector<int> lane1 = bench.FirstRecord(1);
    EXPECT_EQ(lane1.front(), 8191 - 9);
    EXPECT_EQ(lane1.back(), 8191 - 9);

    // A synchronisation: both held, then released together; the phases restart at the release.
    bench.port.SetRegister(-2022, 3);
    bench.dma.Bar0Written(0x7FFF034, 4);
    bench.port.SetRegister(-2022, 0);
    bench.dma.Bar0Written(0x7FFF034, 4);
    const std::vector<int> lane0 = bench.FirstRecord(0);
    for (uint64_t n = 0; n < 64; ++n) {
        ASSERT_EQ(lane0[n], static_cast<int>(100 + (n * 6 / 5) % 8192) - 79) << n;
    }

    // A waveform-memory write is seen by the next chunk.
    for (uint32_t point = 0; point < 8192; ++point) {
        bench.port.SetWaveformPoint(0x8084000, point, 1234);
    }
    bench.dma.Bar0Written(0x8084000, 2);
    EXPECT_EQ(bench.FirstRecord(0)[100], 1234 - 79);
}

TEST_F(SimDmaTest, LoopbackShowsAWaveformChangeInTheNextRecordsAtTheBoardsPace) {
    // Model 9 at its real pace, two chunks in flight as the engine keeps them; channel 0's memory
    // changes from one level to another between two chunks' completions. Every record the
    // board writes after the change shows the new level; none after it shows the old one.
    FakePort port(9);
    BoardDma::Impl dma(port);
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 9, 1024, 512);
    constexpr uint64_t kMemory0 = 0x8084000;  // channel 0 on model 9
    auto fill = [&](uint16_t level) {
        for (uint32_t point = 0; point < 8192; ++point) {
            port.SetWaveformPoint(kMemory0, point, level);
            dma.Bar0Written(kMemory0 + 2 * point, 2);  // what the bus does on a BAR 0 write
        }
    };
    fill(1000);
    port.SetRegister(-2026, 1);
    ASSERT_EQ(dma.SetLoopback(true), 0);
    std::vector<int> levels;  // lane 0's first point of every record, in order
    uint32_t changedAt = 0;   // records written before the change was made
    for (uint32_t chunk = 0; chunk < 12; ++chunk) {
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, chunk % 16, geometry.chunkBytes()),
                        geometry.chunkBytes());
        ASSERT_TRUE(WaitForStatus(dma, 0x202u)) << chunk;
        WriteBar32(dma, 0x6000000, 0x200);
        for (uint32_t slot = 0; slot < geometry.recordsInMemory; ++slot)
            levels.push_back(port.Sample(SampleOffset(geometry, chunk % 16, slot, 0, 0)));
        if (chunk == 5) {
            fill(3000);
            changedAt = static_cast<uint32_t>(levels.size());
        }
    }
    ASSERT_EQ(levels.size(), 12u * geometry.recordsInMemory);
    for (size_t record = 0; record < levels.size(); ++record) {
        EXPECT_EQ(levels[record], record < changedAt ? 1000 - 79 : 3000 - 79) << record;
    }
}

TEST_F(SimDmaTest, LoopbackOnlyOnGeneratorModels) {
    for (int model : {5, 7, 8, 10, -1}) {
        SCOPED_TRACE(model);
        FakePort port(model);
        BoardDma::Impl dma(port);
        EXPECT_EQ(dma.SetLoopback(true), -1);
    }
    for (int model : {6, 9}) {
        FakePort port(model);
        BoardDma::Impl dma(port);
        EXPECT_EQ(dma.SetLoopback(true), 0);
    }
}

}  // namespace
