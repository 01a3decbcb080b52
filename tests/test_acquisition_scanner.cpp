// The record scanner on a plain buffer: tag rules, frame bookkeeping, counters, without a thread
// or a board. Geometry of model 5 with record length 1000 and 524 records per frame: 40 slots of
// 1002 points per 40960-point chunk, 640 slots, 2096 ring records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "acquisition_fake_dma.h"

namespace ostrel::testing {
namespace {

constexpr FakeGeometry kModel5Geometry{1000, 2, 40960, 40, 524};
constexpr int64_t kTicksPerSecond = 1000000000;

class ScannerTest : public ::testing::Test {
protected:
    void Build(const FakeGeometry &geometry) {
        dma = std::make_unique<FakeDma>(geometry);
        dma->MarkEmpty();
        ManualClock::now = 0;
        scanner = std::make_unique<RecordScanner>(dma->Layout(), status, ManualClock::Read,
                                                  kTicksPerSecond);
    }
    // Writes count records of the board's sequence and runs one pass.
    void ProduceAndPass(uint32_t count) {
        dma->Produce(count);
        scanner->Pass();
    }
    // Writes count records, at most perPass between passes and never across the wrap from the last
    // slot to slot 0 within one pass, so that every pass finds them in tag order.
    void ProduceInPasses(uint32_t count, uint32_t perPass = 100) {
        while (count > 0) {
            const uint32_t now = std::min({count, perPass, dma->RecordsUntilSlotWrap()});
            ProduceAndPass(now);
            count -= now;
        }
    }
    int32_t FrameCounter() const { return status.FrameCounter.load(); }
    int32_t RecordsReceived() const { return status.RecordsReceived.load(); }
    int32_t Statistic(int index) const { return status.FrameStatistics[index].load(); }

    RingStatus status;
    std::unique_ptr<FakeDma> dma;
    std::unique_ptr<RecordScanner> scanner;
};

TEST_F(ScannerTest, SlotZeroFollowsTheLastSlotOfChunk15) {
    Build(kModel5Geometry);
    ASSERT_EQ(dma->SlotCount(), 640u);
    scanner->BeginRun();
    dma->SetTag(638, 2);  // keeps slot 639 out of the chain on its own
    dma->SetTag(639, 100);
    dma->WriteRecord(0, 5, 1234);
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 0) << "slot 0 (tag 5) after slot 639 (tag 100)";
    EXPECT_FALSE(dma->Filled(5));
    EXPECT_EQ(dma->LastSlotTag(0), kNoRecordTag) << "a refused slot keeps its last tag";

    dma->SetTag(639, 4);
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 1) << "slot 0 (tag 5) after slot 639 (tag 4)";
    EXPECT_TRUE(dma->Filled(5));
    EXPECT_EQ(dma->LastSlotTag(0), 5u);
    EXPECT_EQ(dma->RingRecord(5)[0], 1234);
    EXPECT_EQ(dma->RingRecord(5)[999], 1234);
}

TEST_F(ScannerTest, LastRingTagIsFollowedByZero) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    dma->SetTag(638, 7);
    dma->SetTag(639, 2095);  // RingSlotCount - 1
    dma->WriteRecord(0, 0, -77);
    dma->WriteRecord(1, 1, -78);
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 2);
    EXPECT_EQ(dma->RingRecord(0)[500], -77);
    EXPECT_EQ(dma->RingRecord(1)[500], -78);
}

TEST_F(ScannerTest, FirstRecordAfterSetUpIsAcceptedInEmptySlots) {
    // Tag 0 in slot 0 after the marked-empty slot 639: in order, so the first frame is whole.
    Build(kModel5Geometry);
    scanner->BeginRun();
    ProduceAndPass(600);
    EXPECT_EQ(RecordsReceived(), 600);
    EXPECT_EQ(dma->RingRecord(0)[0], FakeDma::ValueOf(0, 0));
}

TEST_F(ScannerTest, RecordsPresentAtStartAreNotCopied) {
    Build(kModel5Geometry);
    dma->Produce(10);
    scanner->BeginRun();
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 0);
    ProduceAndPass(5);
    EXPECT_EQ(RecordsReceived(), 5) << "the new records chain onto the ones present at start";
    EXPECT_FALSE(dma->Filled(9));
    EXPECT_TRUE(dma->Filled(10));
}

TEST_F(ScannerTest, FrameIsCompleteOnlyWithMoreThanHalfOfItsRecords) {
    struct Case {
        uint32_t recordsInFrame0;
        bool complete;
    };
    for (const Case &c : {Case{263, true}, Case{262, false}, Case{524, true}, Case{1, false}}) {
        SCOPED_TRACE(::testing::Message() << "records in frame 0: " << c.recordsInFrame0);
        Build(kModel5Geometry);
        // The records before them are in memory at start (so the chain holds) but not copied.
        dma->Produce(524 - c.recordsInFrame0);
        scanner->BeginRun();
        ProduceAndPass(c.recordsInFrame0);
        EXPECT_EQ(scanner->FrameRecordCount(0), static_cast<int32_t>(c.recordsInFrame0));
        EXPECT_FALSE(scanner->FrameComplete(0)) << "no record of frame 1 yet";
        EXPECT_EQ(FrameCounter(), -1);
        ProduceAndPass(1);  // tag 524: the first record of frame 1
        EXPECT_EQ(scanner->FrameComplete(0), c.complete);
        EXPECT_EQ(FrameCounter(), c.complete ? 0 : -1);
        EXPECT_FALSE(status.NewFrameAvailable.load()) << "the first completion is not announced";
    }
}

TEST_F(ScannerTest, FramesAreAnnouncedOneStepLate) {
    Build(kModel5Geometry);
    status.DataRate.store(123.0f);
    scanner->BeginRun();
    EXPECT_EQ(FrameCounter(), -1);
    EXPECT_EQ(status.RecordsReceived.load(), 0);

    ProduceAndPass(524);  // frame 0 whole, nothing of frame 1
    EXPECT_EQ(FrameCounter(), -1);
    ProduceAndPass(1);
    EXPECT_EQ(FrameCounter(), 0);
    EXPECT_FALSE(status.NewFrameAvailable.load());
    EXPECT_EQ(status.LatestFrameStart.load(), 0u);

    ManualClock::now = kTicksPerSecond / 2;
    ProduceInPasses(524);  // frame 1 whole and the first record of frame 2
    EXPECT_EQ(FrameCounter(), 1);
    EXPECT_TRUE(status.NewFrameAvailable.load()) << "announced from the second completion on";
    EXPECT_EQ(status.LatestFrameStart.load(), 524u);
    EXPECT_FLOAT_EQ(status.DataRate.load(), 123.0f) << "no rate before the third completion";

    // Third completion, one second after the start: one frame of 524 x 1000 x 2 bytes.
    ManualClock::now = kTicksPerSecond;
    ProduceInPasses(524);
    EXPECT_EQ(FrameCounter(), 2);
    EXPECT_FLOAT_EQ(status.DataRate.load(), 1.048f);
    // Fourth, half a second later.
    ManualClock::now = kTicksPerSecond + kTicksPerSecond / 2;
    ProduceInPasses(524);
    EXPECT_EQ(FrameCounter(), 3);
    EXPECT_FLOAT_EQ(status.DataRate.load(), 2.096f);
    EXPECT_EQ(RecordsReceived(), 524 * 4 + 1);
}

TEST_F(ScannerTest, WholeFramesAreRecycledWithoutCountingAsPartial) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    ProduceInPasses(524 * 10);  // frames 0..9: two and a half laps of the ring
    EXPECT_EQ(Statistic(4), 0);
    EXPECT_EQ(Statistic(5), 0);
    EXPECT_EQ(FrameCounter(), 8);
    EXPECT_EQ(Statistic(6), 0);
    // Ring frame 0 holds frame 8 (third lap); ring frame 2 was recycled by the records of frame 9.
    EXPECT_EQ(dma->RingRecord(0)[0], FakeDma::ValueOf(0, 2));
    EXPECT_EQ(dma->RingRecord(524)[0], FakeDma::ValueOf(524, 2));
    EXPECT_EQ(Statistic(0), 524);
    EXPECT_EQ(Statistic(1), 524);
    EXPECT_EQ(Statistic(2), 0);
    EXPECT_EQ(Statistic(3), 524);
    EXPECT_EQ(scanner->FrameRecordCount(2), 0);
    EXPECT_EQ(Statistic(7), 0);
    EXPECT_EQ(Statistic(8), 0);
}

TEST_F(ScannerTest, ATagGapMakesAPartialFrame) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    ProduceInPasses(524 + 100);  // frame 0 and the start of frame 1
    dma->SkipTags(5);            // tags 624..628 never written
    ProduceInPasses(400);        // 629..1028: 629 follows the newest record taken, across the gap
    EXPECT_EQ(scanner->FrameRecordCount(1), 100 + 400) << "only the skipped records are missing";
    EXPECT_EQ(Statistic(4), 0);
    ProduceInPasses(524 * 3);    // on to the next lap's frame 0, which recycles frame 1
    EXPECT_EQ(Statistic(4), 1);
    EXPECT_EQ(Statistic(5), 519) << "524 minus the 5 skipped";
    EXPECT_EQ(FrameCounter(), 3);
    EXPECT_EQ(Statistic(6), 33) << "100 x 1 partial / 3, truncated";
}

TEST_F(ScannerTest, AFilledRingRecordIsNotOverwritten) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    ProduceAndPass(10);
    // The same tag 9 again in a later slot (a board repeating itself): refused, and the slot keeps
    // its last tag.
    dma->SetTag(19, 8);
    dma->WriteRecord(20, 9, 555);
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 10);
    EXPECT_EQ(dma->RingRecord(9)[0], FakeDma::ValueOf(9, 0));
    EXPECT_EQ(dma->LastSlotTag(20), kNoRecordTag);
}

// Slot counts that are a multiple of the ring's record count make the board write every slot with
// the tag it held on the lap before. With each chunk emptied before it is queued again, as the
// thread does, every record of every lap is taken, in geometries where that ratio is 1, 2 and 4.
TEST_F(ScannerTest, SlotsReceivingTheSameTagEveryLapAreTakenOnEveryLap) {
    const FakeGeometry geometries[] = {
        {64, 4, 8 * 68, 8, 32},  // 128 slots, 128 ring records
        {64, 4, 8 * 68, 8, 16},  // 128 slots, 64 ring records
        {64, 4, 8 * 68, 8, 8},   // 128 slots, 32 ring records
    };
    for (const FakeGeometry &geometry : geometries) {
        SCOPED_TRACE(::testing::Message() << geometry.RecordsPerFrame << " records per frame");
        Build(geometry);
        scanner->BeginRun();
        for (uint32_t lap = 0; lap < 4; ++lap) {
            for (uint32_t chunk = 0; chunk < 16; ++chunk) {
                scanner->ForgetChunk(chunk);
                ProduceAndPass(8);
            }
            EXPECT_EQ(RecordsReceived(), static_cast<int32_t>(128 * (lap + 1))) << "lap " << lap;
        }
        EXPECT_EQ(Statistic(4), 0) << "no partial frame";
        const uint32_t ringRecords = geometry.RecordsPerFrame * 4;
        const uint32_t lastRecord = 4 * 128 - 1;
        EXPECT_EQ(dma->RingRecord(lastRecord % ringRecords)[0],
                  FakeDma::ValueOf(lastRecord % ringRecords, lastRecord / ringRecords))
            << "the ring holds the last lap's record";
    }
}

TEST_F(ScannerTest, LatestFrameMovesBackForRecordsFoundOutOfOrder) {
    Build(kModel5Geometry);
    dma->SetTag(629, 523 - 10);  // present at start: the chain for slot 630
    scanner->BeginRun();
    for (uint32_t slot = 630; slot < 640; ++slot) dma->WriteRecord(slot, slot - 630 + 514, 1);
    for (uint32_t slot = 0; slot < 5; ++slot) dma->WriteRecord(slot, 524 + slot, 2);
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 15);
    EXPECT_EQ(status.LatestFrameStart.load(), 3u * 524) << "last accepted: tag 523 of frame 0";
    dma->WriteRecord(5, 529, 2);
    scanner->Pass();
    EXPECT_EQ(status.LatestFrameStart.load(), 0u) << "a record of frame 1 names frame 0 again";
}

TEST_F(ScannerTest, NewRecordsAcrossTheLastSlotAreTakenInTheBoardsOrder) {
    // 320 records per frame: frame 2 begins at tag 640, in slot 0 of the second lap.
    Build(FakeGeometry{1000, 2, 40960, 40, 320});
    scanner->BeginRun();
    ProduceInPasses(630);
    dma->Produce(15);  // tags 630..639 in slots 630..639, then 640..644 in slots 0..4
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 645);
    EXPECT_EQ(scanner->FrameRecordCount(1), 320);
    EXPECT_EQ(scanner->FrameRecordCount(2), 5) << "the newer records were not wiped";
    EXPECT_EQ(status.LatestFrameStart.load(), 320u);
    ProduceInPasses(3000);
    EXPECT_EQ(Statistic(4), 0);
    EXPECT_EQ(RecordsReceived(), 3645);
}

// Where the board goes on next, a tag that names no place in the ring (left from another
// geometry, or written wrong) is never taken, however it stands to the newest record; the
// board's next record there is.
TEST_F(ScannerTest, ATagOutsideTheRingIsNeverTaken) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    ProduceInPasses(100);  // tags 0..99 in slots 0..99: slot 100 is next
    for (const uint32_t tag : {2096u, 2096u + 7u, 0x7FFFFFF0u, kNoRecordTag - 1u}) {
        dma->SetTag(100, tag);
        scanner->Pass();
        EXPECT_EQ(RecordsReceived(), 100) << "tag " << tag;
    }
    ProduceInPasses(10);
    EXPECT_EQ(RecordsReceived(), 110);
}

TEST_F(ScannerTest, AfterATagGapTheScanFollowsTheBoard) {
    // 372 records per frame: frame 2 begins at tag 744. The record after a gap (slot 100) is
    // taken as the board's next one; a lap later the board's new records run across that slot
    // within one pass, older ones (frame 1) before it and newer ones (frame 2) from it on. Taken
    // in the board's order, only the frame with the gap is partial, short of the skipped records
    // alone.
    Build(FakeGeometry{1000, 2, 40960, 40, 372});
    scanner->BeginRun();
    ProduceInPasses(100);        // tags 0..99 in slots 0..99
    dma->SkipTags(5);            // 100..104 never written; 105 (slot 100) does not follow 99
    ProduceInPasses(600);        // 105..704 in slots 100..639 and 0..59
    EXPECT_EQ(RecordsReceived(), 100 + 600);
    dma->Produce(80);            // 705..743 in slots 60..99, then 744..784 in slots 100..139
    scanner->Pass();
    EXPECT_EQ(scanner->FrameRecordCount(2), 41) << "the first records of frame 2 are kept";
    ProduceInPasses(372 * 4);
    EXPECT_EQ(Statistic(4), 1) << "partial frames";
    EXPECT_EQ(Statistic(5), 372 - 5);
}

TEST_F(ScannerTest, ABoardWritingDuringThePassesLosesNothing) {
    // The board writes on its own thread, never more than half the slots ahead of what has been
    // taken; the passes meet records written behind and ahead of the scan at any moment.
    Build(kModel5Geometry);
    scanner->BeginRun();
    constexpr uint32_t kRecords = 200000;
    std::atomic<bool> done{false};
    // Records taken, published after each pass: what lets the board reuse their slots (on the
    // board, queuing the chunk's descriptor again).
    std::atomic<uint32_t> takenRecords{0};
    std::thread board([&] {
        uint32_t written = 0;
        while (written < kRecords) {
            const uint32_t taken = takenRecords.load(std::memory_order_acquire);
            if (written - taken < 320) {
                dma->Produce(1);
                ++written;
            }
        }
        done.store(true);
    });
    while (!done.load()) {
        scanner->Pass();
        takenRecords.store(static_cast<uint32_t>(RecordsReceived()), std::memory_order_release);
    }
    board.join();
    scanner->Pass();  // the last records
    EXPECT_EQ(RecordsReceived(), static_cast<int32_t>(kRecords));
    EXPECT_EQ(Statistic(4), 0) << "partial frames";
}

TEST_F(ScannerTest, RecordOfTheFrameBeingReadWaitsForTheNextPass) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    status.Guard.BeginReading(0);
    ProduceAndPass(10);
    EXPECT_EQ(RecordsReceived(), 0);
    EXPECT_FALSE(dma->Filled(3));
    EXPECT_EQ(dma->LastSlotTag(3), kNoRecordTag);
    status.Guard.EndReading();
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 10);
    EXPECT_EQ(dma->RingRecord(3)[10], FakeDma::ValueOf(3, 0));
}

TEST_F(ScannerTest, RecordsHeldBackUntilTheirChunkIsQueuedAgainAreGivenUp) {
    Build(kModel5Geometry);
    scanner->BeginRun();
    status.Guard.BeginReading(0);
    ProduceAndPass(50);      // slots 0..49: chunk 0 (40 slots) and 10 of chunk 1, all frame 0
    EXPECT_EQ(RecordsReceived(), 0);
    scanner->ForgetChunk(0);  // the thread queues chunk 0 again: the board will overwrite it
    status.Guard.EndReading();
    scanner->Pass();
    EXPECT_EQ(RecordsReceived(), 10) << "only chunk 1's records are still taken";
    EXPECT_FALSE(dma->Filled(39));
    EXPECT_TRUE(dma->Filled(40));
    ProduceInPasses(590 + 5);  // round to chunk 0 again: its new records are taken
    EXPECT_EQ(RecordsReceived(), 10 + 595);
    EXPECT_TRUE(dma->Filled(644));
    EXPECT_EQ(dma->RingRecord(644)[0], FakeDma::ValueOf(644, 0));
}

TEST_F(ScannerTest, UnalignedTagsAboveSixteenBitsAreReadWhole) {
    // Odd record points put every other trailer on a 2-byte boundary; 16400 records per frame
    // make tags above 65535.
    Build(FakeGeometry{33, 2, 40960, 40, 16400});
    dma->SkipTags(65530);
    dma->Produce(1);  // tag 65530, present at start
    scanner->BeginRun();
    ProduceAndPass(20);
    EXPECT_EQ(RecordsReceived(), 20);
    EXPECT_EQ(dma->LastSlotTag(10), 65540u);
    EXPECT_EQ(dma->RingRecord(65540)[32], FakeDma::ValueOf(65540, 0));
}

}  // namespace
}  // namespace ostrel::testing
