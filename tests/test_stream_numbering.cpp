// Frame numbers and contents of the stream across gaps of every size, on the record scanner with a
// plain buffer and a clock the test moves at the board's record rate. Tags wrap every four frames,
// so a gap of a lap or more looks like a short one from the tags alone; the numbers must still be
// the board's and every record must land in the frame (and lap) it belongs to.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <memory>
#include <set>

#include "acquisition_fake_dma.h"
#include "OstrelDAQEngine.h"
#include "engine/stream_queue.h"

namespace ostrel::testing {
namespace {

// Model 5 geometry at record length 1000 with 524 records per frame: 640 slots, 2096 ring records.
constexpr FakeGeometry kGeometry{1000, 2, 40960, 40, 524};
constexpr uint32_t kRecordsPerFrame = 524;
constexpr uint32_t kRingRecords = 4 * kRecordsPerFrame;
constexpr int64_t kTicksPerSecond = 1000000000;
// A record a millisecond: the run before each gap is long enough for the scanner to see that the
// board keeps its rate, and the ring's lap (2 s) long against the clock's uncertainty.
constexpr int64_t kTicksPerRecord = 1000000;

struct GapCase {
    const char *name;
    uint32_t before;  // records written before the gap
    uint32_t gap;     // records lost
    int64_t pace = 1; // the board's record time in units of the one its sampling rate gives
    uint32_t stillMs = 0;  // before the gap, the board stands still while the thread keeps looking
    uint32_t looksAfter = 0;  // passes a millisecond apart that find nothing after the gap
};

// A board loses records while no descriptor is queued, so a gap opens where a chunk (40 slots)
// begins; the simulated one can also leave records out within a chunk.
const GapCase kGaps[] = {
    {"one record within a chunk", 690, 1},
    {"part of a frame within a chunk", 705, 300},
    {"a lap and ten records within a chunk", 1015, kRingRecords + 10},
    {"one record", 680, 1},
    {"part of a frame", 680, 300},
    {"a whole frame", 520, 524},
    {"three frames and some", 880, 3 * 524 + 77},
    {"exactly a lap", 1040, kRingRecords},
    {"a lap and ten records", 1000, kRingRecords + 10},
    {"three laps and a half", 320, 3 * kRingRecords + kRingRecords / 2},
    {"two laps exactly", 400, 2 * kRingRecords},
    // A board held back to half its rate (a simulator on a loaded machine) loses nothing: the
    // clock must not make laps of it.
    {"no gap at half the rate", 3000, 0, 2},
    {"part of a frame at half the rate", 3000, 300, 2},
    // A board that stood still (held, or a trigger that paused) for a lap's time while the thread
    // kept looking has lost nothing meanwhile: the clock must not make laps of the pause.
    {"nothing lost after standing still", 680, 0, 1, 2100},
    {"one record after standing still", 690, 1, 1, 2100},
    {"one record at a chunk start after standing still", 680, 1, 1, 3200},
    // The thread, held off its core while the board lost a lap, looks a few times before the
    // board writes into the descriptors it queued: the board was not watched standing still, and
    // the lap counts.
    {"a lap and ten records looked for before the board goes on", 1000, kRingRecords + 10, 1, 0,
     3},
};

void PrintTo(const GapCase &gap, std::ostream *out) { *out << gap.name; }

class StreamNumbering : public ::testing::TestWithParam<GapCase> {
protected:
    explicit StreamNumbering(const FakeGeometry &shape = kGeometry) : geometry(shape) {}
    void SetUp() override {
        dma = std::make_unique<FakeDma>(geometry);
        dma->MarkEmpty();
        queue = StreamQueue::Create(256, DAQ_STREAM_FAIL, geometry.RecordsPerFrame,
                                    geometry.RecordPoints);
        ASSERT_NE(queue, nullptr);
        ScanLayout layout = dma->Layout();
        layout.Stream = queue.get();
        layout.RecordNumber = geometry.RecordsPerFrame;
        layout.RecordsPerSecond = static_cast<double>(kTicksPerSecond) / kTicksPerRecord;
        ManualClock::now = 0;
        ManualClock::nextRead = -1;
        scanner = std::make_unique<RecordScanner>(layout, status, ManualClock::Read,
                                                  kTicksPerSecond);
        scanner->BeginRun();
    }
    // The board writes count records, a millisecond each, found in passes of up to a chunk;
    // each chunk is given up by the scanner as its descriptor would be queued, before the board
    // writes it.
    void Write(uint32_t count) {
        const uint32_t slotsPerChunk = geometry.SlotsPerChunk;
        while (count > 0) {
            const uint32_t cursor = dma->SlotCount() - dma->RecordsUntilSlotWrap();
            if (cursor % slotsPerChunk == 0) scanner->ForgetChunk(cursor / slotsPerChunk);
            const uint32_t now = std::min(count, slotsPerChunk - cursor % slotsPerChunk);
            ManualClock::now += now * kTicksPerRecord * pace;
            for (uint32_t index = 0; index < now; ++index) produced.insert(next++);
            dma->Produce(now);
            scanner->Pass();
            count -= now;
        }
    }
    // The thread reads the clock as a pass begins and is then held up while the board writes count
    // records (into chunks queued before), all of which it takes in that one pass.
    void WriteDuringOnePass(uint32_t count) {
        const int64_t passBegins = ManualClock::now;
        dma->ProduceQueued(count, *scanner);
        for (uint32_t index = 0; index < count; ++index) produced.insert(next++);
        ManualClock::now += count * kTicksPerRecord * pace;
        ManualClock::nextRead = passBegins;
        scanner->Pass();
    }
    // Passes a millisecond apart find nothing new.
    void StandStill(uint32_t milliseconds) {
        for (uint32_t pass = 0; pass < milliseconds; ++pass) {
            ManualClock::now += kTicksPerSecond / 1000;
            scanner->Pass();
        }
    }
    void Lose(uint32_t count) {
        ManualClock::now += count * kTicksPerRecord * pace;
        dma->SkipTags(count);
        next += count;
    }

    FakeGeometry geometry;
    RingStatus status;
    std::unique_ptr<FakeDma> dma;
    std::unique_ptr<StreamQueue> queue;
    std::unique_ptr<RecordScanner> scanner;
    void ExpectFramesAsWritten(const std::set<uint64_t> &notTaken, uint64_t firstFrame = 0);

    int64_t pace = 1;
    uint64_t next = 0;  // the board's running record number
    std::set<uint64_t> produced;
};

// A start over a buffer whose last slot holds a record of an earlier run.
class StreamNumberingAtStart : public StreamNumbering {
protected:
    void SetUp() override {
        StreamNumbering::SetUp();
        dma->SetTag(dma->SlotCount() - 1, 1234);
        scanner->BeginRun();
    }
};

// Every frame delivered holds exactly the records written to it (less those never taken), from
// the right lap, in order; all but the last two frames are out. Sequence 0 is the board's frame
// firstFrame, the first one the run saw begin.
void StreamNumbering::ExpectFramesAsWritten(const std::set<uint64_t> &notTaken,
                                            uint64_t firstFrame) {
    const uint32_t recordsPerFrame = geometry.RecordsPerFrame, ringRecords = 4 * recordsPerFrame;
    std::map<uint64_t, uint32_t> expectedValid;
    for (const uint64_t record : produced) {
        if (notTaken.count(record) == 0 && record / recordsPerFrame >= firstFrame) {
            ++expectedValid[record / recordsPerFrame - firstFrame];
        }
    }
    uint64_t lastFrame = 0;
    bool first = true;
    size_t delivered = 0;
    for (int32_t slot = queue->TakeOldest(); slot >= 0; slot = queue->TakeOldest()) {
        const StreamSlot &frame = queue->Slot(slot);
        SCOPED_TRACE(::testing::Message() << "frame " << frame.Sequence);
        if (!first) {
            EXPECT_GT(frame.Sequence, lastFrame) << "frames in order";
        }
        first = false;
        lastFrame = frame.Sequence;
        ASSERT_EQ(expectedValid.count(frame.Sequence), 1u) << "a frame the board wrote records of";
        EXPECT_EQ(frame.RecordsValid, expectedValid[frame.Sequence]);
        // Every record that arrived is the board's record of this frame, from the right lap.
        const int16_t *samples = queue->Samples(slot);
        const uint8_t *filled = queue->Filled(slot);
        for (uint32_t index = 0; index < recordsPerFrame; ++index) {
            const uint64_t record = (frame.Sequence + firstFrame) * recordsPerFrame + index;
            const bool arrived = produced.count(record) == 1 && notTaken.count(record) == 0;
            ASSERT_EQ(filled[index] != 0, arrived) << "record " << index;
            if (!arrived) continue;
            const int16_t value = FakeDma::ValueOf(static_cast<uint32_t>(record % ringRecords),
                                                   static_cast<uint32_t>(record / ringRecords));
            ASSERT_EQ(samples[static_cast<size_t>(index) * geometry.RecordPoints], value)
                << "record " << index;
        }
        queue->FreeSlot(slot);
        ++delivered;
    }
    // Every frame with records is out but the last two, which wait for the board to go on.
    EXPECT_GE(delivered + 2, expectedValid.size());
    EXPECT_LE(delivered, expectedValid.size());
}

TEST_P(StreamNumbering, FramesCarryTheBoardsNumbersAndTheirOwnRecords) {
    const GapCase &gap = GetParam();
    pace = gap.pace;
    Write(gap.before);
    StandStill(gap.stillMs);
    Lose(gap.gap);
    StandStill(gap.looksAfter);
    Write(8 * kRecordsPerFrame);
    // Every record written arrives, the first one after the gap included.
    ExpectFramesAsWritten({});
}

// The run's first record does not follow what its predecessor's slot held at the start, and is
// never taken. A lap of the DMA buffer later the newest record sits in the slot before it, and
// until its chunk is queued again it still holds that record: an old one, not one the board wrote
// after the newest (read so, it would open a frame a lap ahead and empty the one it belongs to).
TEST_F(StreamNumberingAtStart, AnOldRecordNeverTakenIsNotTakenAsTheNextOne) {
    Write(dma->SlotCount());  // one lap of the buffer; chunk 0 is not queued again yet
    Write(8 * kRecordsPerFrame);
    // Record 0 is never taken, so frame 1 is the first the run saw begin.
    ExpectFramesAsWritten({0}, 1);
}

// A simulated board at full pace can run far ahead of its sampling rate and then stand still, its
// records on average at the rate. Here it writes 1800 records in no time, stands still for as long,
// and goes on at the rate: nothing is lost, though the clock, read against the best of its recent
// records, puts it 1800 records ahead when the next chunk begins, most of a lap of 2096. Only a
// board left without a descriptor loses records, never more than it acquires between the queueing
// of two chunks (here 40 records' time apart).
TEST_F(StreamNumbering, ABoardAheadOfItsClockThenStillLosesNothing) {
    Write(1000);
    pace = 0;
    Write(1800);
    pace = 1;
    ManualClock::now += 1800 * kTicksPerRecord;
    Write(10);  // in the middle of a chunk: the board keeps its rate over the run again
    Write(8 * kRecordsPerFrame);
    ExpectFramesAsWritten({});
}

// A frame of 100 records in a buffer of 640 slots: the board can write more than half a lap of the
// ring into the chunks queued while the thread stands still.
constexpr FakeGeometry kShortFrames{100, 2, 4096, 40, 100};

class StreamNumberingShortRing : public StreamNumbering {
protected:
    StreamNumberingShortRing() : StreamNumbering(kShortFrames) {}
};

// A pass held up after it read the clock takes records the board wrote long after that reading.
// The time of the pass's start says nothing of where the board is by then; taken as the time the
// board was at its newest record, it would put the board 300 records ahead of itself, and the next
// gap, of 50 records, would be numbered a lap of 400 too long, pushing every later record a lap
// ahead of the frame it belongs to.
TEST_F(StreamNumberingShortRing, AHeldUpPassDoesNotPutTheBoardAhead) {
    Write(1000);
    WriteDuringOnePass(300);
    Write(10);
    Lose(50);
    Write(8 * geometry.RecordsPerFrame);
    ExpectFramesAsWritten({});
}

INSTANTIATE_TEST_SUITE_P(Gaps, StreamNumbering, ::testing::ValuesIn(kGaps),
                         [](const ::testing::TestParamInfo<GapCase> &info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

}  // namespace
}  // namespace ostrel::testing
