// The calibration procedures on the simulated board: the DC-offset sweep on every model against the
// board's own zero errors, the card-data file and a reopen, the truncation cases, the vertical
// scale, the single self-calibration, the state each leaves behind, and the refusals and time-outs
// that must leave every earlier result in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "calibration/calibration_procedures.h"
#include "calibration/frame_wait.h"
#include "calibration/offset_table.h"
#include "engine/engine_state.h"
#include "platform/os/os_services.h"
#include "support/open_model_board.h"

namespace {

using ostrel::g_engine;
using ostrel_test::OpenModel;

// Lane and setting counts per model as the board documentation lists them.
struct ModelCase {
    int32_t model;
    int32_t lanes, couplings, terminations, gains, attenuations;
    const char *cardFile;
    int32_t Span() const { return lanes * couplings * terminations * gains * attenuations; }
};
constexpr ModelCase kModels[] = {
    {5, 1, 2, 2, 3, 2, "CardData_K9T3A.dat"}, {6, 2, 2, 2, 2, 1, "CardData_K9T3A.dat"},
    {7, 1, 2, 2, 2, 1, "CardData_K9T3A.dat"}, {8, 4, 2, 2, 2, 1, "CardData_P2W8B.dat"},
    {9, 2, 2, 2, 2, 1, "CardData_K9T3A.dat"}, {10, 1, 2, 2, 2, 1, "CardData_K9T3A.dat"}};

const ModelCase &CaseOf(int32_t model) {
    for (const ModelCase &c : kModels) {
        if (c.model == model) return c;
    }
    return kModels[0];
}

// A zero error for every input and setting the board can decode, distinct among the settings one
// sweep steps through, within -30..30 codes. The sweep sums a frame of up to 2^19 samples in single
// precision, which is exact while the sum stays within 2^24: so the entries must equal these
// values exactly. (Larger zero errors come out up to a code toward zero, as single precision
// gives them.)
int ZeroErrorFor(int input, int coupling, int termination, int gain, int attenuation) {
    return (input * 24 + attenuation * 12 + gain * 4 + termination * 2 + coupling) % 61 - 30;
}

// The sweep's inputs are grounded, as the calibration expects. Model 7's 12-bit board centres its
// codes on 2048 while samples are read as raw - 8192 until calibrated, so its entries come out
// 6144 codes lower than its zero errors and every sample lies thousands of codes from 0. Its sums of 2^18 samples reach 2^30 to 2^31, where floats
// are 128 apart, so each addition may be off by 64 and so may the mean (plus one code of
// truncation); its zero errors are spread 150 codes apart so that the entries still tell the
// settings apart.
int MidScaleShift(int32_t model) { return model == 7 ? 2048 - 8192 : 0; }
int SweepTolerance(int32_t model) { return model == 7 ? 65 : 0; }
int WideZeroErrorFor(int input, int coupling, int termination, int gain, int attenuation) {
    return 150 * (gain * 4 + termination * 2 + coupling) + 40 * attenuation + 10 * input - 500;
}
using ZeroErrors = int (*)(int, int, int, int, int);
ZeroErrors SweepZeroErrors(int32_t model) { return model == 7 ? WideZeroErrorFor : ZeroErrorFor; }

void SetAllZeroErrors(const ModelCase &c, int (*codes)(int, int, int, int, int)) {
    const int inputs = c.lanes == 1 ? 4 : c.lanes;  // single-lane boards: the input channels
    for (int input = 0; input < inputs; ++input)
        for (int coupling = 0; coupling < 2; ++coupling)
            for (int termination = 0; termination < 2; ++termination)
                for (int gain = 0; gain < 3; ++gain)
                    for (int attenuation = 0; attenuation < 2; ++attenuation)
                        SIM_SetZeroError(0, input, coupling, termination, gain, attenuation,
                                         codes(input, coupling, termination, gain, attenuation));
}

// The zero error the board now adds to a lane, from its own decoding of its registers (on a
// single-lane board the lane is the selected input channel).
int BoardZeroErrorNow(const ModelCase &c, int lane, ZeroErrors codes = ZeroErrorFor) {
    SimFrontEnd frontEnd{};
    EXPECT_EQ(SIM_GetFrontEnd(0, c.lanes == 1 ? 0 : lane, &frontEnd), 0);
    const int input = c.lanes == 1 ? frontEnd.inputChannel : lane;
    return codes(input, frontEnd.coupling, frontEnd.termination, frontEnd.gain,
                 frontEnd.attenuation);
}

// Steps through the combinations as the sweep does (attenuation slowest, lane fastest) and notes
// what the board then measures on the stepped lane. Step k is table entry k.
std::vector<int16_t> ZeroErrorsInSweepOrder(const ModelCase &c, ZeroErrors codes) {
    std::vector<int16_t> expected;
    for (int a = 0; a < c.attenuations; ++a)
        for (int g = 0; g < c.gains; ++g)
            for (int t = 0; t < c.terminations; ++t)
                for (int cp = 0; cp < c.couplings; ++cp)
                    for (int m = 0; m < c.lanes; ++m) {
                        DAQ_SetGain(m, g);
                        DAQ_SetCoupling(m, cp);
                        DAQ_SetInputChannel(m);
                        DAQ_SetTermination(m, t);
                        DAQ_SetAttenuation(m, a);
                        expected.push_back(static_cast<int16_t>(BoardZeroErrorNow(c, m, codes)));
                    }
    return expected;
}

std::vector<uint8_t> ReadFileBytes(const char *name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::vector<int16_t> Table() {
    const auto &table = g_engine.calibration.OffsetTable;
    return std::vector<int16_t>(std::begin(table), std::end(table));
}

std::vector<int16_t> ChannelOffsets() {
    const auto &offsets = g_engine.calibration.ChannelOffsets;
    return std::vector<int16_t>(std::begin(offsets), std::end(offsets));
}

// The 128 entries of a card-data file image (after its 4-byte ID).
std::vector<int16_t> EntriesOf(const std::vector<uint8_t> &file) {
    std::vector<int16_t> entries;
    for (size_t i = 4; i + 1 < file.size() && entries.size() < 128; i += 2) {
        entries.push_back(static_cast<int16_t>(file[i] | (file[i + 1] << 8)));
    }
    return entries;
}

uint32_t IdOf(const std::vector<uint8_t> &file) {
    if (file.size() < 4) return 0;
    return file[0] | (file[1] << 8) | (file[2] << 16) | (static_cast<uint32_t>(file[3]) << 24);
}

int32_t Trigger() {
    int32_t trigger = -12345;
    DAQ_GetTrigger(&trigger);
    return trigger;
}

// The state every procedure leaves: acquisition stopped, the caller's geometry back in force (none
// when the caller had configured none), calibration mode off.
void ExpectCalibrationGeometryStopped(uint32_t callerLength = 0, uint32_t callerNumber = 0) {
    EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
    EXPECT_EQ(g_engine.acquisition.RecordLength, callerLength);
    EXPECT_EQ(g_engine.acquisition.RecordNumber, callerNumber);
    EXPECT_EQ(g_engine.acquisition.HostBuffersAllocated, callerLength != 0);
    EXPECT_FALSE(g_engine.calibration.CalibrationActive);
}

// Configures the geometry in force (or 1024 x 64 when none is) afresh and starts it, reads one
// frame into four lane buffers and stops.
std::vector<std::vector<int16_t>> ReadOneFrame() {
    const bool configured = g_engine.acquisition.RecordLength != 0;
    const uint32_t length = configured ? g_engine.acquisition.RecordLength : 1024;
    const uint32_t number = configured ? g_engine.acquisition.RecordNumber : 64;
    std::vector<std::vector<int16_t>> lanes(
        4, std::vector<int16_t>(size_t{length} * number, INT16_MIN));
    EXPECT_EQ(DAQ_ConfigAcquisition_and_Start(length, number), 0);
    bool announced = false;
    for (int poll = 0; poll < 10000 && !announced; ++poll) {
        announced = DAQ_NewDataFrameAvailable() != 0;
        if (!announced) ostrel::os::SleepMilliseconds(1);
    }
    EXPECT_TRUE(announced) << "no frame within 10 s";
    EXPECT_EQ(
        DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(), lanes[3].data()), 0);
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    return lanes;
}

double MeanOf(const std::vector<int16_t> &samples) {
    double sum = 0;
    for (const int16_t s : samples) sum += s;
    return samples.empty() ? 0.0 : sum / static_cast<double>(samples.size());
}

class CalibrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0); }
    void TearDown() override {
        ostrel::FailLaneBufferAllocations(false);
        DAQ_CloseDevice();
    }
};

// ---- DC offset on every model -------------------------------------------------------------------

class DcOffsetOnModel : public CalibrationTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DcOffsetOnModel, WritesTheBoardsZeroErrorsSavesThemAndAReopenGivesThemBack) {
    const ModelCase &c = CaseOf(GetParam());
    const uint32_t deviceId = ostrel_test::DeviceIdOfModel(c.model);
    OpenModel(c.model);
    SetAllZeroErrors(c, SweepZeroErrors(c.model));
    for (int input = 0; input < 4; ++input) {
        SIM_SetInputSignal(0, input, 0.0, 0.0, 0.0, 0.0);
    }
    std::vector<int16_t> expected = ZeroErrorsInSweepOrder(c, SweepZeroErrors(c.model));
    for (int16_t &entry : expected) entry = static_cast<int16_t>(entry + MidScaleShift(c.model));
    ASSERT_EQ(static_cast<int32_t>(expected.size()), c.Span());

    // The application's settings of lane 0, the trigger and a configuration of its own.
    DAQ_SetInputChannel(0);
    DAQ_SetGain(0, 1);
    DAQ_SetCoupling(0, 1);
    DAQ_SetTermination(0, 0);
    DAQ_SetAttenuation(0, 0);
    SimFrontEnd lane0Before{};
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &lane0Before), 0);
    DAQ_SetTrigger(3);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 64), 0);
    // Entries above the span must come through untouched.
    for (int i = c.Span(); i < 128; ++i)
        g_engine.calibration.OffsetTable[i] = static_cast<int16_t>(1000 + i);

    ASSERT_EQ(DAQ_Calibration_DCOffset(), 0);

    const std::vector<int16_t> table = Table();
    for (int i = 0; i < 128; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i);
        if (i < c.Span()) {
            EXPECT_NEAR(table[i], expected[i], SweepTolerance(c.model));
        } else {
            EXPECT_EQ(table[i], 1000 + i);
        }
    }
    ExpectCalibrationGeometryStopped(1024, 64);
    EXPECT_EQ(Trigger(), 3);
    SimFrontEnd lane0After{};
    ASSERT_EQ(SIM_GetFrontEnd(0, 0, &lane0After), 0);
    EXPECT_EQ(std::tie(lane0After.inputChannel, lane0After.coupling, lane0After.termination,
                       lane0After.gain, lane0After.attenuation),
              std::tie(lane0Before.inputChannel, lane0Before.coupling, lane0Before.termination,
                       lane0Before.gain, lane0Before.attenuation));

    // The same table in the card-data file of the model.
    const std::vector<uint8_t> file = ReadFileBytes(c.cardFile);
    ASSERT_EQ(file.size(), 260u);
    EXPECT_EQ(IdOf(file), deviceId);
    EXPECT_EQ(EntriesOf(file), table);

    // Every lane's offset in force now comes from the new table: frames at the settings in force
    // read a mean of 0 on every lane (noise-free inputs).
    const std::vector<std::vector<int16_t>> lanes = ReadOneFrame();
    for (int lane = 0; lane < c.lanes; ++lane) {
        SCOPED_TRACE(testing::Message() << "lane " << lane);
        EXPECT_NEAR(MeanOf(lanes[lane]), 0.0, SweepTolerance(c.model));
    }

    DAQ_CloseDevice();
    OpenModel(c.model);
    EXPECT_EQ(Table(), table);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, DcOffsetOnModel, ::testing::Values(5, 6, 7, 8, 9, 10),
                         [](const auto &info) { return "Model" + std::to_string(info.param); });

// ---- the sweep's order --------------------------------------------------------------------------

// Watches the board's decoded front end while the calibration runs on another thread; each step
// holds its setting for the settle time, so every step is seen many times, and settings seen in
// fewer than three polls in a row (the moments between two setters of one step) are dropped.
TEST_F(CalibrationTest, SweepStepsThroughTheSettingsInAscendingEntryOrder) {
    OpenModel(5);
    const ModelCase &c = CaseOf(5);
    using State =
        std::tuple<int, int, int, int, int>;  // input, coupling, termination, gain, atten.
    std::atomic<bool> done{false};
    int32_t result = -2;
    std::thread calibration([&] {
        result = DAQ_Calibration_DCOffset();
        done.store(true);
    });
    std::vector<State> seen;
    State candidate{-9, -9, -9, -9, -9};
    int repeats = 0;
    while (!done.load()) {
        SimFrontEnd frontEnd{};
        SIM_GetFrontEnd(0, 0, &frontEnd);
        const State now{frontEnd.inputChannel, frontEnd.coupling, frontEnd.termination,
                        frontEnd.gain, frontEnd.attenuation};
        repeats = now == candidate ? repeats + 1 : 1;
        candidate = now;
        if (repeats == 3 && (seen.empty() || seen.back() != now)) seen.push_back(now);
        ostrel::os::SleepMilliseconds(1);
    }
    calibration.join();
    ASSERT_EQ(result, 0);

    std::vector<State> sweep;
    for (int a = 0; a < c.attenuations; ++a)
        for (int g = 0; g < c.gains; ++g)
            for (int t = 0; t < c.terminations; ++t)
                for (int cp = 0; cp < c.couplings; ++cp) sweep.emplace_back(0, cp, t, g, a);
    const auto first = std::find(seen.begin(), seen.end(), sweep.front());
    ASSERT_NE(first, seen.end());
    ASSERT_GE(seen.end() - first, static_cast<ptrdiff_t>(sweep.size()));
    EXPECT_TRUE(std::equal(sweep.begin(), sweep.end(), first));
}

// ---- truncation ---------------------------------------------------------------------------------

int NoZeroError(int, int, int, int, int) { return 0; }

TEST_F(CalibrationTest, DcOffsetTruncatesTowardZero) {
    struct Case {
        const char *name;
        double dc, noise;  // codes above mid-scale; noise spreads the codes around the mean
        int16_t entry;
    };
    const Case cases[] = {
        {"codes all 8197", 5.0, 0.0, 5},
        // Codes averaging 8189.3: rounding down would give -3.
        {"mean 8189.3", -2.7, 3.0, -2},
        {"mean 8194.6", 2.6, 3.0, 2},
    };
    OpenModel(10);
    const ModelCase &model = CaseOf(10);
    SetAllZeroErrors(model, NoZeroError);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int input = 0; input < 4; ++input) {
            ASSERT_EQ(SIM_SetInputSignal(0, input, c.dc, 0.0, 0.0, c.noise), 0);
        }
        ASSERT_EQ(DAQ_Calibration_DCOffset(), 0);
        for (int i = 0; i < model.Span(); ++i)
            EXPECT_EQ(g_engine.calibration.OffsetTable[i], c.entry) << i;
    }
}

// ---- vertical scale -----------------------------------------------------------------------------

// Zero errors and table entries all 0, so lane 0 reads the signal itself.
void ZeroOffsetsEverywhere(const ModelCase &c) {
    SetAllZeroErrors(c, NoZeroError);
    std::fill(std::begin(g_engine.calibration.OffsetTable),
              std::end(g_engine.calibration.OffsetTable), 0);
    for (int lane = 0; lane < c.lanes; ++lane) ostrel::UpdateChannelOffset(lane);
}

TEST_F(CalibrationTest, VerticalScaleFromASpanOfMinus4000ToPlus4000) {
    OpenModel(5);
    const ModelCase &c = CaseOf(5);
    ZeroOffsetsEverywhere(c);
    uint32_t divider = 0;
    float megasamples = 0;
    DAQ_GetSamplingRate(&divider, &megasamples);
    // A sine of 4000 codes whose period is no whole number of samples reaches both peaks.
    ASSERT_EQ(SIM_SetInputSignal(0, 0, 0.0, 4000.0, megasamples * 1e6 * 0.0141421356, 0.0), 0);
    DAQ_SetTrigger(6);
    DAQ_SetGain(0, 2);
    const std::vector<int16_t> offsetsBefore = ChannelOffsets();

    ASSERT_EQ(DAQ_Calibration_VerticalScale(), 0);
    EXPECT_EQ(g_engine.model.VoltsPerCode, 0.00025f);
    ExpectCalibrationGeometryStopped();
    EXPECT_EQ(Trigger(), 6);
    int32_t gain = -1;
    DAQ_GetGain(0, &gain);
    EXPECT_EQ(gain, 2);
    EXPECT_EQ(ChannelOffsets(), offsetsBefore);
}

TEST_F(CalibrationTest, VerticalScaleOnAFlatLaneKeepsTheScale) {
    OpenModel(6);
    ZeroOffsetsEverywhere(CaseOf(6));
    DAQ_SetTrigger(2);
    const float scaleBefore = g_engine.model.VoltsPerCode;
    EXPECT_EQ(DAQ_Calibration_VerticalScale(), -1);
    EXPECT_EQ(g_engine.model.VoltsPerCode, scaleBefore);
    ExpectCalibrationGeometryStopped();
    EXPECT_EQ(Trigger(), 2);
}

// ---- single self-calibration --------------------------------------------------------------------

TEST_F(CalibrationTest, SelfCalibrationTakesTheMeanRawCode) {
    OpenModel(5);
    const ModelCase &c = CaseOf(5);
    SetAllZeroErrors(c, NoZeroError);
    // Raw codes averaging 8200.9.
    ASSERT_EQ(SIM_SetInputSignal(0, 0, 8.9, 0.0, 0.0, 3.0), 0);
    DAQ_SetTrigger(5);
    const std::vector<int16_t> tableBefore = Table();

    ASSERT_EQ(DAQ_SelfCalibrationOnce(), 0);
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[0], 8200);
    EXPECT_EQ(Table(), tableBefore);
    ExpectCalibrationGeometryStopped();
    EXPECT_EQ(Trigger(), 5);  // the single self-calibration leaves the trigger alone

    // Frames at that input now read a mean near 0.
    const std::vector<std::vector<int16_t>> lanes = ReadOneFrame();
    EXPECT_NEAR(MeanOf(lanes[0]), 0.9, 0.1);

    // The next setter chooses the offset from the table again.
    DAQ_SetGain(0, 0);
    int32_t input = -1, coupling = -1, termination = -1, attenuation = -1;
    DAQ_GetInputChannel(&input);
    DAQ_GetCoupling(input, &coupling);
    DAQ_GetTermination(input, &termination);
    DAQ_GetAttenuation(input, &attenuation);
    const int entry = input + 1 * (coupling + 2 * (termination + 2 * (0 + 3 * attenuation)));
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[0],
              8192 + g_engine.calibration.OffsetTable[entry]);
}

// ---- time-outs, refusals ------------------------------------------------------------------------

// What a procedure that cannot finish must leave exactly as it was.
struct Results {
    std::vector<int16_t> table;
    std::vector<uint8_t> cardFile;
    float voltsPerCode;
    int16_t singleLaneOffset;
    int32_t trigger;

    static Results Take(const char *cardFile) {
        return {Table(), ReadFileBytes(cardFile), g_engine.model.VoltsPerCode,
                g_engine.calibration.ChannelOffsets[0], Trigger()};
    }
    void ExpectSame(const Results &o) const {
        EXPECT_EQ(table, o.table);
        EXPECT_EQ(cardFile, o.cardFile);
        EXPECT_EQ(voltsPerCode, o.voltsPerCode);
        EXPECT_EQ(singleLaneOffset, o.singleLaneOffset);
        EXPECT_EQ(trigger, o.trigger);
    }
};

// A card-data file with every entry 0x1111 + i, so that a rewrite would show.
void WriteKnownCardFile(const ModelCase &c) {
    const uint32_t id = ostrel_test::DeviceIdOfModel(c.model);
    std::ofstream out(c.cardFile, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(id >> (8 * i)));
    for (int i = 0; i < 128; ++i) {
        const auto word = static_cast<uint16_t>(0x111 + i);
        out.put(static_cast<char>(word & 0xFF));
        out.put(static_cast<char>(word >> 8));
    }
}

using Procedure = int32_t (*)();
struct ProcedureCase {
    const char *name;
    Procedure run;
    int32_t model;
};
const ProcedureCase kProcedures[] = {{"DC offset", DAQ_Calibration_DCOffset, 8},
                                     {"vertical scale", DAQ_Calibration_VerticalScale, 6},
                                     {"single self-calibration", DAQ_SelfCalibrationOnce, 5}};

double SecondsSince(int64_t start) {
    return static_cast<double>(ostrel::os::PerformanceCounter() - start) /
           static_cast<double>(ostrel::os::PerformanceFrequency());
}

// The board accepts descriptors and never completes them: no frame ever comes. Each procedure
// gives up after its bound, puts the trigger and the settings back, keeps every earlier result,
// and runs normally once the board is healthy again.
TEST_F(CalibrationTest, StalledBoardEndsEachProcedureWithNothingLost) {
    for (const ProcedureCase &p : kProcedures) {
        SCOPED_TRACE(p.name);
        const ModelCase &c = CaseOf(p.model);
        WriteKnownCardFile(c);
        OpenModel(c.model);
        SetAllZeroErrors(c, ZeroErrorFor);
        ASSERT_EQ(SIM_SetInputSignal(0, 0, 0.0, 1000.0, 1.0e5, 0.0), 0);  // a span for the scale
        g_engine.calibration.ChannelOffsets[0] = 8201;  // as a single self-calibration leaves it
        DAQ_SetTrigger(4);
        const Results before = Results::Take(c.cardFile);
        const std::vector<int16_t> offsetsBefore = ChannelOffsets();

        ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
        const int64_t start = ostrel::os::PerformanceCounter();
        EXPECT_EQ(p.run(), -1);
        EXPECT_GE(SecondsSince(start), ostrel::kFrameWaitFloorSeconds);
        Results::Take(c.cardFile).ExpectSame(before);
        ExpectCalibrationGeometryStopped();
        // The first lane has its settings back, so its offset in force is the one it had.
        EXPECT_EQ(g_engine.calibration.ChannelOffsets[1], offsetsBefore[1]);

        ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
        EXPECT_EQ(p.run(), 0);
        DAQ_CloseDevice();
    }
}

TEST_F(CalibrationTest, FailedLaneBufferAllocationChangesNothing) {
    for (const ProcedureCase &p : kProcedures) {
        SCOPED_TRACE(p.name);
        OpenModel(p.model);
        DAQ_SetTrigger(7);
        ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1024, 64), 0);
        const Results before = Results::Take(CaseOf(p.model).cardFile);
        const std::vector<int16_t> offsetsBefore = ChannelOffsets();
        ostrel::FailLaneBufferAllocations(true);
        EXPECT_EQ(p.run(), -1);
        ostrel::FailLaneBufferAllocations(false);
        Results::Take(CaseOf(p.model).cardFile).ExpectSame(before);
        EXPECT_EQ(ChannelOffsets(), offsetsBefore);
        // The application's acquisition was not even stopped.
        EXPECT_FALSE(g_engine.acquisition.ThreadStopped.load());
        EXPECT_EQ(g_engine.acquisition.RecordLength, 1024u);
        EXPECT_FALSE(g_engine.calibration.CalibrationActive);
        DAQ_CloseDevice();
    }
}

// A board whose DMA buffer could not be locked has no acquisition to configure.
TEST_F(CalibrationTest, RefusedWithoutADmaBuffer) {
    const uint32_t id = ostrel_test::DeviceIdOfModel(5);
    ASSERT_EQ(SIM_SetBoards(&id, 1), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_LOCK, 0x20000001), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), -4);
    const Results before = Results::Take(CaseOf(5).cardFile);
    for (const ProcedureCase &p : kProcedures) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(p.run(), -1);
        EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
        EXPECT_FALSE(g_engine.calibration.CalibrationActive);
    }
    Results::Take(CaseOf(5).cardFile).ExpectSame(before);
}

// A record length the board cannot slice into its chunks: the configuration is refused, and the
// procedures return before starting anything or touching the trigger.
TEST_F(CalibrationTest, RefusedWhenTheAcquisitionCannotBeConfigured) {
    OpenModel(6);
    DAQ_SetTrigger(9);
    g_engine.model.MaxRecordLength = 0x22000;  // two lanes of it exceed one DMA chunk
    const Results before = Results::Take(CaseOf(6).cardFile);
    const std::vector<int16_t> offsetsBefore = ChannelOffsets();
    for (const ProcedureCase &p : kProcedures) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(p.run(), -1);
        EXPECT_TRUE(g_engine.acquisition.ThreadStopped.load());
        EXPECT_FALSE(g_engine.calibration.CalibrationActive);
        Results::Take(CaseOf(6).cardFile).ExpectSame(before);
        EXPECT_EQ(ChannelOffsets(), offsetsBefore);
    }
}

// After the sweep on a two-lane board the second lane keeps the sweep's last setting, and its
// offset in force is chosen from the new table.
TEST_F(CalibrationTest, SecondLaneKeepsTheLastStepOfTheSweep) {
    OpenModel(6);
    const ModelCase &c = CaseOf(6);
    SetAllZeroErrors(c, ZeroErrorFor);
    ASSERT_EQ(DAQ_Calibration_DCOffset(), 0);
    int32_t coupling = -1, termination = -1, gain = -1;
    DAQ_GetCoupling(1, &coupling);
    DAQ_GetTermination(1, &termination);
    DAQ_GetGain(1, &gain);
    EXPECT_EQ(coupling, 1);
    EXPECT_EQ(termination, 1);
    EXPECT_EQ(gain, 1);
    // Lane 1, coupling 1, termination 1, gain 1: entry 1 + 2 x (1 + 2 x (1 + 2 x 1)) = 15.
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[2], 8192 + g_engine.calibration.OffsetTable[15]);
    EXPECT_EQ(g_engine.calibration.OffsetTable[15], ZeroErrorFor(1, 1, 1, 1, 0));
    EXPECT_EQ(g_engine.calibration.ChannelOffsets[2], 8192 + ZeroErrorFor(1, 1, 1, 1, 0));
    EXPECT_FALSE(g_engine.calibration.CalibrationActive);
}

// Each test process ends with the board closed and the simulator at power-on, so that the
// simulated boards' own threads are joined before the process exits.
class CloseAndResetAtExit : public ::testing::Environment {
public:
    void TearDown() override {
        DAQ_CloseDevice();
        SIM_Reset();
    }
};
[[maybe_unused]] const ::testing::Environment *const kCloseAndResetAtExit =
    ::testing::AddGlobalTestEnvironment(new CloseAndResetAtExit);

}  // namespace
