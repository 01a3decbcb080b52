// DMA diagnostics: the pool analysis on a plain buffer and on the simulated board's DMA buffer,
// the bandwidth test (sizes, descriptors, status text, a stalled board, refusals), the pool copy,
// and an acquisition that still works after each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/dma_diagnostics.h"
#include "engine/engine_state.h"
#include "platform/os/os_services.h"
#include "support/open_model_board.h"

namespace {

using ostrel::g_engine;
using ostrel::PoolChain;
using ostrel::PoolLayout;
using ostrel_test::OpenModel;

// Model 5 with record length 1000 and record number 10: 40 slots of 1002 points per 40960-point
// chunk, 524 records per frame.
PoolLayout Model5Layout() {
    PoolLayout layout;
    layout.ChunkPoints = 40960;
    layout.SlotsPerChunk = 40;
    layout.RecordPoints = 1000;
    layout.TrailerPoints = 2;
    layout.RingSlotCount = 2096;
    return layout;
}

// Byte offset of the tag of slot n (chunk-major) in a pool.
uint64_t TagOffset(const PoolLayout &layout, uint64_t slot) {
    const uint64_t chunk = slot / layout.SlotsPerChunk;
    const uint64_t inChunk = slot % layout.SlotsPerChunk;
    return 2 * (chunk * layout.ChunkPoints +
                inChunk * (layout.RecordPoints + layout.TrailerPoints) + layout.RecordPoints);
}

// A plain pool buffer whose slots hold the given tags.
std::vector<uint8_t> PoolWithTags(const PoolLayout &layout, const std::vector<uint32_t> &tags) {
    std::vector<uint8_t> pool(static_cast<size_t>(layout.ChunkPoints * 2 * 16), 0);
    for (size_t slot = 0; slot < tags.size(); ++slot) {
        std::memcpy(pool.data() + TagOffset(layout, slot), &tags[slot], 4);
    }
    return pool;
}

TEST(PoolChain, WorkedValuesOnAPlainBuffer) {
    const PoolLayout layout = Model5Layout();
    struct Case {
        const char *name;
        std::vector<uint32_t> tags;  // one per slot, 640 slots
        bool found;
        uint32_t first;
        int32_t count;
    };
    std::vector<uint32_t> counting(640), allZero(640, 0), allEmpty(640, 0xFFFFFFFF), twice(640);
    for (uint32_t n = 0; n < 640; ++n) counting[n] = 100 + n;
    // Two passes over the same tags 0..319: slot 320 (tag 0 after 319) does not chain, and the
    // second pass lands on the positions of the first, so they count once.
    for (uint32_t n = 0; n < 640; ++n) twice[n] = n % 320;
    const Case cases[] = {
        // Slot 0 does not chain (its predecessor, slot 639, holds 739); slots 1..639 do.
        {"tags 100 + n", counting, true, 101, 639},
        {"all tags 0", allZero, false, 0, 0},
        {"all tags marked empty", allEmpty, false, 0, 0},
        {"tags 0..319 twice", twice, true, 1, 319},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> pool = PoolWithTags(layout, c.tags);
        PoolChain chain;
        ASSERT_TRUE(ostrel::FindPoolChain(pool.data(), layout, &chain));
        EXPECT_EQ(chain.Found, c.found);
        if (c.found) {
            EXPECT_EQ(chain.FirstTag, c.first);
        }
        EXPECT_EQ(chain.RecordCount, c.count);
    }
}

// Tag RingSlotCount - 1 followed by tag 0 is in order.
TEST(PoolChain, TagsWrapAtTheRingSlotCount) {
    PoolLayout layout = Model5Layout();
    layout.RingSlotCount = 8;
    std::vector<uint32_t> tags(640);
    for (uint32_t n = 0; n < 640; ++n) tags[n] = n % 8;
    const std::vector<uint8_t> pool = PoolWithTags(layout, tags);
    PoolChain chain;
    ASSERT_TRUE(ostrel::FindPoolChain(pool.data(), layout, &chain));
    EXPECT_TRUE(chain.Found);
    EXPECT_EQ(chain.FirstTag, 0u);  // slot 0 follows slot 639's tag 7
    // Tags 0..7 only: eight distinct distances from the first.
    EXPECT_EQ(chain.RecordCount, 8);
}

TEST(PoolLayout, RefusesWhatCannotFitTheBuffer) {
    const uint64_t buffer = 0x1000000;
    struct Case {
        const char *name;
        void (*change)(PoolLayout &);
        bool fits;
    };
    const Case cases[] = {
        {"the configured geometry", [](PoolLayout &) {}, true},
        {"slots filling the chunk exactly", [](PoolLayout &l) { l.RecordPoints = 1022; }, true},
        {"one point more per record", [](PoolLayout &l) { l.RecordPoints = 1023; }, false},
        {"a record longer than the chunk", [](PoolLayout &l) { l.RecordPoints = 50000; }, false},
        {"no record points", [](PoolLayout &l) { l.RecordPoints = 0; }, false},
        {"no slots", [](PoolLayout &l) { l.SlotsPerChunk = 0; }, false},
        {"no chunk set up yet", [](PoolLayout &l) { l.ChunkPoints = 0; }, false},
        {"no ring positions", [](PoolLayout &l) { l.RingSlotCount = 0; }, false},
        {"a ring past 32 bits", [](PoolLayout &l) { l.RingSlotCount = 0x100000000ull; }, false},
        {"a trailer too short for the tag", [](PoolLayout &l) { l.TrailerPoints = 1; }, false},
        {"chunks past the buffer", [](PoolLayout &l) { l.ChunkPoints = 0x80001; }, false},
        {"chunks filling the buffer exactly", [](PoolLayout &l) { l.ChunkPoints = 0x80000; }, true},
        {"a record count that would wrap", [](PoolLayout &l) { l.RecordPoints = 0x100000000ull; },
         false},
        {"slot count past 32 bits", [](PoolLayout &l) { l.SlotsPerChunk = 0x10000000; }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PoolLayout layout = Model5Layout();
        c.change(layout);
        EXPECT_EQ(ostrel::PoolLayoutFits(layout, buffer), c.fits);
    }
}

// ---- on the simulated board --------------------------------------------------------------------

// Writes tag values into the record slots of the open board's DMA buffer, as the board would.
void WriteTags(const PoolLayout &layout, const std::vector<uint32_t> &tags) {
    for (size_t slot = 0; slot < tags.size(); ++slot) {
        ASSERT_EQ(SIM_WriteDmaBuffer(TagOffset(layout, slot), &tags[slot], 4), 0) << slot;
    }
}

// What the acquisition owns and a pool analysis must leave alone.
struct AcquisitionSnapshot {
    uint32_t recordPoints, recordsPerFrame, dmaSlotCount, ringSlotCount, recordLength, recordNumber;
    const void *slotTrailers, *ringRecordFilled, *lastSlotTags, *frameRing;
    bool hostBuffersAllocated;
    int32_t recordsReceived;
    uint32_t recordNumInMem;

    static AcquisitionSnapshot Take() {
        const ostrel::AcquisitionState &a = g_engine.acquisition;
        return {a.RecordPoints,
                a.RecordsPerFrame,
                a.DmaSlotCount,
                a.RingSlotCount,
                a.RecordLength,
                a.RecordNumber,
                a.SlotTrailers.get(),
                a.RingRecordFilled.get(),
                a.LastSlotTags.get(),
                a.FrameRing.get(),
                a.HostBuffersAllocated,
                a.Ring.RecordsReceived.load(),
                g_engine.geometry.RecordNumInMem};
    }
    void ExpectSame(const AcquisitionSnapshot &o) const {
        EXPECT_EQ(recordPoints, o.recordPoints);
        EXPECT_EQ(recordsPerFrame, o.recordsPerFrame);
        EXPECT_EQ(dmaSlotCount, o.dmaSlotCount);
        EXPECT_EQ(ringSlotCount, o.ringSlotCount);
        EXPECT_EQ(recordLength, o.recordLength);
        EXPECT_EQ(recordNumber, o.recordNumber);
        EXPECT_EQ(slotTrailers, o.slotTrailers);
        EXPECT_EQ(ringRecordFilled, o.ringRecordFilled);
        EXPECT_EQ(lastSlotTags, o.lastSlotTags);
        EXPECT_EQ(frameRing, o.frameRing);
        EXPECT_EQ(hostBuffersAllocated, o.hostBuffersAllocated);
        EXPECT_EQ(recordsReceived, o.recordsReceived);
        EXPECT_EQ(recordNumInMem, o.recordNumInMem);
    }
};

// Starts the configured acquisition and reads one frame into lane buffers of the given size.
void ExpectAcquisitionDelivers(size_t samplesPerLane) {
    std::vector<int16_t> lanes[4];
    for (auto &lane : lanes) lane.assign(samplesPerLane, 0);
    ASSERT_EQ(DAQ_StartAcquisition(), 0);
    bool announced = false;
    for (int poll = 0; poll < 10000 && !announced; ++poll) {
        announced = DAQ_NewDataFrameAvailable() != 0;
        if (!announced) ostrel::os::SleepMilliseconds(1);
    }
    EXPECT_TRUE(announced) << "no frame within 10 s";
    EXPECT_EQ(
        DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(), lanes[3].data()), 0);
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    int32_t received = 0, frames = 0;
    float rate = 0;
    DAQ_CheckDMA(&received, &frames, &rate);
    EXPECT_GT(received, 0);
    EXPECT_GT(frames, 0);
}

TEST(ProcessDMAPool, WorkedValueOnTheBoardAndAcquisitionUnharmed) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    ASSERT_EQ(g_engine.geometry.RecordNumInMem, 40u);
    std::vector<uint32_t> tags(640);
    for (uint32_t n = 0; n < 640; ++n) tags[n] = 100 + n;
    WriteTags(Model5Layout(), tags);

    const AcquisitionSnapshot before = AcquisitionSnapshot::Take();
    uint8_t unused = 0;
    int32_t first = -5, count = -5;
    ASSERT_EQ(DAQ_ProcessDMAPool(&unused, &first, &count, 1000, 524), 0);
    EXPECT_EQ(first, 101);
    EXPECT_EQ(count, 639);
    EXPECT_EQ(g_engine.acquisition.PoolDestination, &unused);
    AcquisitionSnapshot::Take().ExpectSame(before);

    // The same analysis for another geometry reads other places and still changes nothing.
    ASSERT_EQ(DAQ_ProcessDMAPool(nullptr, &first, &count, 500, 3), 0);
    AcquisitionSnapshot::Take().ExpectSame(before);

    ExpectAcquisitionDelivers(1000 * 10);
    DAQ_CloseDevice();
}

TEST(ProcessDMAPool, AllEqualTagsWriteNothingToFirst) {
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    std::vector<uint32_t> tags(640, 0);
    WriteTags(Model5Layout(), tags);
    int32_t first = -5, count = -5;
    ASSERT_EQ(DAQ_ProcessDMAPool(nullptr, &first, &count, 1000, 524), 0);
    EXPECT_EQ(first, -5);
    EXPECT_EQ(count, 0);
    DAQ_CloseDevice();
}

TEST(ProcessDMAPool, RefusesAbsurdGeometriesAndNullPointers) {
    OpenModel(5);
    int32_t first = -5, count = -5;
    // Before any set-up the pool has no chunk size.
    EXPECT_EQ(DAQ_ProcessDMAPool(nullptr, &first, &count, 1000, 524), -1);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    uint8_t marker = 0;
    g_engine.acquisition.PoolDestination = &marker;
    struct Case {
        const char *name;
        int32_t length, perFrame;
        bool nullFirst, nullCount;
    };
    const Case cases[] = {
        {"record length 0", 0, 524, false, false},
        {"negative record length", -1000, 524, false, false},
        {"most negative record length", INT32_MIN, 524, false, false},
        {"record length past the slots", 1023, 524, false, false},
        {"record length past the chunk", 40960, 524, false, false},
        {"largest record length", INT32_MAX, 524, false, false},
        {"no records per frame", 1000, 0, false, false},
        {"negative records per frame", 1000, -1, false, false},
        {"a ring count past 32 bits", 1000, INT32_MAX, false, false},
        {"null first", 1000, 524, true, false},
        {"null count", 1000, 524, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DAQ_ProcessDMAPool(nullptr, c.nullFirst ? nullptr : &first,
                                     c.nullCount ? nullptr : &count, c.length, c.perFrame),
                  -1);
        EXPECT_EQ(first, -5);
        EXPECT_EQ(count, -5);
        EXPECT_EQ(g_engine.acquisition.PoolDestination, &marker);
    }
    // The longest record whose slots still fit the configured slots per chunk is analysed.
    EXPECT_EQ(DAQ_ProcessDMAPool(nullptr, &first, &count, 1022, 524), 0);
    DAQ_CloseDevice();
    // Closed: no buffer to read.
    EXPECT_EQ(DAQ_ProcessDMAPool(nullptr, &first, &count, 1000, 524), -1);
}

// Destination with a guard area behind the pool: the copy writes exactly the pool.
struct GuardedDestination {
    static constexpr size_t kGuardBytes = 4096;
    explicit GuardedDestination(size_t poolBytes) : bytes(poolBytes + kGuardBytes, 0xA5) {}
    bool GuardIntact(size_t poolBytes) const {
        return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(poolBytes), bytes.end(),
                           [](uint8_t b) { return b == 0xA5; });
    }
    uint8_t *data() { return bytes.data(); }
    std::vector<uint8_t> bytes;
};

// 16 x 81920 bytes on model 5 and 16 x 278528 on the others.
TEST(DMABandwidthTest, MovesTheWholePoolOnEveryModel) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    for (const ostrel_test::ModelBoard &board : ostrel_test::kModelBoards) {
        SCOPED_TRACE(testing::Message() << "model " << board.model);
        OpenModel(board.model);
        const size_t poolBytes = 16u * (board.model == 5 ? 81920u : 278528u);
        GuardedDestination destination(poolBytes);
        float rate = -1.0f;
        ASSERT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), 0);
        EXPECT_TRUE(std::isfinite(rate));
        EXPECT_GT(rate, 0.0f);
        EXPECT_EQ(std::string(g_engine.discovery.StatusText), "DMA operations are successful");
        EXPECT_TRUE(destination.GuardIntact(poolBytes));
        EXPECT_EQ(g_engine.acquisition.ChunkBytes * 16u, poolBytes);
        EXPECT_TRUE(g_engine.acquisition.DmaFinished.load());
        EXPECT_EQ(g_engine.acquisition.PoolDestination, destination.data());

        // The copy gives back the same pool.
        GuardedDestination copy(poolBytes);
        ASSERT_EQ(DAQ_CopyDMAPool(copy.data()), 0);
        EXPECT_TRUE(copy.GuardIntact(poolBytes));
        EXPECT_TRUE(std::equal(copy.bytes.begin(), copy.bytes.begin() + poolBytes,
                               destination.bytes.begin()));
        DAQ_CloseDevice();
    }
}

TEST(DMABandwidthTest, QueuesSixteenDescriptorsOnlyTheLastRaisingTheFlag) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    OpenModel(6);
    std::vector<uint8_t> destination(16 * 278528);
    float rate = 0;
    SIM_SetAccessLog(1);
    SIM_ClearAccessLog();
    ASSERT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), 0);
    std::vector<SimAccess> log(200000);
    log.resize(static_cast<size_t>(SIM_GetAccessLog(log.data(), static_cast<int>(log.size()))));
    // Descriptor registers are written a byte at a time; put the words together again.
    std::vector<uint32_t> lengths, controls;
    uint32_t word = 0;
    for (const SimAccess &access : log) {
        if (access.space != 2 || !access.write || access.width != 1) continue;
        const uint64_t base = access.offset & ~3ull;
        const unsigned shift = 8 * static_cast<unsigned>(access.offset & 3);
        word = (shift == 0 ? 0 : word) | (access.value & 0xFF) << shift;
        if (shift != 24) continue;
        if (base == 0x6000028) lengths.push_back(word);
        if (base == 0x600002C) controls.push_back(word);
    }
    ASSERT_EQ(controls.size(), 16u);
    EXPECT_EQ(lengths, std::vector<uint32_t>(16, 278528));
    for (size_t i = 0; i < 15; ++i) EXPECT_EQ(controls[i], 0x81000000u) << i;
    EXPECT_EQ(controls[15], 0x80004000u);
    // The flag is cleared afterwards: the dispatcher reads idle without it.
    EXPECT_EQ(SIM_PeekBar(0, 2, 0x6000000, 4) & 0x200u, 0u);
    DAQ_CloseDevice();
}

// With descriptors that complete as they are queued, the first poll already reads finished: the
// span must end in this call, not at an end time kept from the call before.
TEST(DMABandwidthTest, EndTimeComesFromTheSameCall) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    OpenModel(5);
    std::vector<uint8_t> destination(16 * 81920);
    float rate = 0;
    ASSERT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), 0);
    const int64_t firstEnd = g_engine.acquisition.TestEndTime;
    ostrel::os::SleepMilliseconds(5);
    ASSERT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), 0);
    EXPECT_GT(g_engine.acquisition.TestStartTime, firstEnd);
    EXPECT_GE(g_engine.acquisition.TestEndTime, g_engine.acquisition.TestStartTime);
    EXPECT_TRUE(std::isfinite(rate));
    EXPECT_GT(rate, 0.0f);
    DAQ_CloseDevice();
}

TEST(DMABandwidthTest, StalledBoardTimesOutAndTheEngineStaysUsable) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    OpenModel(5);
    std::vector<uint8_t> destination(16 * 81920, 0x5A);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    float rate = -3.0f;
    const int64_t start = ostrel::os::PerformanceCounter();
    EXPECT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), -1);
    const double seconds = static_cast<double>(ostrel::os::PerformanceCounter() - start) /
                           static_cast<double>(ostrel::os::PerformanceFrequency());
    EXPECT_GE(seconds, ostrel::kBandwidthWaitFloorSeconds);  // it did wait for the board
    EXPECT_EQ(rate, -3.0f);
    EXPECT_EQ(std::string(g_engine.discovery.StatusText), "DMA operations failed");
    EXPECT_TRUE(
        std::all_of(destination.begin(), destination.end(), [](uint8_t b) { return b == 0x5A; }));

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
    ASSERT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), 0);
    EXPECT_EQ(std::string(g_engine.discovery.StatusText), "DMA operations are successful");
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    ExpectAcquisitionDelivers(1000 * 10);
    DAQ_CloseDevice();
}

TEST(DMABandwidthTest, RefusedWhileAcquiringWithNullPointersAndWithNothingOpen) {
    std::vector<uint8_t> destination(16 * 81920);
    float rate = -3.0f;
    EXPECT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), -1);  // nothing open

    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    OpenModel(5);
    EXPECT_EQ(DAQ_DMABandwidthTest(nullptr, &rate), -1);
    EXPECT_EQ(DAQ_DMABandwidthTest(destination.data(), nullptr), -1);
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(1000, 10), 0);
    SIM_SetAccessLog(1);
    SIM_ClearAccessLog();
    EXPECT_EQ(DAQ_DMABandwidthTest(destination.data(), &rate), -1);
    EXPECT_EQ(rate, -3.0f);
    // Refused before touching the dispatcher the thread is driving: no translation-window probe.
    std::vector<SimAccess> log(100000);
    log.resize(static_cast<size_t>(SIM_GetAccessLog(log.data(), static_cast<int>(log.size()))));
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const SimAccess &a) {
        return a.space == 2 && a.write && (a.offset & ~7ull) == 0x1000;
    }));
    SIM_SetAccessLog(0);
    EXPECT_EQ(DAQ_StopAcquisition(), 0);
    DAQ_CloseDevice();
}

TEST(CopyDMAPool, CopiesNothingBeforeAnySetUpAndRefusesNull) {
    OpenModel(5);
    std::vector<uint8_t> destination(16, 0x77);
    EXPECT_EQ(DAQ_CopyDMAPool(destination.data()), 0);
    EXPECT_TRUE(
        std::all_of(destination.begin(), destination.end(), [](uint8_t b) { return b == 0x77; }));
    EXPECT_EQ(DAQ_CopyDMAPool(nullptr), -1);
    DAQ_CloseDevice();
}

TEST(CopyDMAPool, CopiesThePoolAsTheBoardLeftIt) {
    OpenModel(5);
    ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
    std::vector<uint32_t> tags(640);
    for (uint32_t n = 0; n < 640; ++n) tags[n] = 3 * n + 1;
    WriteTags(Model5Layout(), tags);
    GuardedDestination destination(16 * 81920);
    ASSERT_EQ(DAQ_CopyDMAPool(destination.data()), 0);
    EXPECT_TRUE(destination.GuardIntact(16 * 81920));
    for (uint32_t n = 0; n < 640; ++n) {
        uint32_t tag = 0;
        std::memcpy(&tag, destination.data() + TagOffset(Model5Layout(), n), 4);
        ASSERT_EQ(tag, 3 * n + 1) << "slot " << n;
    }
    DAQ_CloseDevice();
    // After the close the pool is gone: a refusal.
    EXPECT_EQ(DAQ_CopyDMAPool(destination.data()), -1);
}

// A set-up on a board with larger chunks, then another board: the copy moves at most what the
// header promises for the board open now, whatever came before.
TEST(CopyDMAPool, NeverCopiesAnEarlierBoardsChunkSize) {
    for (const int32_t first : {6, 9, 10}) {
        SCOPED_TRACE(testing::Message() << "model " << first << " then model 5");
        DAQ_CloseDevice();
        const uint32_t ids[] = {ostrel_test::DeviceIdOfModel(first), ostrel_test::DeviceIdOfModel(5)};
        ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
        ASSERT_EQ(DAQ_OpenDevice(0), 0);
        ASSERT_EQ(DAQ_ConfigAcquisition(1024, 64), 0);
        ASSERT_EQ(DAQ_OpenDevice(1), 0);  // the second board, without a close in between
        GuardedDestination afterOpen(16 * 81920);
        EXPECT_EQ(DAQ_CopyDMAPool(afterOpen.data()), 0) << "nothing set up yet: nothing copied";
        EXPECT_TRUE(afterOpen.GuardIntact(16 * 81920));
        ASSERT_EQ(DAQ_ConfigAcquisition(1000, 10), 0);
        GuardedDestination afterSetUp(16 * 81920);
        EXPECT_EQ(DAQ_CopyDMAPool(afterSetUp.data()), 0);
        EXPECT_TRUE(afterSetUp.GuardIntact(16 * 81920));
        DAQ_CloseDevice();
    }
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
