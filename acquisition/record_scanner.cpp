#include "acquisition/record_scanner.h"

#include <cstring>

#include "acquisition/record_tag.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

// Copies one record from its DMA slot into the ring. Not memcpy: the C library's memcpy moves
// blocks of some kilobytes with a string instruction that, on some processors, runs several times
// slower for particular alignments of source and target, and the ring and the slots take every
// alignment there is (a 4-lane record of 1024 points into a ring at 16 bytes past a page cost 36 %
// of a core at 1 GB/s instead of 4 %). Plain 16-byte moves cost the same whatever the alignment.
void CopyRecord(int16_t *target, const uint8_t *source, size_t bytes) {
    auto *to = reinterpret_cast<uint8_t *>(target);
    size_t done = 0;
#if defined(__SSE2__)
    for (; done + 64 <= bytes; done += 64) {
        const auto *in = reinterpret_cast<const __m128i *>(source + done);
        auto *out = reinterpret_cast<__m128i *>(to + done);
        const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1);
        const __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
        _mm_storeu_si128(out, a);
        _mm_storeu_si128(out + 1, b);
        _mm_storeu_si128(out + 2, c);
        _mm_storeu_si128(out + 3, d);
    }
#endif
    std::memcpy(to + done, source + done, bytes - done);
}

}  // namespace

RecordScanner::RecordScanner(const ScanLayout &layout, RingStatus &status, Clock clock,
                             int64_t frequency)
    : layout_(layout), status_(status), clock_(clock), frequency_(frequency) {}

void RecordScanner::BeginRun() {
    // Megabytes of one frame, exact: rounding to whole megabytes would understate the rate of
    // every frame size that is not a whole number of megabytes (a 1.05 MB frame by 5 %).
    frameMegabytes_ = static_cast<double>(layout_.RecordPoints) *
                      static_cast<double>(layout_.RecordsPerFrame) * 2.0 / 1e6;
    lastFrameTime_ = clock_();
    scanStart_ = 0;  // the first descriptor of a run fills chunk 0
    followingBoard_ = false;
    for (uint32_t &tag : forgottenLastTags_) tag = kNoRecordTag;

    std::memset(layout_.RingRecordFilled, 0, layout_.RingSlotCount);
    for (int frame = 0; frame < kRingFrames; ++frame) {
        frameComplete_[frame] = false;
        frameRecordCounts_[frame] = 0;
        status_.FrameRecords[frame].store(0, std::memory_order_relaxed);
    }
    recordsReceived_ = 0;
    frameCounter_ = -1;
    partialFrames_ = 0;
    lastPartialCount_ = 0;
    status_.RecordsReceived.store(0, std::memory_order_relaxed);
    status_.FrameCounter.store(-1, std::memory_order_relaxed);
    status_.FrameStatistics[6].store(0, std::memory_order_relaxed);

    for (uint32_t slot = 0; slot < layout_.DmaSlotCount; ++slot) {
        layout_.LastSlotTags[slot] = LoadRecordTag(layout_.SlotTrailers[slot]);
    }
    for (uint32_t &pending : pendingSlots_) pending = layout_.DmaSlotCount / kDmaChunks;
    PublishStatistics();
}

void RecordScanner::Pass() {
    // Records are accepted in the order the board wrote them wherever that can be seen: a record
    // of a newer frame accepted before the last records of the frame before it would be wiped by
    // them (their acceptance recycles the frame that follows theirs), losing records and leaving
    // a partial frame. The board fills the slots in order, so the pass begins where it is writing
    // (scanStart_: the slot after the newest record taken) and, whenever it meets a new record
    // further on, first takes whatever has arrived since in front of it (the board may have
    // written a stretch of slots behind the scan while this thread was not running).
    // A chunk whose every slot has been taken since it was last queued cannot change before it is
    // queued again (and ForgetChunk marks it pending then): the pass steps over it instead of
    // reading each of its tags, which at the fastest rates is most of the thread's work.
    const uint32_t slotCount = layout_.DmaSlotCount;
    const uint32_t slotsPerChunk = slotCount / kDmaChunks;
    CatchUp();
    uint32_t slot = scanStart_;
    for (uint32_t examined = 0; examined < slotCount;) {
        if (slot % slotsPerChunk == 0 && pendingSlots_[slot / slotsPerChunk] == 0) {
            examined += slotsPerChunk;
            slot = slot + slotsPerChunk == slotCount ? 0 : slot + slotsPerChunk;
            continue;
        }
        const uint32_t nextSlot = slot + 1 == slotCount ? 0 : slot + 1;
        if (LoadRecordTag(layout_.SlotTrailers[slot]) != layout_.LastSlotTags[slot]) {
            CatchUp();
            Examine(slot);  // refuses it if the catch-up took it already
        }
        slot = nextSlot;
        ++examined;
    }
    PublishStatistics();
}

void RecordScanner::ForgetChunk(uint32_t chunk) {
    // The chunk's slots are marked empty before the board writes them again. A slot is taken when
    // its tag changes, and without the mark a board whose slot count is a multiple of the ring's
    // record count writes every slot with the tag it held on the lap before: no record would ever
    // be taken again. The board's last write of this chunk has completed (its descriptor was
    // queued sixteen descriptors ago, and the dispatcher holds far fewer), so nothing races.
    const uint32_t slotsPerChunk = layout_.DmaSlotCount / kDmaChunks;
    const uint32_t first = chunk * slotsPerChunk;
    // The first slot of the next chunk may still hold a record not taken yet; it keeps the
    // predecessor it was written after.
    forgottenLastTags_[chunk] = LoadRecordTag(layout_.SlotTrailers[first + slotsPerChunk - 1]);
    for (uint32_t slot = first; slot < first + slotsPerChunk; ++slot) {
        StoreRecordTag(layout_.SlotTrailers[slot], kNoRecordTag);
        layout_.LastSlotTags[slot] = kNoRecordTag;
    }
    pendingSlots_[chunk] = slotsPerChunk;
}

void RecordScanner::CatchUp() {
    for (uint32_t taken = 0; taken < layout_.DmaSlotCount; ++taken) {
        const uint32_t head = scanStart_;
        if (!Examine(head) || scanStart_ == head) return;
    }
}

void RecordScanner::FollowBoard(uint32_t slot, uint32_t tag) {
    // Tags grow in the order the board writes; a record no more than half the ring ahead of the
    // one expected next is the board's newest, and the board goes on from the slot after it. An
    // older one (taken late) leaves the position alone.
    const uint32_t ringSlots = layout_.RingSlotCount;
    if (followingBoard_ && (tag + ringSlots - expectedTag_) % ringSlots >= ringSlots / 2) return;
    followingBoard_ = true;
    expectedTag_ = tag + 1 == ringSlots ? 0 : tag + 1;
    scanStart_ = slot + 1 == layout_.DmaSlotCount ? 0 : slot + 1;
}

bool RecordScanner::Examine(uint32_t slot) {
    const uint32_t tag = LoadRecordTag(layout_.SlotTrailers[slot]);
    if (tag == layout_.LastSlotTags[slot]) return false;
    // Accept only a record that follows the one written before it (for slot 0 that is the last
    // slot of chunk 15); otherwise the slot is examined again in the next pass.
    const uint32_t previousSlot = slot == 0 ? layout_.DmaSlotCount - 1 : slot - 1;
    uint32_t previousTag = LoadRecordTag(layout_.SlotTrailers[previousSlot]);
    const uint32_t slotsPerChunk = layout_.DmaSlotCount / kDmaChunks;
    if (previousTag == kNoRecordTag && slot % slotsPerChunk == 0) {
        // The chunk before was marked empty for its next lap: its last record was this one's.
        previousTag = forgottenLastTags_[previousSlot / slotsPerChunk];
    }
    if ((previousTag + 1u) % layout_.RingSlotCount != tag) return false;
    if (layout_.RingRecordFilled[tag] != 0) return false;
    return Accept(slot, tag);
}

bool RecordScanner::Accept(uint32_t slot, uint32_t tag) {
    const uint32_t recordsPerFrame = layout_.RecordsPerFrame;
    const uint32_t frame = tag / recordsPerFrame;
    if (!status_.Guard.BeginWriting(static_cast<int32_t>(frame))) return false;  // being read
    const size_t recordBytes = static_cast<size_t>(layout_.RecordPoints) * 2u;
    // The samples end where the trailer begins.
    CopyRecord(layout_.FrameRing + static_cast<size_t>(tag) * layout_.RecordPoints,
               layout_.SlotTrailers[slot] - recordBytes, recordBytes);
    status_.Guard.EndWriting();

    layout_.RingRecordFilled[tag] = 1;
    const uint32_t chunk = slot / (layout_.DmaSlotCount / kDmaChunks);
    if (pendingSlots_[chunk] > 0) --pendingSlots_[chunk];
    ++recordsReceived_;
    status_.RecordsReceived.store(recordsReceived_, std::memory_order_relaxed);
    layout_.LastSlotTags[slot] = tag;
    FollowBoard(slot, tag);

    ++frameRecordCounts_[frame];
    status_.FrameRecords[frame].store(frameRecordCounts_[frame], std::memory_order_release);
    const uint32_t next = (frame + 1) % kRingFrames;
    const uint32_t previous = (frame + kRingFrames - 1) % kRingFrames;
    status_.LatestFrameStart.store(previous * recordsPerFrame, std::memory_order_release);

    // A frame is complete once a record of the following frame arrives while it holds more than
    // half of its records.
    if (!frameComplete_[previous] &&
        static_cast<uint32_t>(frameRecordCounts_[previous]) > recordsPerFrame / 2) {
        CompleteFrame(previous);
    }
    if (frameRecordCounts_[next] > 0) RecycleFrame(next);
    return true;
}

void RecordScanner::CompleteFrame(uint32_t frame) {
    frameComplete_[frame] = true;
    ++frameCounter_;
    status_.FrameCounter.store(frameCounter_, std::memory_order_relaxed);
    // The first completion after a start is not announced: the frame may hold records from
    // before the start.
    if (frameCounter_ > 0) status_.NewFrameAvailable.store(true, std::memory_order_release);
    const int64_t now = clock_();
    if (frameCounter_ > 1) {
        const double seconds = static_cast<double>(now - lastFrameTime_) /
                               static_cast<double>(frequency_);
        if (seconds > 0.0) {
            status_.DataRate.store(static_cast<float>(frameMegabytes_ / seconds),
                                   std::memory_order_relaxed);
        }
        lastFrameTime_ = now;
    }
}

void RecordScanner::RecycleFrame(uint32_t frame) {
    const uint32_t recordsPerFrame = layout_.RecordsPerFrame;
    if (static_cast<uint32_t>(frameRecordCounts_[frame]) != recordsPerFrame) {
        ++partialFrames_;
        lastPartialCount_ = frameRecordCounts_[frame];
    }
    std::memset(layout_.RingRecordFilled + static_cast<size_t>(frame) * recordsPerFrame, 0,
                recordsPerFrame);
    frameComplete_[frame] = false;
    frameRecordCounts_[frame] = 0;
    status_.FrameRecords[frame].store(0, std::memory_order_relaxed);
}

void RecordScanner::PublishStatistics() {
    auto &statistics = status_.FrameStatistics;
    for (int frame = 0; frame < kRingFrames; ++frame) {
        statistics[frame].store(frameRecordCounts_[frame], std::memory_order_relaxed);
    }
    statistics[4].store(partialFrames_, std::memory_order_relaxed);
    statistics[5].store(lastPartialCount_, std::memory_order_relaxed);
    // Percent of the frames declared complete; kept while there is no complete frame to count
    // against (a negative percentage at frame counter -1 would mean nothing).
    if (frameCounter_ > 0) {
        statistics[6].store(static_cast<int32_t>(100.0 * partialFrames_ / frameCounter_),
                            std::memory_order_relaxed);
    }
    statistics[7].store(0, std::memory_order_relaxed);
    statistics[8].store(0, std::memory_order_relaxed);
}

}  // namespace ostrel
