// Streaming through DAQ_StreamRead on every model, from the simulated board: frames in order with
// their sequence numbers, whole frames marked whole, data equal to what DAQ_GetLatestFrame reads,
// each overflow policy under a reader that falls behind, records that never came zeroed and
// counted, bounded waits, the stop and its drain (also from a second thread), the refusals, and
// what ends a stream. DAQ_FrameInfo is checked frame by frame against its own promises: the
// frames lost before a frame equal the gap in the sequence, the records lost add up to what the
// sequence and the valid records say.
//
// The board's own stall (SIM_FAULT_DMA_STALL) is the tests' pause button: while it holds, no
// record arrives, so a test knows exactly where the next skipped record lands.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "platform/os/os_services.h"
#include "support/guarded_buffer.h"
#include "support/open_model_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using ostrel_test::GuardedBuffer;
using ostrel_test::OpenModel;

// A value no readout produces here: the levels below sit far from it.
constexpr int16_t kNeverWritten = 0x7F7F;
// Elements after each lane's frame that must stay untouched.
constexpr size_t kGuardSamples = 64;
// The wait for one frame: far above a frame's time at full pace, even under a sanitizer on a
// machine other builds share. Only a hang reaches it.
constexpr int32_t kFrameWaitMs = 20000;
// The bound within which a read that must not wait (or must end on a stop) has to come back.
// It tells a wait that never ends from one that ends; it measures no speed.
constexpr auto kReturnBound = std::chrono::seconds(30);
constexpr uint32_t kFaultStatus = 0x2000001F;
constexpr uint32_t kMinimumFramePoints = 524288;

const int32_t kModels[] = {5, 6, 7, 8, 9, 10};

std::string ModelName(const ::testing::TestParamInfo<int32_t> &info) {
    return "Model" + std::to_string(info.param);
}

uint32_t LengthUnitOf(int32_t model) {
    switch (model) {
        case 6: case 9: case 10: return 4;
        case 7: return 8;
        default: return 1;
    }
}

int32_t LaneCount() {
    int32_t lanes = 0;
    EXPECT_EQ(DAQ_GetADCNumber(&lanes), 0);
    return lanes;
}

uint32_t MaxRecordLength() {
    int32_t maximum = 0;
    EXPECT_EQ(DAQ_GetMaxRecordLength(&maximum), 0);
    return static_cast<uint32_t>(maximum);
}

// The record number at which a board frame holds exactly the minimum frame size, so that the
// configuration is not raised and every record the board makes is delivered.
uint32_t UnraisedNumber(uint32_t length, int32_t lanes) {
    return kMinimumFramePoints / (length * static_cast<uint32_t>(lanes));
}

// Seconds between two samples of a lane at the divider code in force, from the rate table as
// the board's getter reports it.
double SamplePeriodNow() {
    uint32_t divider = 0;
    float megasamples = 0.0f;
    EXPECT_EQ(DAQ_GetSamplingRate(&divider, &megasamples), 0);
    return 1.0 / (static_cast<double>(megasamples) * 1e6);
}

// The inputs a signal is set on: the lanes of a 2- or 4-lane board, the four selectable input
// channels of a single-lane one.
int InputCount(int32_t lanes) { return lanes == 1 ? 4 : lanes; }

// A constant level on each input, distinct per lane (a swapped lane shows) and far from 0 (a
// zeroed record shows); a single-lane board sees the same on every input it may select.
double LevelOf(int input) { return 1200.0 + 400.0 * input; }

void SetLevels(int32_t lanes) {
    for (int input = 0; input < InputCount(lanes); ++input) {
        ASSERT_EQ(SIM_SetInputSignal(0, input, LevelOf(input), 0.0, 0.0, 0.0), 0);
    }
}

DAQ_FrameInfo BlankInfo() {
    DAQ_FrameInfo info;
    std::memset(&info, 0xA5, sizeof(info));
    info.size = sizeof(DAQ_FrameInfo);
    return info;
}

bool SameBytes(const DAQ_FrameInfo &a, const DAQ_FrameInfo &b) {
    return std::memcmp(&a, &b, sizeof(DAQ_FrameInfo)) == 0;
}

// Four lane buffers of a frame plus guard elements, each ending against a protected page.
class StreamLanes {
public:
    StreamLanes(int32_t lanes, size_t samplesPerLane) : lanes_(lanes), samples_(samplesPerLane) {
        for (auto &lane : buffers_) {
            lane = std::make_unique<GuardedBuffer<int16_t>>(samplesPerLane + kGuardSamples);
        }
    }

    // Every lane back to kNeverWritten, then one DAQ_StreamRead. Lanes the board lacks get a
    // buffer (which must stay untouched) or null; capacity 0 stands for exactly the frame.
    int32_t Read(DAQ_FrameInfo *info, int32_t timeoutMs, uint32_t capacity = 0,
                 bool giveUnusedLanes = false) {
        Clear();
        int16_t *lanes[4];
        for (int32_t lane = 0; lane < 4; ++lane) {
            lanes[lane] = lane < lanes_ || giveUnusedLanes ? Lane(lane) : nullptr;
        }
        const uint32_t perLane = capacity != 0 ? capacity : static_cast<uint32_t>(samples_);
        return DAQ_StreamRead(lanes[0], lanes[1], lanes[2], lanes[3], perLane, info, timeoutMs);
    }

    void Clear() {
        for (auto &lane : buffers_) lane->Fill(kNeverWritten);
    }
    int16_t *Lane(int32_t lane) { return buffers_[lane]->data(); }
    int32_t Lanes() const { return lanes_; }
    size_t Samples() const { return samples_; }
    // Elements written past the frame of a lane, or anywhere in a lane the board lacks.
    size_t WrittenOutside(int32_t lane) const {
        const int16_t *data = buffers_[lane]->data();
        const size_t first = lane < lanes_ ? samples_ : 0;
        size_t written = 0;
        for (size_t i = first; i < samples_ + kGuardSamples; ++i) {
            written += data[i] != kNeverWritten ? 1 : 0;
        }
        return written;
    }
    // Elements of the whole buffer of a lane that were written.
    size_t WrittenAnywhere(int32_t lane) const {
        return buffers_[lane]->size() - buffers_[lane]->CountOf(kNeverWritten);
    }

private:
    int32_t lanes_;
    size_t samples_;
    std::unique_ptr<GuardedBuffer<int16_t>> buffers_[4];
};

// OSTREL_STREAM_TRACE=1 prints every frame delivered (the way to read a failure of the ledger).
bool Tracing() { return std::getenv("OSTREL_STREAM_TRACE") != nullptr; }

// The frames one run delivered, each checked on arrival against what DAQ_FrameInfo promises.
class Ledger {
public:
    Ledger(uint32_t recordsExpected, double samplePeriodS)
        : expected_(recordsExpected), samplePeriod_(samplePeriodS) {}

    void Add(const DAQ_FrameInfo &info) {
        if (Tracing()) {
            std::printf("frame %llu valid %u/%u lost before %llu records lost %llu at %lld ns\n",
                        static_cast<unsigned long long>(info.frameSequence), info.recordsValid,
                        info.recordsExpected,
                        static_cast<unsigned long long>(info.framesLostBefore),
                        static_cast<unsigned long long>(info.recordsLostTotal),
                        static_cast<long long>(info.completedNs));
        }
        SCOPED_TRACE(::testing::Message() << "frame " << info.frameSequence << " (delivered "
                                          << frames_.size() << " before)");
        EXPECT_EQ(info.size, sizeof(DAQ_FrameInfo)) << "the caller's size is the engine's to keep";
        EXPECT_EQ(info.flags & ~uint32_t{DAQ_FRAME_COMPLETE | DAQ_FRAME_GAP_BEFORE}, 0u);
        EXPECT_EQ(info.recordsExpected, expected_);
        EXPECT_LE(info.recordsValid, expected_);
        EXPECT_GT(info.recordsValid, 0u) << "a frame of which nothing came is a gap, not a frame";
        uint64_t lost = info.frameSequence;
        if (!frames_.empty()) {
            const uint64_t last = frames_.back().frameSequence;
            EXPECT_GT(info.frameSequence, last) << "frames out of order or repeated";
            lost = info.frameSequence > last ? info.frameSequence - last - 1 : 0;
            EXPECT_GE(info.completedNs, frames_.back().completedNs);
        }
        EXPECT_EQ(info.framesLostBefore, lost);
        EXPECT_EQ((info.flags & DAQ_FRAME_GAP_BEFORE) != 0, lost > 0);
        EXPECT_EQ((info.flags & DAQ_FRAME_COMPLETE) != 0, info.recordsValid == expected_);
        validSum_ += info.recordsValid;
        EXPECT_EQ(info.recordsLostTotal, (info.frameSequence + 1) * expected_ - validSum_);
        EXPECT_NEAR(info.samplePeriodS, samplePeriod_, samplePeriod_ * 1e-6);
        frames_.push_back(info);
    }

    const std::vector<DAQ_FrameInfo> &Frames() const { return frames_; }
    const DAQ_FrameInfo &Last() const { return frames_.back(); }
    uint64_t RecordsLost() const { return frames_.empty() ? 0 : frames_.back().recordsLostTotal; }
    // Nanoseconds per board frame, from the delivered frames (0 when it cannot be told yet).
    int64_t FrameIntervalNs() const {
        if (frames_.size() < 2) return 0;
        const DAQ_FrameInfo &first = frames_.front(), &last = frames_.back();
        const uint64_t frames = last.frameSequence - first.frameSequence;
        return frames == 0 ? 0 : (last.completedNs - first.completedNs) / static_cast<int64_t>(frames);
    }

private:
    uint32_t expected_;
    double samplePeriod_;
    uint64_t validSum_ = 0;
    std::vector<DAQ_FrameInfo> frames_;
};

// Checks a delivered frame against the lane levels: every record holds its lane's level
// throughout, or (a record that never came) 0 throughout in every lane. Returns the records
// found missing.
uint32_t MissingRecords(StreamLanes &lanes, uint32_t length, uint32_t number,
                        const std::vector<int16_t> &levels) {
    uint32_t missing = 0;
    uint32_t mixed = 0;
    for (uint32_t record = 0; record < number; ++record) {
        size_t atLevel = 0, atZero = 0, points = 0;
        for (int32_t lane = 0; lane < lanes.Lanes(); ++lane) {
            const int16_t *samples = lanes.Lane(lane) + size_t{record} * length;
            for (uint32_t i = 0; i < length; ++i) {
                atLevel += samples[i] == levels[lane] ? 1 : 0;
                atZero += samples[i] == 0 ? 1 : 0;
            }
            points += length;
        }
        if (atZero == points) {
            ++missing;
        } else if (atLevel != points && ++mixed <= 3) {
            ADD_FAILURE() << "record " << record << ": " << atLevel << " of " << points
                          << " points at their lane's level, " << atZero << " zero";
        }
    }
    EXPECT_EQ(mixed, 0u) << "records neither whole nor zeroed";
    return missing;
}

// Waits for an announcement of the plain acquisition; false after the bound.
bool WaitForAnnouncement() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kFrameWaitMs);
    while (DAQ_NewDataFrameAvailable() == 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The code DAQ_GetLatestFrame reads on each lane with the levels set: the second path the
// stream's data must agree with. Leaves the acquisition stopped.
std::vector<int16_t> PlainReadoutLevels(int32_t lanes) {
    constexpr uint32_t kLength = 1024, kNumber = 64;
    std::vector<int16_t> levels;
    EXPECT_EQ(DAQ_ConfigAcquisition(kLength, kNumber), 0);
    EXPECT_EQ(DAQ_StartAcquisition(), 0);
    std::vector<std::vector<int16_t>> buffers(4, std::vector<int16_t>(kLength * kNumber));
    // The second announced frame: wholly of this run.
    for (int frame = 0; frame < 2; ++frame) {
        EXPECT_TRUE(WaitForAnnouncement());
        EXPECT_EQ(DAQ_GetLatestFrame(buffers[0].data(), buffers[1].data(), buffers[2].data(),
                                     buffers[3].data()),
                  0);
    }
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    for (int32_t lane = 0; lane < lanes; ++lane) {
        const std::vector<int16_t> &samples = buffers[lane];
        const int16_t level = samples.front();
        EXPECT_EQ(std::count(samples.begin(), samples.end(), level),
                  static_cast<std::ptrdiff_t>(samples.size()))
            << "lane " << lane << " of the plain readout is not constant";
        EXPECT_NE(level, 0) << "a level of 0 would hide a missing record";
        levels.push_back(level);
    }
    return levels;
}

// A read on a thread of its own, so that a wait that never ends fails the test instead of
// hanging it. The read itself ends after its own time-out at the latest, so it is always joined.
struct BoundedRead {
    int32_t result = 0;
    bool returned = false;
};

BoundedRead ReadWithinBound(StreamLanes &lanes, DAQ_FrameInfo *info, int32_t timeoutMs) {
    std::atomic<bool> done{false};
    int32_t result = 0;
    std::thread reader([&] {
        result = lanes.Read(info, timeoutMs);
        done.store(true, std::memory_order_release);
    });
    const auto deadline = Clock::now() + kReturnBound;
    while (!done.load(std::memory_order_acquire) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool returned = done.load(std::memory_order_acquire);
    reader.join();
    return {result, returned};
}

// Reads whatever is queued (no waiting) until the stream reports its end; every frame goes to
// the ledger. Returns the result that ended the drain.
int32_t Drain(StreamLanes &lanes, Ledger &ledger, int32_t limit = 2048) {
    for (int32_t read = 0; read < limit; ++read) {
        DAQ_FrameInfo info = BlankInfo();
        const int32_t result = lanes.Read(&info, 0);
        if (result != 0) return result;
        ledger.Add(info);
    }
    return 0;
}

void Stall(bool on) { ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, on ? kFaultStatus : 0), 0); }

// Reads frames until one read waits timeoutMs in vain: with the board stalled, the queue is
// then empty and stays so.
void DrainUntilQuiet(StreamLanes &lanes, Ledger &ledger, int32_t timeoutMs) {
    for (int read = 0; read < 4096; ++read) {
        DAQ_FrameInfo info = BlankInfo();
        const int32_t result = lanes.Read(&info, timeoutMs);
        if (result == DAQ_TIMEOUT) return;
        ASSERT_EQ(result, 0);
        ledger.Add(info);
    }
    FAIL() << "frames kept coming from a stalled board";
}

class Stream : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0); }
    void TearDown() override {
        DAQ_StreamStop();
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

// ---- every geometry, in order and whole -----------------------------------------------------------

struct Geometry {
    const char *name;
    uint32_t length;  // 0: the model's longest record
    uint32_t number;  // 0: the number at which nothing is raised
};

const Geometry kLadder[] = {
    {"shortest records, one per frame (raised)", 32, 1},
    {"1024 x 16 (raised)", 1024, 16},
    {"1000 x 64 (raised)", 1000, 64},
    {"1024 x the minimum frame", 1024, 0},
    {"longest records x 64", 0, 64},
    {"4096 x 256", 4096, 256},
};

// The fastest rate of each model's table, divider code 0, in MS/s per lane.
double FastestMegasamples(int32_t model) {
    switch (model) {
        case 5: return 50.0;
        case 6: return 150.0;
        case 7: return 500.0;
        case 8: return 75.0;
        default: return 250.0;
    }
}

using StreamLadder = Stream;

// A queue of three frames that drops the newest: frames 0, 1 and 2 of the run always reach the
// reader, whole, with the plain readout's codes in every lane and nothing written past a lane.
TEST_P(StreamLadder, EveryGeometryDeliversConsecutiveWholeFrames) {
    const int32_t model = GetParam();
    OpenModel(model);
    ASSERT_EQ(DAQ_SetSamplingRate(0), 0);
    const int32_t lanes = LaneCount();
    SetLevels(lanes);
    const std::vector<int16_t> levels = PlainReadoutLevels(lanes);
    ASSERT_EQ(levels.size(), static_cast<size_t>(lanes));
    const double period = 1.0 / (FastestMegasamples(model) * 1e6);
    EXPECT_NEAR(SamplePeriodNow(), period, period * 1e-6) << "the rate table's fastest rate";

    for (const Geometry &geometry : kLadder) {
        const uint32_t length = geometry.length != 0 ? geometry.length : MaxRecordLength();
        const uint32_t number =
            geometry.number != 0 ? geometry.number : UnraisedNumber(length, lanes);
        SCOPED_TRACE(::testing::Message() << "model " << model << ", " << geometry.name << ": "
                                          << length << " x " << number);
        ASSERT_EQ(length % LengthUnitOf(model), 0u);
        ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
        ASSERT_EQ(DAQ_StreamStart(3, DAQ_STREAM_DROP_NEWEST), 0);
        StreamLanes buffers(lanes, size_t{length} * number);
        Ledger ledger(number, period);
        for (uint64_t frame = 0; frame < 3; ++frame) {
            DAQ_FrameInfo info = BlankInfo();
            // The capacity exactly the frame, or larger; buffers for absent lanes, or null.
            const uint32_t capacity = frame == 1 ? length * number + kGuardSamples : 0;
            ASSERT_EQ(buffers.Read(&info, kFrameWaitMs, capacity, frame % 2 == 1), 0);
            ledger.Add(info);
            EXPECT_EQ(info.frameSequence, frame);
            EXPECT_EQ(info.flags, uint32_t{DAQ_FRAME_COMPLETE});
            EXPECT_EQ(info.recordsValid, number);
            EXPECT_EQ(MissingRecords(buffers, length, number, levels), 0u);
            for (int32_t lane = 0; lane < 4; ++lane) {
                EXPECT_EQ(buffers.WrittenOutside(lane), 0u) << "lane " << lane;
            }
        }
        ASSERT_EQ(DAQ_StreamStop(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, StreamLadder, ::testing::ValuesIn(kModels), ModelName);

// ---- records in their order ----------------------------------------------------------------------

// The largest step between two samples of a lane that carries a sine of the given amplitude at a
// period of kSinePeriodSamples samples (plus rounding).
constexpr double kSinePeriodSamples = 2000.0;
constexpr double kSineAmplitude = 800.0;
constexpr int kLargestStep = 4;  // 2 pi x 800 / 2000 = 2.5, rounded up with the codes' rounding

// Index of the first step larger than kLargestStep between samples[i - 1] and samples[i], or -1.
int64_t FirstJump(const int16_t *samples, size_t count, int16_t before) {
    int16_t previous = before;
    for (size_t i = 0; i < count; ++i) {
        if (std::abs(samples[i] - previous) > kLargestStep) return static_cast<int64_t>(i);
        previous = samples[i];
    }
    return -1;
}

using StreamOrder = Stream;

// A slow sine on every input: inside each delivered frame every lane is one unbroken trace, so
// no record sits out of place, none is repeated, no lane holds another's points. Where the
// configuration is not raised, consecutive frames are consecutive board frames and the trace
// runs on unbroken from one frame into the next.
TEST_P(StreamOrder, RecordsFollowEachOtherInTime) {
    const int32_t model = GetParam();
    OpenModel(model);
    ASSERT_EQ(DAQ_SetSamplingRate(0), 0);
    const int32_t lanes = LaneCount();
    const double period = SamplePeriodNow();
    const double frequency = 1.0 / (period * kSinePeriodSamples);
    for (int input = 0; input < InputCount(lanes); ++input) {
        ASSERT_EQ(SIM_SetInputSignal(0, input, LevelOf(input), kSineAmplitude, frequency, 0.0), 0);
    }
    for (const bool raised : {true, false}) {
        const uint32_t length = 1024;
        const uint32_t number = raised ? 16 : UnraisedNumber(length, lanes);
        SCOPED_TRACE(::testing::Message() << "model " << model << ", 1024 x " << number);
        ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
        ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_NEWEST), 0);
        StreamLanes buffers(lanes, size_t{length} * number);
        Ledger ledger(number, period);
        std::vector<int16_t> lastOfFrame(4, 0);
        for (uint64_t frame = 0; frame < 4; ++frame) {
            DAQ_FrameInfo info = BlankInfo();
            ASSERT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
            ledger.Add(info);
            ASSERT_EQ(info.frameSequence, frame);
            for (int32_t lane = 0; lane < lanes; ++lane) {
                const int16_t *samples = buffers.Lane(lane);
                const size_t count = buffers.Samples();
                EXPECT_EQ(FirstJump(samples + 1, count - 1, samples[0]), -1)
                    << "lane " << lane << " breaks inside frame " << frame;
                EXPECT_EQ(std::count(samples, samples + count, int16_t{0}), 0) << "lane " << lane;
                if (!raised && frame > 0) {
                    EXPECT_EQ(FirstJump(samples, 1, lastOfFrame[lane]), -1)
                        << "lane " << lane << " does not go on from frame " << frame - 1;
                }
                lastOfFrame[lane] = samples[count - 1];
            }
        }
        ASSERT_EQ(DAQ_StreamStop(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, StreamOrder, ::testing::ValuesIn(kModels), ModelName);

// ---- a reader that falls behind --------------------------------------------------------------------

constexpr int32_t kPolicyRing = 3;

// What each policy must show once the board has finished more frames than the queue holds while
// the reader slept. Returns false when the board made too few frames in the sleep to tell (the
// caller sleeps longer); every frame read is checked either way.
bool PolicyShows(int32_t policy, std::chrono::milliseconds sleep, int32_t lanes, uint32_t length,
                 uint32_t number, const std::vector<int16_t> &levels, double period) {
    StreamLanes buffers(lanes, size_t{length} * number);
    Ledger ledger(number, period);
    EXPECT_EQ(DAQ_StreamStart(kPolicyRing, policy), 0);
    std::this_thread::sleep_for(sleep);
    bool shown = false;
    switch (policy) {
        case DAQ_STREAM_DROP_OLDEST: {
            // Stopped after the sleep, the queue holds the newest frames: consecutive, the first
            // after a gap of every frame dropped before it.
            EXPECT_EQ(DAQ_StreamStop(), 0);
            EXPECT_EQ(Drain(buffers, ledger), DAQ_ENDED);
            const auto &frames = ledger.Frames();
            EXPECT_LE(frames.size(), static_cast<size_t>(kPolicyRing));
            for (size_t i = 1; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].framesLostBefore, 0u);
            }
            shown = frames.size() == kPolicyRing && frames.front().framesLostBefore > 0;
            break;
        }
        case DAQ_STREAM_DROP_NEWEST: {
            // The queue kept the oldest frames: 0, 1, 2, all there; the next frame read comes
            // after the gap of those dropped while the queue was full.
            for (int32_t frame = 0; frame <= kPolicyRing; ++frame) {
                DAQ_FrameInfo info = BlankInfo();
                EXPECT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
                ledger.Add(info);
                EXPECT_EQ(MissingRecords(buffers, length, number, levels), 0u);
                if (frame < kPolicyRing) {
                    EXPECT_EQ(info.frameSequence, uint64_t(frame));
                }
                if (frame == kPolicyRing) shown = info.framesLostBefore > 0;
            }
            EXPECT_EQ(DAQ_StreamStop(), 0);
            EXPECT_EQ(Drain(buffers, ledger), DAQ_ENDED);
            break;
        }
        default: {
            // Publishing stopped at the full queue: its frames, then DAQ_OVERFLOW on every read
            // until the stop, which turns it into the end.
            for (int32_t frame = 0; frame < kPolicyRing; ++frame) {
                DAQ_FrameInfo info = BlankInfo();
                EXPECT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
                ledger.Add(info);
                EXPECT_EQ(info.frameSequence, uint64_t(frame));
            }
            DAQ_FrameInfo info = BlankInfo();
            const int32_t next = buffers.Read(&info, 0);
            if (next == 0) ledger.Add(info);
            shown = next == DAQ_OVERFLOW;
            if (shown) {
                for (const int32_t timeout : {0, 50, 0}) {
                    const BoundedRead again = ReadWithinBound(buffers, &info, timeout);
                    EXPECT_TRUE(again.returned);
                    EXPECT_EQ(again.result, DAQ_OVERFLOW) << "read with time-out " << timeout;
                }
            }
            EXPECT_EQ(DAQ_StreamStop(), 0);
            const int32_t end = Drain(buffers, ledger);
            EXPECT_EQ(end, DAQ_ENDED);
            break;
        }
    }
    for (const DAQ_FrameInfo &frame : ledger.Frames()) {
        EXPECT_EQ(frame.flags & DAQ_FRAME_COMPLETE, uint32_t{DAQ_FRAME_COMPLETE})
            << "frame " << frame.frameSequence << ": at full pace every record comes";
    }
    return shown;
}

class StreamPolicy : public ::testing::TestWithParam<std::tuple<int32_t, int32_t>> {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0); }
    void TearDown() override {
        DAQ_StreamStop();
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

TEST_P(StreamPolicy, FullQueueFollowsThePolicy) {
    const int32_t model = std::get<0>(GetParam());
    const int32_t policy = std::get<1>(GetParam());
    OpenModel(model);
    const int32_t lanes = LaneCount();
    SetLevels(lanes);
    const std::vector<int16_t> levels = PlainReadoutLevels(lanes);
    const uint32_t length = 1024, number = UnraisedNumber(length, lanes);
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    const double period = SamplePeriodNow();
    // Sleeps that double until the board has made more frames than the queue holds in one of
    // them; at full pace the first already does, unless the machine is very busy.
    bool shown = false;
    for (int attempt = 0; attempt < 7 && !shown; ++attempt) {
        const auto sleep = std::chrono::milliseconds(50 << attempt);
        SCOPED_TRACE(::testing::Message() << "model " << model << ", policy " << policy
                                          << ", reader asleep " << sleep.count() << " ms");
        shown = PolicyShows(policy, sleep, lanes, length, number, levels, period);
        if (HasFailure()) return;
    }
    EXPECT_TRUE(shown) << "the board never outran a queue of " << kPolicyRing << " frames";
}

std::string ModelAndPolicyName(const ::testing::TestParamInfo<std::tuple<int32_t, int32_t>> &info) {
    static const char *const kPolicies[] = {"DropOldest", "DropNewest", "Fail"};
    return "Model" + std::to_string(std::get<0>(info.param)) + kPolicies[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryModelAndPolicy, StreamPolicy,
                         ::testing::Combine(::testing::ValuesIn(kModels),
                                            ::testing::Values(int32_t{DAQ_STREAM_DROP_OLDEST},
                                                              int32_t{DAQ_STREAM_DROP_NEWEST},
                                                              int32_t{DAQ_STREAM_FAIL})),
                         ModelAndPolicyName);

// A reader that keeps sleeping between reads, under each policy: whatever it gets, every frame
// accounts for the frames before it.
TEST_P(StreamPolicy, SleepyReaderSeesEveryLossCounted) {
    const int32_t model = std::get<0>(GetParam());
    const int32_t policy = std::get<1>(GetParam());
    OpenModel(model);
    const int32_t lanes = LaneCount();
    const uint32_t length = 1024, number = 16;
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    ASSERT_EQ(DAQ_StreamStart(2, policy), 0);
    StreamLanes buffers(lanes, size_t{length} * number);
    Ledger ledger(number, SamplePeriodNow());
    int32_t overflows = 0;
    for (int read = 0; read < 40; ++read) {
        DAQ_FrameInfo info = BlankInfo();
        const int32_t result = buffers.Read(&info, kFrameWaitMs);
        if (result == DAQ_OVERFLOW) {
            ++overflows;
        } else {
            ASSERT_EQ(result, 0) << "read " << read;
            EXPECT_EQ(overflows, 0) << "a frame after DAQ_OVERFLOW";
            ledger.Add(info);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(DAQ_StreamStop(), 0);
    EXPECT_EQ(Drain(buffers, ledger), DAQ_ENDED);
    // The failing policy never drops: what it delivers is frame 0, 1, 2, ... up to the overflow.
    if (policy == DAQ_STREAM_FAIL) {
        for (size_t i = 0; i < ledger.Frames().size(); ++i) {
            EXPECT_EQ(ledger.Frames()[i].frameSequence, i);
        }
    }
}

// ---- records that never came --------------------------------------------------------------------

using StreamLoss = Stream;

// Reads one frame into the ledger and checks its records against the levels; returns the result.
int32_t ReadChecked(StreamLanes &buffers, Ledger &ledger, int32_t timeoutMs, uint32_t length,
                    uint32_t number, const std::vector<int16_t> &levels) {
    DAQ_FrameInfo info = BlankInfo();
    const int32_t result = buffers.Read(&info, timeoutMs);
    if (result != 0) return result;
    ledger.Add(info);
    EXPECT_EQ(MissingRecords(buffers, length, number, levels), number - info.recordsValid)
        << "frame " << info.frameSequence << ": zeroed records against the valid count";
    return result;
}

// Records the board skips while it runs at full pace: the frame they belonged to comes with them
// zeroed in every lane, without DAQ_FRAME_COMPLETE, and counted in recordsLostTotal; never a whole
// frame with data missing. The skip is made while the board is held (its clock pauses with it)
// and after the queue was read empty, so it lands in the frame the board was filling or at the
// start of the next one, and that frame finds room in the queue however far the board had run
// ahead of the reader before.
TEST_P(StreamLoss, SkippedRecordsAreZeroedAndCounted) {
    const int32_t model = GetParam();
    OpenModel(model);
    const int32_t lanes = LaneCount();
    SetLevels(lanes);
    const std::vector<int16_t> levels = PlainReadoutLevels(lanes);
    const uint32_t length = 1024, number = UnraisedNumber(length, lanes);
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    StreamLanes buffers(lanes, size_t{length} * number);
    constexpr int32_t kRing = 64, kDrainWaitMs = 200;
    for (const uint32_t skipped : {3u, 1u}) {
        SCOPED_TRACE(::testing::Message() << "model " << model << ", " << skipped
                                          << " records skipped");
        ASSERT_EQ(DAQ_StreamStart(kRing, DAQ_STREAM_DROP_NEWEST), 0);
        Ledger ledger(number, SamplePeriodNow());
        ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        Stall(true);
        DrainUntilQuiet(buffers, ledger, kDrainWaitMs);
        const size_t before = ledger.Frames().size();
        ASSERT_EQ(SIM_SkipRecords(0, static_cast<int>(skipped)), 0);
        Stall(false);
        // Frames the thread had not handed on by the end of the drain may come first; then the
        // frame with the skip, and the one after it. The first of them reports the frames the
        // full queue dropped before the stall; after that the queue has room for every frame.
        int32_t firstPartial = -1;
        for (int32_t read = 0; read < kRing && (firstPartial < 0 || read <= firstPartial + 1);
             ++read) {
            ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
            if (read > 0) {
                EXPECT_EQ(ledger.Last().framesLostBefore, 0u) << "read " << read;
            }
            if (firstPartial < 0 && ledger.Last().recordsValid < number) firstPartial = read;
        }
        ASSERT_EQ(DAQ_StreamStop(), 0);
        EXPECT_GE(firstPartial, 0) << "the skip never showed";
        // The records skipped go missing, and no other, in one frame or two.
        uint32_t partial = 0;
        uint64_t zeroed = 0;
        for (size_t i = before; i < ledger.Frames().size(); ++i) {
            partial += ledger.Frames()[i].recordsValid < number ? 1 : 0;
            zeroed += number - ledger.Frames()[i].recordsValid;
        }
        EXPECT_EQ(zeroed, skipped);
        EXPECT_GE(partial, 1u);
        EXPECT_LE(partial, 2u);
    }
}

// A skip of three frames' records at the board's own pace: two frames at least are lost whole and
// show as a gap in the sequence, not as frames; the frames around them come partial or whole,
// and every record lost is counted. Models 5 and 8 slowed to 8 MB/s make frames of 131 ms: a ring
// long against the hiccups of a loaded machine (the engine numbers a gap of more than a lap by the
// clock, and the simulated board, unlike a real one, lets its clock slip when its thread wakes
// late), and a queue of 32 that no reader falls four seconds behind.
TEST(StreamLossAtBoardPace, SkippedFramesLeaveAGapAndAreCounted) {
    struct Slowed {
        int32_t model;
        int32_t code;     // divider code
        double period;    // its sample period, s
    };
    // One lane at 4 MS/s, four at 1 MS/s.
    for (const Slowed slowed : {Slowed{5, 14, 250e-9}, Slowed{8, 15, 1e-6}}) {
        const int32_t model = slowed.model;
        SCOPED_TRACE(::testing::Message() << "model " << model);
        ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
        OpenModel(model);
        ASSERT_EQ(DAQ_SetSamplingRate(slowed.code), 0);
        const double period = SamplePeriodNow();
        EXPECT_NEAR(period, slowed.period, slowed.period * 1e-6);
        const int32_t lanes = LaneCount();
        SetLevels(lanes);
        const std::vector<int16_t> levels = PlainReadoutLevels(lanes);
        const uint32_t length = 1024, number = UnraisedNumber(length, lanes);
        const double ringSeconds = 4.0 * number * length * period;
        ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
        const uint64_t slipBefore = SIM_GetClockSlip(0);
        // A full queue ends the stream rather than drop a frame: a gap is the board's alone.
        ASSERT_EQ(DAQ_StreamStart(32, DAQ_STREAM_FAIL), 0);
        StreamLanes buffers(lanes, size_t{length} * number);
        Ledger ledger(number, period);
        ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        const size_t before = ledger.Frames().size();
        const uint64_t boardLostBefore = SIM_GetLostRecords(0);  // before the first descriptor
        const uint64_t lostBefore = ledger.RecordsLost();         // a slow build may lose early
        ASSERT_EQ(SIM_SkipRecords(0, static_cast<int>(3 * number)), 0);
        for (int read = 0; read < 12 && ledger.RecordsLost() - lostBefore < 3 * number; ++read) {
            ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        }
        ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        const double slipSeconds = static_cast<double>(SIM_GetClockSlip(0) - slipBefore) * 1e-9;
        uint64_t gaps = 0, zeroed = 0;
        for (size_t i = before; i < ledger.Frames().size(); ++i) {
            gaps += ledger.Frames()[i].framesLostBefore;
            zeroed += number - ledger.Frames()[i].recordsValid;
        }
        EXPECT_EQ(ledger.RecordsLost() - lostBefore, zeroed + gaps * number);
        EXPECT_GE(ledger.RecordsLost() - lostBefore, 3u * number);
        // Exactly the skipped records, unless the board lost records of its own (a build too slow
        // to keep its queue supplied at this rate) or its clock slipped by a good part of a lap:
        // then the clock no longer tells the laps of a gap, and the count may take one too many.
        if (SIM_GetLostRecords(0) == boardLostBefore && slipSeconds < ringSeconds / 4.0) {
            EXPECT_GE(gaps, 2u) << "three frames of records span two whole frames at least";
            EXPECT_LE(gaps, 3u);
            EXPECT_EQ(ledger.RecordsLost() - lostBefore, 3u * number);
        } else {
            std::printf("model %d: board lost %llu records, clock slipped %.3f s; count not exact\n",
                        model,
                        static_cast<unsigned long long>(SIM_GetLostRecords(0) - boardLostBefore),
                        slipSeconds);
        }
        // Held for most of a lap (its clock paused, so it loses nothing) while the thread keeps
        // looking, the board then leaves one record out: one record is lost, not the laps the
        // hold lasted.
        const uint64_t boardLostBeforeHold = SIM_GetLostRecords(0);
        const uint64_t slipBeforeHold = SIM_GetClockSlip(0);
        const uint64_t lostBeforeHold = ledger.RecordsLost();
        Stall(true);
        std::this_thread::sleep_for(std::chrono::duration<double>(0.75 * ringSeconds));
        ASSERT_EQ(SIM_SkipRecords(0, 1), 0);
        Stall(false);
        for (int read = 0; read < 8 && ledger.RecordsLost() == lostBeforeHold; ++read) {
            ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        }
        ASSERT_EQ(ReadChecked(buffers, ledger, kFrameWaitMs, length, number, levels), 0);
        const double holdSlipSeconds =
            static_cast<double>(SIM_GetClockSlip(0) - slipBeforeHold) * 1e-9;
        if (SIM_GetLostRecords(0) == boardLostBeforeHold && holdSlipSeconds < ringSeconds / 4.0) {
            EXPECT_EQ(ledger.RecordsLost() - lostBeforeHold, 1u) << "after the hold";
        }
        ASSERT_EQ(DAQ_StreamStop(), 0);
        const int32_t end = Drain(buffers, ledger);
        EXPECT_TRUE(end == DAQ_ENDED || end == DAQ_OVERFLOW) << end;
        DAQ_CloseDevice();
        SIM_Reset();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, StreamLoss, ::testing::ValuesIn(kModels), ModelName);

// ---- waits, stop and drain -----------------------------------------------------------------------

// The slowest board: model 5 at divider code 20 (0.5 MS/s) makes a frame of the minimum size in
// about a second. Right after the start nothing is queued: a read that does not wait says so at
// once, a short wait ends in DAQ_TIMEOUT, and a long one gets frame 0.
TEST(StreamWaits, SlowBoardTimesOutThenDeliversFrameZero) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
    OpenModel(5);
    ASSERT_EQ(DAQ_SetSamplingRate(20), 0);
    const double period = SamplePeriodNow();
    EXPECT_NEAR(period, 2e-6, 2e-12) << "0.5 MS/s";
    const uint32_t length = 1024, number = 512;
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), 0);
    StreamLanes buffers(1, size_t{length} * number);
    Ledger ledger(number, period);
    for (const int32_t timeout : {0, 20}) {
        DAQ_FrameInfo info = BlankInfo();
        const BoundedRead read = ReadWithinBound(buffers, &info, timeout);
        EXPECT_TRUE(read.returned);
        EXPECT_EQ(read.result, DAQ_TIMEOUT) << "time-out " << timeout << " ms";
    }
    DAQ_FrameInfo info = BlankInfo();
    ASSERT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
    ledger.Add(info);
    EXPECT_EQ(info.frameSequence, 0u);
    EXPECT_EQ(DAQ_StreamStop(), 0);
    DAQ_CloseDevice();
    SIM_Reset();
}

using StreamStop = Stream;

// Frames queued when the stream is stopped are still delivered, in order, and then every read
// says DAQ_ENDED at once, even one willing to wait. The plain readout is refused while the
// stream runs and works again after it. A new start numbers its frames from 0 again.
TEST_P(StreamStop, QueuedFramesDrainThenEnded) {
    const int32_t model = GetParam();
    OpenModel(model);
    const int32_t lanes = LaneCount();
    SetLevels(lanes);
    const std::vector<int16_t> levels = PlainReadoutLevels(lanes);
    const uint32_t length = 1024, number = 64;
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    StreamLanes buffers(lanes, size_t{length} * number);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(::testing::Message() << "model " << model << ", run " << run);
        ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_NEWEST), 0);
        Ledger ledger(number, SamplePeriodNow());
        for (int frame = 0; frame < 2; ++frame) {
            DAQ_FrameInfo info = BlankInfo();
            ASSERT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
            ledger.Add(info);
            EXPECT_EQ(info.frameSequence, uint64_t(frame));
        }
        // The plain readout is refused and writes nothing while the stream runs.
        buffers.Clear();
        EXPECT_EQ(DAQ_GetLatestFrame(buffers.Lane(0), buffers.Lane(1), buffers.Lane(2),
                                     buffers.Lane(3)),
                  -1);
        for (int32_t lane = 0; lane < 4; ++lane) EXPECT_EQ(buffers.WrittenAnywhere(lane), 0u);
        // Long enough for the board to fill the queue several times over.
        const int64_t interval = ledger.FrameIntervalNs();
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::clamp<int64_t>(
            20 * interval, 20'000'000, 2'000'000'000)));
        ASSERT_EQ(DAQ_StreamStop(), 0);
        const size_t before = ledger.Frames().size();
        EXPECT_EQ(Drain(buffers, ledger), DAQ_ENDED);
        const size_t drained = ledger.Frames().size() - before;
        EXPECT_GE(drained, 1u) << "nothing was queued at the stop";
        EXPECT_LE(drained, 4u);
        for (const int32_t timeout : {0, 60000, 0}) {
            DAQ_FrameInfo info = BlankInfo();
            const BoundedRead read = ReadWithinBound(buffers, &info, timeout);
            EXPECT_TRUE(read.returned) << "a read after the end waited, time-out " << timeout;
            EXPECT_EQ(read.result, DAQ_ENDED);
        }
        EXPECT_EQ(DAQ_StreamStop(), 0) << "a second stop";
        buffers.Clear();
        EXPECT_EQ(DAQ_GetLatestFrame(buffers.Lane(0), buffers.Lane(1), buffers.Lane(2),
                                     buffers.Lane(3)),
                  0);
    }
}

// The board stalls: nothing more comes, so a read that does not wait and one that waits a
// little both end in DAQ_TIMEOUT. Then a read waits with a long time-out on one thread and the
// stop comes on another: the read comes back with DAQ_ENDED long before its time-out.
TEST_P(StreamStop, StopFromASecondThreadEndsAWaitingRead) {
    const int32_t model = GetParam();
    OpenModel(model);
    const int32_t lanes = LaneCount();
    const uint32_t length = 1024, number = 64;
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), 0);
    StreamLanes buffers(lanes, size_t{length} * number);
    Ledger ledger(number, SamplePeriodNow());
    DAQ_FrameInfo first = BlankInfo();
    ASSERT_EQ(buffers.Read(&first, kFrameWaitMs), 0);
    ledger.Add(first);
    Stall(true);
    DrainUntilQuiet(buffers, ledger, 200);
    for (const int32_t timeout : {0, 50, 0}) {
        DAQ_FrameInfo info = BlankInfo();
        const BoundedRead read = ReadWithinBound(buffers, &info, timeout);
        EXPECT_TRUE(read.returned) << "time-out " << timeout << " ms";
        EXPECT_EQ(read.result, DAQ_TIMEOUT) << "time-out " << timeout << " ms";
    }

    std::atomic<bool> reading{false}, done{false};
    int32_t result = 0;
    DAQ_FrameInfo info = BlankInfo();
    std::thread reader([&] {
        reading.store(true);
        result = buffers.Read(&info, 60000);
        done.store(true);
    });
    while (!reading.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Give the read time to begin its wait; it cannot get anything meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load()) << "the read did not wait: " << result;
    EXPECT_EQ(DAQ_StreamStop(), 0);
    const auto deadline = Clock::now() + kReturnBound;
    while (!done.load() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(done.load()) << "the waiting read did not end with the stop";
    reader.join();
    EXPECT_EQ(result, DAQ_ENDED);
    Stall(false);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, StreamStop, ::testing::ValuesIn(kModels), ModelName);

// ---- refusals ------------------------------------------------------------------------------------

using StreamRefusal = Stream;

// Each refusal returns -1 and writes nothing: not a lane, not the caller's info. A refused start
// leaves no stream (or the running one) behind; the refused reads take no frame from the queue.
TEST_P(StreamRefusal, RefusalsWriteNothingAndChangeNothing) {
    const int32_t model = GetParam();
    OpenModel(model);
    const int32_t lanes = LaneCount();
    const uint32_t length = 1024, number = 16;
    StreamLanes buffers(lanes, size_t{length} * number);
    const uint32_t frame = length * number;

    // One read, as given; afterwards nothing may have been written anywhere.
    auto expectRefusedRead = [&](const char *what, std::vector<int32_t> nullLanes,
                                 uint32_t capacity, uint32_t infoSize, bool nullInfo,
                                 int32_t timeoutMs) {
        SCOPED_TRACE(what);
        buffers.Clear();
        DAQ_FrameInfo info = BlankInfo();
        info.size = infoSize;
        const DAQ_FrameInfo before = info;
        int16_t *pointers[4];
        for (int32_t lane = 0; lane < 4; ++lane) {
            const bool null = std::find(nullLanes.begin(), nullLanes.end(), lane) != nullLanes.end();
            pointers[lane] = null ? nullptr : buffers.Lane(lane);
        }
        EXPECT_EQ(DAQ_StreamRead(pointers[0], pointers[1], pointers[2], pointers[3], capacity,
                                 nullInfo ? nullptr : &info, timeoutMs),
                  -1);
        EXPECT_TRUE(SameBytes(info, before)) << "info written";
        for (int32_t lane = 0; lane < 4; ++lane) {
            EXPECT_EQ(buffers.WrittenAnywhere(lane), 0u) << "lane " << lane << " written";
        }
    };
    const uint32_t fullSize = sizeof(DAQ_FrameInfo);

    // Nothing configured since the open: no start, no read.
    EXPECT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), -1) << "nothing configured";
    expectRefusedRead("read with nothing configured", {}, frame, fullSize, false, 0);
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    expectRefusedRead("read before any start", {}, frame, fullSize, false, 0);

    struct StartCase {
        int32_t ringFrames;
        int32_t policy;
    };
    const StartCase badStarts[] = {{1, DAQ_STREAM_DROP_OLDEST},    {0, DAQ_STREAM_DROP_OLDEST},
                                   {-1, DAQ_STREAM_DROP_NEWEST},   {1025, DAQ_STREAM_FAIL},
                                   {INT32_MIN, DAQ_STREAM_FAIL},   {INT32_MAX, DAQ_STREAM_FAIL},
                                   {4, -1},                        {4, 3},
                                   {4, INT32_MIN},                 {2, INT32_MAX}};
    for (const StartCase &start : badStarts) {
        EXPECT_EQ(DAQ_StreamStart(start.ringFrames, start.policy), -1)
            << start.ringFrames << " frames, policy " << start.policy;
    }
    expectRefusedRead("read after refused starts", {}, frame, fullSize, false, 0);

    // A plain acquisition runs: no stream beside it.
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    EXPECT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), -1) << "the plain acquisition runs";
    ASSERT_TRUE(WaitForAnnouncement()) << "the plain acquisition goes on";
    ASSERT_EQ(DAQ_StopAcquisition(), 0);

    ASSERT_EQ(DAQ_StreamStart(2, DAQ_STREAM_DROP_NEWEST), 0);
    EXPECT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), -1) << "a stream runs";

    expectRefusedRead("capacity one short", {}, frame - 1, fullSize, false, kFrameWaitMs);
    expectRefusedRead("capacity 0", {}, 0, fullSize, false, kFrameWaitMs);
    for (int32_t lane = 0; lane < lanes; ++lane) {
        const std::string what = "lane " + std::to_string(lane) + " null";
        expectRefusedRead(what.c_str(), {lane}, frame, fullSize, false, kFrameWaitMs);
    }
    expectRefusedRead("info null", {}, frame, fullSize, true, kFrameWaitMs);
    expectRefusedRead("info size one short", {}, frame, fullSize - 1, false, kFrameWaitMs);
    expectRefusedRead("info size 0", {}, frame, 0, false, kFrameWaitMs);
    expectRefusedRead("time-out -1", {}, frame, fullSize, false, -1);
    expectRefusedRead("time-out INT32_MIN", {}, frame, fullSize, false, INT32_MIN);

    // None of them took a frame: the first read that is right gets frame 0. Lanes the board
    // lacks may be null, and an info that grew keeps what lies past the fields it knows.
    struct GrownInfo {
        DAQ_FrameInfo info;
        uint64_t later;
    } grown;
    std::memset(&grown, 0x5A, sizeof(grown));
    grown.info.size = sizeof(grown);
    std::vector<int32_t> absent;
    for (int32_t lane = lanes; lane < 4; ++lane) absent.push_back(lane);
    buffers.Clear();
    int16_t *pointers[4];
    for (int32_t lane = 0; lane < 4; ++lane) pointers[lane] = lane < lanes ? buffers.Lane(lane) : nullptr;
    ASSERT_EQ(DAQ_StreamRead(pointers[0], pointers[1], pointers[2], pointers[3], frame,
                             &grown.info, kFrameWaitMs),
              0);
    EXPECT_EQ(grown.info.frameSequence, 0u);
    EXPECT_EQ(grown.later, 0x5A5A5A5A5A5A5A5Aull);
    EXPECT_EQ(DAQ_StreamStop(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, StreamRefusal, ::testing::ValuesIn(kModels), ModelName);

// A queue of more than half the machine's memory is refused before anything is allocated or
// started; a smaller one of the same frames starts. Frames of 128 MiB (one lane of 16384 x 4096
// points) make a queue of 1024 too large on any machine of less than 258 GB.
TEST(StreamMemory, QueueBeyondHalfTheMemoryIsRefused) {
    const uint64_t physical = ostrel::os::PhysicalMemoryBytes();
    ASSERT_GT(physical, 0u);
    const uint64_t frameBytes = uint64_t{16384} * 4096 * sizeof(int16_t);
    const int32_t tooMany = static_cast<int32_t>(
        std::min<uint64_t>(1024, physical / 2 / frameBytes + 1));
    if (uint64_t(tooMany + 5) * frameBytes <= physical / 2) GTEST_SKIP() << "a machine this large";
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(16384, 4096), 0);
    EXPECT_EQ(DAQ_StreamStart(tooMany, DAQ_STREAM_DROP_OLDEST), -1) << tooMany << " frames";
    EXPECT_EQ(DAQ_StreamStart(1024, DAQ_STREAM_FAIL), -1);
    DAQ_FrameInfo info = BlankInfo();
    std::vector<int16_t> lane(size_t{16384} * 4096);
    EXPECT_EQ(DAQ_StreamRead(lane.data(), nullptr, nullptr, nullptr,
                             static_cast<uint32_t>(lane.size()), &info, 0),
              -1)
        << "no stream was started";
    if (uint64_t(2 + 5) * frameBytes <= physical / 2) {
        ASSERT_EQ(DAQ_StreamStart(2, DAQ_STREAM_DROP_OLDEST), 0);
        EXPECT_EQ(DAQ_StreamStop(), 0);
    }
    DAQ_CloseDevice();
    SIM_Reset();
}

// ---- what ends a stream --------------------------------------------------------------------------

struct Ending {
    const char *name;
    int32_t model;
    int32_t (*end)();
    bool closes;
    uint32_t lengthAfter;  // the configuration in force afterwards (a calibration restores it)
    uint32_t numberAfter;
};

void PrintTo(const Ending &ending, std::ostream *out) {
    *out << ending.name << " on model " << ending.model;
}

int32_t ConfigureOther() { return DAQ_ConfigAcquisition(2048, 8); }
int32_t CloseBoard() { return DAQ_CloseDevice(); }

const Ending kEndings[] = {
    {"DAQ_StreamStop", 5, DAQ_StreamStop, false, 1024, 64},
    {"DAQ_StopAcquisition", 6, DAQ_StopAcquisition, false, 1024, 64},
    {"DAQ_FinalizeAcquisition", 7, DAQ_FinalizeAcquisition, false, 1024, 64},
    {"a new configuration", 8, ConfigureOther, false, 2048, 8},
    {"the single self-calibration", 9, DAQ_SelfCalibrationOnce, false, 1024, 64},
    {"the vertical-scale calibration", 10, DAQ_Calibration_VerticalScale, false, 1024, 64},
    {"DAQ_CloseDevice", 9, CloseBoard, true, 0, 0},
};

class StreamEnding : public ::testing::TestWithParam<Ending> {
protected:
    void SetUp() override { ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0); }
    void TearDown() override {
        DAQ_StreamStop();
        DAQ_CloseDevice();
        SIM_Reset();
    }
};

// Whatever ends the stream, reads then come back at once: frames still queued (if the queue
// survived), then DAQ_ENDED for good; never a wait. The plain readout works again, and a new
// stream starts from frame 0. After a close nothing is open and nothing was started since.
TEST_P(StreamEnding, EndsTheStreamCleanly) {
    const Ending &ending = GetParam();
    SCOPED_TRACE(ending.name);
    OpenModel(ending.model);
    const int32_t lanes = LaneCount();
    // A sine, so that the vertical-scale calibration finds a span to measure.
    for (int input = 0; input < InputCount(lanes); ++input) {
        ASSERT_EQ(SIM_SetInputSignal(0, input, 0.0, 1000.0, 1.0e5, 0.0), 0);
    }
    const uint32_t length = 1024, number = 64;
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    ASSERT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), 0);
    StreamLanes buffers(lanes, size_t{length} * number);
    Ledger ledger(number, SamplePeriodNow());
    DAQ_FrameInfo info = BlankInfo();
    ASSERT_EQ(buffers.Read(&info, kFrameWaitMs), 0);
    ledger.Add(info);

    const int32_t result = ending.end();
    EXPECT_TRUE(result == 0 || (result == -1 && ending.end == DAQ_Calibration_VerticalScale))
        << result;

    if (ending.closes) {
        EXPECT_EQ(buffers.Read(&info, 0), -1) << "nothing open";
        OpenModel(ending.model);
        EXPECT_EQ(buffers.Read(&info, 0), -1) << "no stream started since the open";
        EXPECT_EQ(DAQ_StreamStart(4, DAQ_STREAM_DROP_OLDEST), -1) << "nothing configured";
        return;
    }
    int32_t end = 0;
    for (int read = 0; read < 16; ++read) {
        DAQ_FrameInfo next = BlankInfo();
        const BoundedRead bounded = ReadWithinBound(buffers, &next, 60000);
        ASSERT_TRUE(bounded.returned) << "a read after the end waited";
        end = bounded.result;
        if (end != 0) break;
        ledger.Add(next);
    }
    EXPECT_EQ(end, DAQ_ENDED);
    EXPECT_EQ(buffers.Read(&info, 0), DAQ_ENDED) << "and again";
    buffers.Clear();
    EXPECT_EQ(DAQ_GetLatestFrame(buffers.Lane(0), buffers.Lane(1), buffers.Lane(2),
                                 buffers.Lane(3)),
              0);
    ASSERT_EQ(DAQ_StreamStart(2, DAQ_STREAM_DROP_NEWEST), 0);
    StreamLanes fresh(lanes, size_t{ending.lengthAfter} * ending.numberAfter);
    DAQ_FrameInfo again = BlankInfo();
    ASSERT_EQ(fresh.Read(&again, kFrameWaitMs), 0);
    EXPECT_EQ(again.frameSequence, 0u);
    EXPECT_EQ(again.recordsExpected, ending.numberAfter);
    EXPECT_EQ(DAQ_StreamStop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Every, StreamEnding, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<Ending> &info) {
                             std::string name;
                             for (const char *c = info.param.name; *c != '\0'; ++c) {
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             }
                             return name;
                         });

// ---- the plain readout's frame description --------------------------------------------------------

// DAQ_GetLatestFrameInfo describes the frame DAQ_GetLatestFrame copied: refused before any such
// copy since the configuration, then each frame with its place in the run and its records. Model
// 5 at 5 MS/s makes a frame every tenth of a second or so, so each announcement is read before
// the next and the sequence goes up by one; records skipped on the board show as a frame with
// fewer valid records, not marked whole.
TEST(LatestFrameInfo, DescribesEachFrameTheReadoutCopied) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
    OpenModel(5);
    ASSERT_EQ(DAQ_SetSamplingRate(13), 0);
    const double period = SamplePeriodNow();
    EXPECT_NEAR(period, 2e-7, 2e-13) << "5 MS/s";
    const uint32_t length = 1024, number = 512;

    DAQ_FrameInfo info = BlankInfo();
    const DAQ_FrameInfo blank = info;
    EXPECT_EQ(DAQ_GetLatestFrameInfo(nullptr), -1);
    EXPECT_EQ(DAQ_GetLatestFrameInfo(&info), -1) << "no frame copied yet";
    EXPECT_TRUE(SameBytes(info, blank));
    ASSERT_EQ(DAQ_ConfigAcquisition(length, number), 0);
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    EXPECT_EQ(DAQ_GetLatestFrameInfo(&info), -1) << "no frame copied since the configuration";
    EXPECT_TRUE(SameBytes(info, blank));

    std::vector<int16_t> lane(size_t{length} * number);
    std::vector<DAQ_FrameInfo> frames;
    bool partialSeen = false;
    for (int frame = 0; frame < 10 && !partialSeen; ++frame) {
        ASSERT_TRUE(WaitForAnnouncement());
        ASSERT_EQ(DAQ_GetLatestFrame(lane.data(), nullptr, nullptr, nullptr), 0);
        DAQ_FrameInfo small = BlankInfo();
        small.size = sizeof(DAQ_FrameInfo) - 1;
        const DAQ_FrameInfo smallBefore = small;
        EXPECT_EQ(DAQ_GetLatestFrameInfo(&small), -1) << "info too small";
        EXPECT_TRUE(SameBytes(small, smallBefore));
        info = BlankInfo();
        ASSERT_EQ(DAQ_GetLatestFrameInfo(&info), 0);
        SCOPED_TRACE(::testing::Message() << "frame " << info.frameSequence);
        EXPECT_EQ(info.size, sizeof(DAQ_FrameInfo));
        EXPECT_EQ(info.recordsExpected, number);
        EXPECT_LE(info.recordsValid, number);
        EXPECT_GT(info.recordsValid, number / 2) << "announced with more than half";
        EXPECT_EQ((info.flags & DAQ_FRAME_COMPLETE) != 0, info.recordsValid == number);
        EXPECT_EQ(info.flags & DAQ_FRAME_GAP_BEFORE, 0u);
        EXPECT_EQ(info.framesLostBefore, 0u);
        EXPECT_EQ(info.recordsLostTotal, 0u);
        EXPECT_NEAR(info.samplePeriodS, period, period * 1e-6);
        if (!frames.empty()) {
            EXPECT_GT(info.frameSequence, frames.back().frameSequence);
            EXPECT_GE(info.completedNs, frames.back().completedNs);
        }
        // The same question again gives the same answer.
        DAQ_FrameInfo repeat = BlankInfo();
        ASSERT_EQ(DAQ_GetLatestFrameInfo(&repeat), 0);
        EXPECT_TRUE(SameBytes(repeat, info));
        frames.push_back(info);
        partialSeen = frames.size() > 2 && info.recordsValid < number;
        // After two whole frames the board skips three records of the frame it is making now.
        if (frames.size() == 2) {
            ASSERT_EQ(SIM_SkipRecords(0, 3), 0);
        }
    }
    EXPECT_TRUE(partialSeen) << "the frame with skipped records was never described as partial";
    ASSERT_EQ(DAQ_StopAcquisition(), 0);
    DAQ_FrameInfo afterStop = BlankInfo();
    ASSERT_EQ(DAQ_GetLatestFrameInfo(&afterStop), 0) << "the last copy is still described";
    EXPECT_EQ(afterStop.frameSequence, frames.back().frameSequence);
    ASSERT_EQ(DAQ_ConfigAcquisition(length, 1024), 0);
    afterStop = BlankInfo();
    EXPECT_EQ(DAQ_GetLatestFrameInfo(&afterStop), -1) << "a new configuration forgets it";
    DAQ_CloseDevice();
    SIM_Reset();
}

}  // namespace
