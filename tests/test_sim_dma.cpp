// The simulated board's DMA path on a fake bus side and a plain buffer: the translation window,
// the dispatcher's status sequence, the chunk layout per model, tags, dropped writes, the stall
// fault, skipped records, the pacing modes and the buffer going away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "test_sim_dma_fake_port.h"

namespace {

using namespace simdma_test;

constexpr uint32_t kBusy = 0x1;
constexpr uint32_t kEmpty = 0x2;
constexpr uint32_t kFull = 0x4;
constexpr uint32_t kFlag = 0x200;
constexpr uint32_t kFinished = 0x202;

// ---- translation window -------------------------------------------------------------------------

TEST_F(SimDmaTest, TranslationMaskReadsBackAndChunksLandInTheBuffer) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    // 16 MiB-aligned buffers anywhere below 4 GiB, as the bus side hands them out.
    for (uint64_t bus : {0x10000000ull, 0x1F000000ull, 0x6F000000ull, 0x7F000000ull}) {
        SCOPED_TRACE(bus);
        FakePort port(8, bus);
        BoardDma::Impl dma(port);
        WriteBar32(dma, 0x1000, 0xFFFFFFFCu);
        const uint32_t mask = dma.ReadBar2(0x1000, 4);
        EXPECT_EQ(mask, 0xF0000000u);
        WriteBar32(dma, 0x1000, static_cast<uint32_t>(bus & mask));
        EXPECT_EQ(dma.ReadBar2(0x1000, 4), static_cast<uint32_t>(bus & mask));
        WriteBar32(dma, 0x1004, 0);
        EXPECT_EQ(dma.ReadBar2(0x1004, 4), 0u);
        ResetDispatcher(dma);
        const Geometry geometry = Configure(port, 8, 1024, 128);
        for (uint32_t chunk = 0; chunk < 16; ++chunk) {
            QueueDescriptor(dma, ChunkTarget(bus, mask, chunk, geometry.chunkBytes()),
                            geometry.chunkBytes());
            // The first record of chunk c carries tag c x records per chunk.
            EXPECT_EQ(port.Tag(TagOffset(geometry, chunk, 0)), chunk * geometry.recordsInMemory)
                << "chunk " << chunk;
        }
        EXPECT_EQ(dma.DroppedDmaWrites(), 0u);
        EXPECT_TRUE(port.GuardIntact());
    }
}

TEST_F(SimDmaTest, RegistersActOnTheTopByteOrOnAFullWrite) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(7);
    BoardDma::Impl dma(port);
    // Three low bytes of 0xFFFFFFFC alone change nothing visible yet.
    dma.WriteBar2(0x1000, 1, 0xFC);
    dma.WriteBar2(0x1001, 1, 0xFF);
    dma.WriteBar2(0x1002, 1, 0xFF);
    EXPECT_EQ(dma.ReadBar2(0x1000, 4), 0u);
    dma.WriteBar2(0x1003, 1, 0xFF);
    EXPECT_EQ(dma.ReadBar2(0x1000, 4), 0xF0000000u);
    // A 32-bit write acts at once; a 16-bit write of the upper half acts too.
    dma.WriteBar2(0x1000, 4, 0);
    EXPECT_EQ(dma.ReadBar2(0x1000, 4), 0u);
    dma.WriteBar2(0x1002, 2, 0x2300);
    EXPECT_EQ(dma.ReadBar2(0x1000, 4), 0x20000000u);
    // DmaControl reads back as written, without the self-clearing reset bit.
    dma.WriteBar2(0x6000004, 4, 0x10);
    EXPECT_EQ(dma.ReadBar2(0x6000004, 4), 0x10u);
    WriteBar32(dma, 0x6000004, 0x12);
    EXPECT_EQ(dma.ReadBar2(0x6000004, 4), 0x10u);
    // Descriptor registers read back the last value written.
    WriteBar32(dma, 0x6000028, 278528);
    EXPECT_EQ(dma.ReadBar2(0x6000028, 4), 278528u);
    EXPECT_EQ(dma.ReadBar2(0x6000029, 1), (278528u >> 8) & 0xFFu);
    EXPECT_TRUE(ostrel::sim::DmaDispatcher::Handles(0x1000));
    EXPECT_TRUE(ostrel::sim::DmaDispatcher::Handles(0x1007));
    EXPECT_FALSE(ostrel::sim::DmaDispatcher::Handles(0x1008));
    EXPECT_TRUE(ostrel::sim::DmaDispatcher::Handles(0x60000FF));
    EXPECT_FALSE(ostrel::sim::DmaDispatcher::Handles(0x6000100));
    EXPECT_FALSE(ostrel::sim::DmaDispatcher::Handles(0xFFF));
}

// ---- dispatcher status --------------------------------------------------------------------------

TEST_F(SimDmaTest, StatusSequenceEmptyBusyFullFinishedAndFlagClear) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(8);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 8, 1024, 128);
    EXPECT_EQ(Status(dma), kEmpty);

    // A stalled dispatcher keeps what it accepts: one in work, four waiting, then full.
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    const uint32_t expected[] = {kBusy | kEmpty, kBusy, kBusy, kBusy, kBusy | kFull};
    for (uint32_t queued = 0; queued < 5; ++queued) {
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, queued, geometry.chunkBytes()),
                        geometry.chunkBytes());
        EXPECT_EQ(Status(dma), expected[queued]) << "after " << queued + 1;
    }
    // A go while full is ignored and counted.
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 5, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(Status(dma), kBusy | kFull);
    EXPECT_EQ(dma.GetCounters().ignoredGoWrites, 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(dma.GetCounters().descriptorsCompleted, 0u);
    EXPECT_EQ(port.Tag(TagOffset(geometry, 0, 0)), 0xA5A5A5A5u);

    // A reset empties the queue; nothing was ever written.
    ResetDispatcher(dma);
    EXPECT_EQ(Status(dma), kEmpty);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);

    // Immediate pacing: finished before the go write returns; exactly 0x202.
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes(), kGoWithInterrupt);
    EXPECT_EQ(Status(dma), kFinished);
    WriteBar32(dma, 0x6000000, 0);  // writing 0 clears nothing
    EXPECT_EQ(Status(dma), kFinished);
    WriteBar32(dma, 0x6000000, 0x200);
    EXPECT_EQ(Status(dma), kEmpty);
    // Without 0x4000 the flag stays down.
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                    geometry.chunkBytes(), kGoEarlyDone);
    EXPECT_EQ(Status(dma), kEmpty);
    EXPECT_EQ(dma.GetCounters().descriptorsCompleted, 2u);
    // Byte reads of the status see the same bits.
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 2, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(dma.ReadBar2(0x6000001, 1), 0x02u);
    EXPECT_EQ(dma.ReadBar2(0x6000000, 1), 0x02u);
}

// ---- chunk layout -------------------------------------------------------------------------------

TEST_F(SimDmaTest, ChunkLayoutPerModel) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    struct Case {
        int model;
        uint32_t recordLength;
        double dc;
        int midScale;  // half the ADC's code range: model 7 has 12 bits
    };
    const Case cases[] = {{5, 1000, 0, 8192},  {5, 100, 0, 8192},   {6, 1000, 0, 8192},
                          {7, 1024, 0, 2048},  {7, 96, -1000, 2048}, {8, 8192, 0, 8192},
                          {8, 100, 0, 8192},   {9, 1024, 0, 8192},  {10, 1024, 0, 8192},
                          {10, 32768, 0, 8192}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " length " << c.recordLength);
        FakePort port(c.model);
        BoardDma::Impl dma(port);
        const uint32_t mask = ProgramWindow(dma, port.BusAddress());
        ResetDispatcher(dma);
        const Geometry geometry = Configure(port, c.model, c.recordLength, 1000);
        const uint32_t inputs = geometry.lanes == 1 ? 4u : geometry.lanes;
        // A distinct level per lane, and a zero error of the decoded setting that differs from
        // the power-on pattern.
        for (uint32_t lane = 0; lane < inputs; ++lane) {
            port.SetFrontEnd(static_cast<int>(lane), SimFrontEnd{0, 1, 0, 1, 0});
            ASSERT_EQ(dma.SetInputSignal(static_cast<int>(lane),
                                         {c.dc + 100.0 * (lane + 1), 0, 0, 0}),
                      0);
            ASSERT_EQ(dma.SetZeroError(static_cast<int>(lane), 1, 0, 1, 0, 7 * (lane + 1)), 0);
        }
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 3, geometry.chunkBytes()),
                        geometry.chunkBytes());
        ASSERT_EQ(Status(dma), kFinished);
        EXPECT_EQ(dma.GetCounters().recordsWritten, geometry.recordsInMemory);
        for (uint32_t slot = 0; slot < geometry.recordsInMemory; ++slot) {
            ASSERT_EQ(port.Tag(TagOffset(geometry, 3, slot)), slot) << "slot " << slot;
            // The rest of the trailer is zero.
            for (uint32_t point = 2; point < geometry.trailerPoints; ++point) {
                ASSERT_EQ(port.Sample(TagOffset(geometry, 3, slot) + 2 * (point - 2) + 4), 0);
            }
        }
        // Samples of the first and the last slot, first and last point, every lane.
        for (uint32_t slot : {0u, geometry.recordsInMemory - 1}) {
            for (uint32_t point : {0u, c.recordLength - 1}) {
                for (uint32_t lane = 0; lane < geometry.lanes; ++lane) {
                    const int expected =
                        static_cast<int>(c.midScale + c.dc + 100.0 * (lane + 1) + 7 * (lane + 1));
                    ASSERT_EQ(port.Sample(SampleOffset(geometry, 3, slot, lane, point)), expected)
                        << "slot " << slot << " point " << point << " lane " << lane;
                }
            }
        }
        // Points left over at the end of the chunk and the neighbouring chunks are untouched.
        const uint64_t used = TagOffset(geometry, 3, geometry.recordsInMemory - 1) +
                              2ull * geometry.trailerPoints;
        const uint64_t chunkEnd = 4ull * geometry.chunkBytes();
        for (uint64_t at = used; at < chunkEnd; ++at) ASSERT_EQ(port.Bytes()[at], kFill) << at;
        ASSERT_EQ(port.Bytes()[3ull * geometry.chunkBytes() - 1], kFill);
    }
}

TEST_F(SimDmaTest, SingleLaneBoardSamplesTheSelectedInputChannel) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(10);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 10, 1024, 200);
    for (int input = 0; input < 4; ++input) {
        ASSERT_EQ(dma.SetInputSignal(input, {1000.0 * (input + 1), 0, 0, 0}), 0);
    }
    EXPECT_EQ(dma.SetInputSignal(4, {}), -1);
    for (int selected = 0; selected < 4; ++selected) {
        SCOPED_TRACE(selected);
        for (int input = 0; input < 4; ++input) {
            port.SetFrontEnd(input, SimFrontEnd{selected, 0, 1, 0, 1});
        }
        ASSERT_EQ(dma.SetZeroError(selected, 0, 1, 0, 1, -50 + selected), 0);
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                        geometry.chunkBytes());
        EXPECT_EQ(port.Sample(SampleOffset(geometry, 0, 5, 0, 17)),
                  8192 + 1000 * (selected + 1) - 50 + selected);
    }
}

TEST_F(SimDmaTest, UnalignedTagsAndSlotsAreWrittenWhole) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    struct Case {
        int model;
        uint32_t recordLength;
        uint32_t shift;  // bytes added to the chunk's write address
    };
    // An odd record length on model 5 leaves every other tag 2-byte aligned; an odd write
    // address puts every sample and tag at an odd byte.
    const Case cases[] = {{5, 101, 0}, {8, 1024, 1}, {6, 1000, 1}, {7, 1024, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " shift " << c.shift);
        FakePort port(c.model);
        BoardDma::Impl dma(port);
        const uint32_t mask = ProgramWindow(dma, port.BusAddress());
        ResetDispatcher(dma);
        const Geometry geometry = Configure(port, c.model, c.recordLength, 1000);
        const int midScale = c.model == 7 ? 2048 : 8192;  // half of 12 or 14 bits
        const int level = c.model == 7 ? 0 : -2000;
        const int inputs = geometry.lanes == 1 ? 4 : static_cast<int>(geometry.lanes);
        for (int input = 0; input < inputs; ++input) {
            ASSERT_EQ(dma.SetInputSignal(input, {level + 1000.0 * input, 0, 0, 0}), 0);
        }
        QueueDescriptor(dma,
                        ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()) + c.shift,
                        geometry.chunkBytes() - c.shift);
        ASSERT_EQ(Status(dma), kFinished);
        for (uint32_t slot : {0u, 1u, 2u, geometry.recordsInMemory - 2}) {
            EXPECT_EQ(port.Tag(TagOffset(geometry, 1, slot) + c.shift), slot) << slot;
            for (uint32_t lane = 0; lane < geometry.lanes; ++lane) {
                // Zero errors of the all-zero setting: input 0 -79, 1 -9, 2 61, 3 131.
                const int zeroError[] = {-79, -9, 61, 131};
                EXPECT_EQ(port.Sample(SampleOffset(geometry, 1, slot, lane, 3) + c.shift),
                          midScale + level + 1000 * static_cast<int>(lane) + zeroError[lane])
                    << "slot " << slot << " lane " << lane;
            }
        }
        EXPECT_EQ(port.Bytes()[geometry.chunkBytes() + c.shift - 1], kFill);
    }
}

// ---- tags ---------------------------------------------------------------------------------------

TEST_F(SimDmaTest, TagsWrapAtRecordNumberAndRestartAfterReset) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(9);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    // 4096 points per slot: 34 records per chunk; 25 records per frame: tags wrap at 100.
    const Geometry geometry = Configure(port, 9, 2044, 25);
    ASSERT_EQ(geometry.recordsInMemory, 34u);
    std::vector<uint32_t> tags;
    for (uint32_t chunk = 0; chunk < 4; ++chunk) {
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, chunk, geometry.chunkBytes()),
                        geometry.chunkBytes());
        for (uint32_t slot = 0; slot < geometry.recordsInMemory; ++slot) {
            tags.push_back(port.Tag(TagOffset(geometry, chunk, slot)));
        }
    }
    for (size_t record = 0; record < tags.size(); ++record) {
        ASSERT_EQ(tags[record], record % 100) << "record " << record;
    }
    ResetDispatcher(dma);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 5, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(port.Tag(TagOffset(geometry, 5, 0)), 0u);
    EXPECT_EQ(port.Tag(TagOffset(geometry, 5, 1)), 1u);
}

TEST_F(SimDmaTest, SkippedRecordsLeaveATagGap) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(5);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 5, 1000, 524);  // 40 slots, tags wrap at 2096
    EXPECT_EQ(dma.SkipRecords(-1), -1);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes());
    ASSERT_EQ(dma.SkipRecords(3), 0);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                    geometry.chunkBytes());
    // Chunk 0: 0..39; chunk 1 starts after the three records that were never written.
    EXPECT_EQ(port.Tag(TagOffset(geometry, 0, 39)), 39u);
    EXPECT_EQ(port.Tag(TagOffset(geometry, 1, 0)), 43u);
    EXPECT_EQ(port.Tag(TagOffset(geometry, 1, 39)), 82u);
    EXPECT_EQ(dma.GetCounters().recordsSkipped, 3u);
    EXPECT_EQ(dma.GetCounters().recordsWritten, 80u);
}

// ---- dropped writes -----------------------------------------------------------------------------

TEST_F(SimDmaTest, WritesOutsideTheBufferAreDroppedAndCounted) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(6, 0x30000000);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 6, 1000, 200);  // 69 slots of 4008 bytes
    const uint64_t slotBytes = 2ull * geometry.slotPoints();

    // A chunk that starts 10 slots before the end of the buffer: 10 land, 59 are dropped.
    const uint64_t start = kBufferBytes - 10 * slotBytes;
    QueueDescriptor(dma, static_cast<uint32_t>((port.BusAddress() + start) & ~uint64_t{mask}),
                    geometry.chunkBytes());
    EXPECT_EQ(Status(dma), kFinished);
    EXPECT_EQ(dma.DroppedDmaWrites(), 59u);
    EXPECT_EQ(port.Tag(start + 2ull * 2000), 0u);
    EXPECT_EQ(port.Tag(start + 9 * slotBytes + 2ull * 2000), 9u);
    EXPECT_TRUE(port.GuardIntact());

    // A window that does not hold the buffer at all: every record is dropped.
    WriteBar32(dma, 0x1000, 0x40000000);
    QueueDescriptor(dma, 0, geometry.chunkBytes());
    EXPECT_EQ(dma.DroppedDmaWrites(), 59u + 69u);
    // A window base above 4 GiB.
    WriteBar32(dma, 0x1000, static_cast<uint32_t>(port.BusAddress() & mask));
    WriteBar32(dma, 0x1004, 1);
    QueueDescriptor(dma, 0, geometry.chunkBytes());
    EXPECT_EQ(dma.DroppedDmaWrites(), 59u + 2 * 69u);
    EXPECT_EQ(port.Tag(2ull * 2000), 0xA5A5A5A5u);
    EXPECT_TRUE(port.GuardIntact());
    // The tags of dropped records are consumed all the same.
    WriteBar32(dma, 0x1004, 0);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(port.Tag(2ull * 2000), 3u * 69u);
}

TEST_F(SimDmaTest, DescriptorNeverWritesPastItsLength) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(8);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 8, 1024, 128);  // 33 slots of 8200 bytes
    const uint32_t slotBytes = 2 * geometry.slotPoints();
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    5 * slotBytes - 1);
    EXPECT_EQ(Status(dma), kFinished);
    EXPECT_EQ(dma.GetCounters().recordsWritten, 4u);
    EXPECT_EQ(port.Bytes()[4ull * slotBytes], kFill);
    // An absurd geometry writes nothing and still completes.
    port.SetRegister(-2048, 0xFFFFFFFFu);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(Status(dma), kFinished);
    EXPECT_EQ(dma.GetCounters().recordsWritten, 4u);
    EXPECT_EQ(port.Bytes()[geometry.chunkBytes()], kFill);
}

// ---- pacing -------------------------------------------------------------------------------------

TEST_F(SimDmaTest, MaxratePacingCompletesQueuedDescriptorsOnTheBoardThread) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    FakePort port(7);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 7, 1024, 512);
    for (uint32_t chunk = 0; chunk < 5; ++chunk) {
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, chunk, geometry.chunkBytes()),
                        geometry.chunkBytes());
    }
    ASSERT_TRUE(WaitForStatus(dma, kFinished));
    EXPECT_TRUE(dma.ThreadRunning());
    for (uint32_t chunk = 0; chunk < 5; ++chunk) {
        EXPECT_EQ(port.Tag(TagOffset(geometry, chunk, 0)), chunk * geometry.recordsInMemory);
    }
    const auto counters = dma.GetCounters();
    EXPECT_EQ(counters.recordsWritten, 5u * geometry.recordsInMemory);
    EXPECT_EQ(counters.recordsLost, 0u);
}

TEST_F(SimDmaTest, RealtimePacingLosesRecordsWhileNoDescriptorIsQueued) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
    FakePort port(5);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    // 0.5 MS/s and 1000 points: a record every 2 ms; two records per descriptor.
    Geometry geometry = Configure(port, 5, 1000, 524, 20);
    port.SetRegister(-1022, 2);
    geometry.recordsInMemory = 2;
    ResetDispatcher(dma);

    const auto queued = std::chrono::steady_clock::now();
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes());
    ASSERT_TRUE(WaitForStatus(dma, kFinished));
    // The records had to be acquired first: at least the second one's 2 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - queued, std::chrono::milliseconds(2));
    const uint32_t first = port.Tag(TagOffset(geometry, 0, 0));
    EXPECT_EQ(port.Tag(TagOffset(geometry, 0, 1)), first + 1);
    WriteBar32(dma, 0x6000000, 0x200);

    // Nothing queued for 60 ms: about 30 records go nowhere.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                    geometry.chunkBytes());
    ASSERT_TRUE(WaitForStatus(dma, kFinished));
    const uint32_t second = port.Tag(TagOffset(geometry, 1, 0));
    EXPECT_GE(second, first + 2 + 25) << "first " << first;
    EXPECT_EQ(port.Tag(TagOffset(geometry, 1, 1)), second + 1);
    EXPECT_GE(dma.GetCounters().recordsLost, 25u);
}

TEST_F(SimDmaTest, RealtimePacingLosesNothingWhileDescriptorsStayQueued) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_REALTIME), 0);
    FakePort port(8);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    // 1 MS/s, record length 1024: 33 records (34 ms) per chunk. An engine-like loop keeps the
    // buffer topped up for 12 chunks.
    const Geometry geometry = Configure(port, 8, 1024, 132, 15);
    ResetDispatcher(dma);
    uint32_t next = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (next < 12 && std::chrono::steady_clock::now() < deadline) {
        if ((Status(dma) & kFull) == 0) {
            QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, next, geometry.chunkBytes()),
                            geometry.chunkBytes());
            ++next;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    ASSERT_EQ(next, 12u);
    ASSERT_TRUE(WaitForStatus(dma, kFinished));
    const uint32_t first = port.Tag(TagOffset(geometry, 0, 0));
    for (uint32_t chunk = 0; chunk < 12; ++chunk) {
        for (uint32_t slot = 0; slot < geometry.recordsInMemory; ++slot) {
            ASSERT_EQ(port.Tag(TagOffset(geometry, chunk, slot)),
                      (first + chunk * geometry.recordsInMemory + slot) % 528)
                << "chunk " << chunk << " slot " << slot;
        }
    }
}

TEST_F(SimDmaTest, StallHoldsDescriptorsUntilCleared) {
    for (int pacing : {SIM_DMA_IMMEDIATE, SIM_DMA_MAXRATE, SIM_DMA_REALTIME}) {
        SCOPED_TRACE(pacing);
        ASSERT_EQ(SIM_SetDmaPacing(pacing), 0);
        FakePort port(9);
        BoardDma::Impl dma(port);
        const uint32_t mask = ProgramWindow(dma, port.BusAddress());
        ResetDispatcher(dma);
        const Geometry geometry = Configure(port, 9, 1024, 100);
        ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                        geometry.chunkBytes());
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                        geometry.chunkBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_EQ(Status(dma), kBusy);
        EXPECT_EQ(port.Tag(TagOffset(geometry, 0, 0)), 0xA5A5A5A5u);
        ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
        EXPECT_TRUE(WaitForStatus(dma, kFinished));
        EXPECT_EQ(port.Tag(TagOffset(geometry, 1, 0)),
                  port.Tag(TagOffset(geometry, 0, 0)) + geometry.recordsInMemory);
    }
}

TEST_F(SimDmaTest, PacingChangeHandsQueuedWorkToTheBoardThread) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(10);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 10, 1024, 100);
    EXPECT_EQ(SIM_SetDmaPacing(3), -1);
    EXPECT_EQ(SIM_SetDmaPacing(-1), -1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes());
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
    EXPECT_TRUE(WaitForStatus(dma, kFinished));
    EXPECT_EQ(port.Tag(TagOffset(geometry, 0, 0)), 0u);
}

// ---- the buffer going away ----------------------------------------------------------------------

TEST_F(SimDmaTest, NothingIsWrittenOnceTheBufferIsUnlocking) {
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_IMMEDIATE), 0);
    FakePort port(8);
    BoardDma::Impl dma(port);
    const uint32_t mask = ProgramWindow(dma, port.BusAddress());
    ResetDispatcher(dma);
    const Geometry geometry = Configure(port, 8, 1024, 128);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 1), 0);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                    geometry.chunkBytes());
    port.Unlock(dma);
    // The queue went with the buffer.
    EXPECT_EQ(Status(dma), kEmpty);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DMA_STALL, 0), 0);
    QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 1, geometry.chunkBytes()),
                    geometry.chunkBytes());
    EXPECT_EQ(Status(dma), kFinished);
    EXPECT_EQ(dma.GetCounters().recordsWritten, 0u);
    EXPECT_EQ(dma.DroppedDmaWrites(), geometry.recordsInMemory);
    for (uint64_t at = 0; at < 2ull * geometry.chunkBytes(); at += 997) {
        ASSERT_EQ(port.Bytes()[at], kFill);
    }
}

TEST_F(SimDmaTest, UnlockWhileTheBoardThreadWritesNeverTouchesFreedMemory) {
    // The board thread fills chunks as fast as it can while this thread keeps it supplied; then
    // the buffer is unlocked and freed at once (asan would see a late write).
    ASSERT_EQ(SIM_SetDmaPacing(SIM_DMA_MAXRATE), 0);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        FakePort port(8);
        BoardDma::Impl dma(port);
        const uint32_t mask = ProgramWindow(dma, port.BusAddress());
        ResetDispatcher(dma);
        const Geometry geometry = Configure(port, 8, 1024, 128);
        for (uint32_t queued = 0; queued < 40 + 10u * static_cast<uint32_t>(round); ++queued) {
            while ((Status(dma) & kFull) != 0) std::this_thread::yield();
            QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, queued % 16,
                                             geometry.chunkBytes()),
                            geometry.chunkBytes());
        }
        port.Unlock(dma);
        port.FreeStorage();
        QueueDescriptor(dma, ChunkTarget(port.BusAddress(), mask, 0, geometry.chunkBytes()),
                        geometry.chunkBytes());
        EXPECT_TRUE(WaitForStatus(dma, kFinished));
    }
}

}  // namespace
