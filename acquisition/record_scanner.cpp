#include "acquisition/record_scanner.h"

#include <algorithm>
#include <cstring>

#include "acquisition/record_tag.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

// How far the records written may stray from the sampling rate for the board to count as keeping
// it, and the shortest ring whose laps the clock can tell.
constexpr double kRateTolerance = 0.03;
constexpr double kShortestClockedRingSeconds = 0.008;
// The thread sleeps at most a few milliseconds between passes when nothing arrives; passes further
// apart than this, and than the time the board takes for this many chunks (its queue holds four
// and more after every pass), may have left it without a descriptor. A board that writes nothing
// for this long while watched (and for this many of its records) has stopped.
constexpr double kLongestWatchedGapSeconds = 0.02;
constexpr double kWatchedGapChunks = 2.0;
constexpr double kStandStillSeconds = 0.05;
constexpr double kStandStillRecords = 8.0;

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
    for (uint64_t &serial : forgetSerial_) serial = 0;
    forgets_ = 0;
    newestForgetSerial_ = 0;
    for (int64_t &ticks : idleBeforeTicks_) ticks = 0;
    lastQueuedTicks_ = lastFrameTime_;

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

    recordNumber_ = layout_.RecordNumber != 0 && layout_.RecordNumber < layout_.RecordsPerFrame
                        ? layout_.RecordNumber
                        : layout_.RecordsPerFrame;
    haveNewest_ = false;
    newestRecord_ = 0;
    newestTag_ = 0;
    firstFrame_ = 0;
    runStartTicks_ = lastFrameTime_;
    passTicks_ = lastFrameTime_;
    recordsPerTick_ = layout_.RecordsPerSecond > 0.0 && frequency_ > 0
                          ? layout_.RecordsPerSecond / static_cast<double>(frequency_)
                          : 0.0;
    lineKnown_ = false;
    keepsRate_ = false;
    observedRecord_ = 0;
    lastSealedTicks_ = 0;
    lineWindowTicks_ = frequency_ / 20;     // 50 ms
    keepsRateSpanTicks_ = frequency_ / 5;   // 200 ms
    lastLookTicks_ = lastFrameTime_;
    stillTicks_ = 0;
    // The longer of a time and of the time the board takes for a number of records.
    const auto ticksForAtLeast = [this](double seconds, double records) {
        const double recordTicks = recordsPerTick_ > 0.0 ? records / recordsPerTick_ : 0.0;
        return static_cast<int64_t>(
            std::max(static_cast<double>(frequency_) * seconds, recordTicks));
    };
    const double chunkRecords = static_cast<double>(layout_.DmaSlotCount / kDmaChunks);
    watchedGapTicks_ =
        ticksForAtLeast(kLongestWatchedGapSeconds, kWatchedGapChunks * chunkRecords);
    standStillTicks_ = ticksForAtLeast(kStandStillSeconds, kStandStillRecords);
    // A ring that the board fills in a few milliseconds turns over within the clock's
    // uncertainty (a look comes up to a pass late): its laps cannot be told that way.
    lapsFromClock_ = recordsPerTick_ > 0.0 &&
                     static_cast<double>(layout_.RingSlotCount) / recordsPerTick_ >=
                         static_cast<double>(frequency_) * kShortestClockedRingSeconds;
    for (int frame = 0; frame < kRingFrames; ++frame) {
        frameNumber_[frame] = 0;
        frameValid_[frame] = 0;
        frameTicks_[frame] = 0;
        frameSlot_[frame] = -1;
        frameSealed_[frame] = false;
        status_.FrameValid[frame].store(0, std::memory_order_relaxed);
    }
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
    passTicks_ = clock_();
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
    ObserveBoard();
    if (layout_.Stream != nullptr) SealFinishedFrames();
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
    forgetSerial_[chunk] = ++forgets_;
    // For want of a descriptor the board can have idled before this chunk only between the queueing
    // of the chunk before it and of this one.
    const int64_t now = clock_();
    idleBeforeTicks_[chunk] = now - lastQueuedTicks_;
    lastQueuedTicks_ = now;
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
    FollowFrom(slot, tag);
}

void RecordScanner::FollowFrom(uint32_t slot, uint32_t tag) {
    followingBoard_ = true;
    expectedTag_ = tag + 1 == layout_.RingSlotCount ? 0 : tag + 1;
    scanStart_ = slot + 1 == layout_.DmaSlotCount ? 0 : slot + 1;
    newestForgetSerial_ = forgetSerial_[slot / (layout_.DmaSlotCount / kDmaChunks)];
}

bool RecordScanner::Examine(uint32_t slot) {
    const uint32_t tag = LoadRecordTag(layout_.SlotTrailers[slot]);
    if (tag == layout_.LastSlotTags[slot]) return false;
    // Accept only a record that follows the one written before it (for slot 0 that is the last
    // slot of chunk 15), or one written after the newest record taken (below); otherwise the slot
    // is examined again in the next pass.
    const uint32_t previousSlot = slot == 0 ? layout_.DmaSlotCount - 1 : slot - 1;
    uint32_t previousTag = LoadRecordTag(layout_.SlotTrailers[previousSlot]);
    const uint32_t slotsPerChunk = layout_.DmaSlotCount / kDmaChunks;
    if (previousTag == kNoRecordTag && slot % slotsPerChunk == 0) {
        // The chunk before was marked empty for its next lap: its last record was this one's.
        previousTag = forgottenLastTags_[previousSlot / slotsPerChunk];
    }
    const uint32_t ringSlots = layout_.RingSlotCount;
    // A tag that does not follow may still be the board's next record: where the slot before it
    // holds the newest record taken, whatever the slot holds now was written after that one, and
    // the tags it skipped are records the board left out (a gap). Waiting for it to follow would
    // lose it for good.
    const bool follows = (previousTag + 1u) % ringSlots == tag;
    // A tag outside the ring is no record of this run (it names no place in the ring).
    bool afterGap = !follows && tag < ringSlots && followingBoard_ && slot == scanStart_ &&
                    previousTag != kNoRecordTag && (previousTag + 1u) % ringSlots == expectedTag_;
    if (afterGap) {
        // Written after the newest only if the board has begun this slot's lap since: the slot
        // was marked empty when its chunk was queued, so anything in it came from the lap begun
        // then. In the newest record's chunk that is its own lap; in the next chunk, the chunk
        // must have been queued after the newest record's (otherwise the slot still holds a
        // record of the lap before, one that was never taken).
        const uint64_t lap = forgetSerial_[slot / slotsPerChunk];
        afterGap = slot % slotsPerChunk != 0 ? lap == newestForgetSerial_
                                             : lap > newestForgetSerial_;
    }
    if (!follows && !afterGap) return false;
    // A ring record taken already refuses the same tag again (a board repeating itself), unless it
    // was taken in a lap before: then its frame was never recycled (the board went on past it
    // without a record being taken there), and the record opens the frame anew.
    if (layout_.RingRecordFilled[tag] != 0) {
        const uint32_t frame = tag / layout_.RecordsPerFrame;
        if (AbsoluteRecord(tag, slot, afterGap) / layout_.RecordsPerFrame <= frameNumber_[frame])
            return false;
    }
    if (!Accept(slot, tag, afterGap)) return false;
    // Written after the newest record, it is the board's newest however far the tags jumped.
    if (afterGap) FollowFrom(slot, tag);
    return true;
}

bool RecordScanner::Accept(uint32_t slot, uint32_t tag, bool afterNewest) {
    const uint32_t recordsPerFrame = layout_.RecordsPerFrame;
    const uint32_t frame = tag / recordsPerFrame;
    const uint32_t index = tag - frame * recordsPerFrame;
    uint64_t record = AbsoluteRecord(tag, slot, afterNewest);
    uint64_t number = record / recordsPerFrame;
    // The run's first frame is the first one the board began after the start.
    if (!haveNewest_) firstFrame_ = index == 0 ? number : number + 1;
    if (frameRecordCounts_[frame] > 0 && frameNumber_[frame] != number) {
        if (number < frameNumber_[frame]) {
            // Read as a late record of a frame before the one its ring frame holds; the ring
            // frame's own frame is what it can belong to (the reading was off by a lap).
            number = frameNumber_[frame];
            record = number * recordsPerFrame + index;
        } else {
            // The ring frame still holds a frame from a lap before (the board went on for three
            // frames or more without a record being taken): that one is over.
            if (layout_.Stream != nullptr) SealThrough(frameNumber_[frame]);
            RecycleFrame(frame);
        }
    }
    // A record of a frame the stream has handed out already cannot join it: its slot is passed
    // over as taken.
    if (frameSealed_[frame] && index < recordNumber_) {
        layout_.LastSlotTags[slot] = tag;
        const uint32_t chunk = slot / (layout_.DmaSlotCount / kDmaChunks);
        if (pendingSlots_[chunk] > 0) --pendingSlots_[chunk];
        return false;
    }

    const size_t recordBytes = static_cast<size_t>(layout_.RecordPoints) * 2u;
    // The samples end where the trailer begins.
    const uint8_t *samples = layout_.SlotTrailers[slot] - recordBytes;
    const bool ring = layout_.Stream == nullptr;  // the readout's ring, not a stream
    if (frameRecordCounts_[frame] == 0) {
        frameNumber_[frame] = number;
        frameValid_[frame] = 0;
        if (ring) {
            status_.FrameSequence[frame].store(FrameSequence(static_cast<int>(frame)),
                                               std::memory_order_relaxed);
        }
    }
    if (!ring) {
        StreamRecord(frame, index, samples);
    } else {
        if (!status_.Guard.BeginWriting(static_cast<int32_t>(frame))) return false;  // being read
        CopyRecord(layout_.FrameRing + static_cast<size_t>(tag) * layout_.RecordPoints, samples,
                   recordBytes);
        status_.Guard.EndWriting();
    }

    layout_.RingRecordFilled[tag] = 1;
    const uint32_t chunk = slot / (layout_.DmaSlotCount / kDmaChunks);
    if (pendingSlots_[chunk] > 0) --pendingSlots_[chunk];
    ++recordsReceived_;
    status_.RecordsReceived.store(recordsReceived_, std::memory_order_relaxed);
    layout_.LastSlotTags[slot] = tag;
    FollowBoard(slot, tag);
    if (!haveNewest_ || record > newestRecord_) {
        newestRecord_ = record;
        newestTag_ = tag;
    }
    haveNewest_ = true;

    ++frameRecordCounts_[frame];
    frameTicks_[frame] = passTicks_;
    if (index < recordNumber_) ++frameValid_[frame];
    const uint32_t next = (frame + 1) % kRingFrames;
    const uint32_t previous = (frame + kRingFrames - 1) % kRingFrames;
    // What the readout sees of the ring; a stream leaves the ring and its readout alone.
    if (ring) {
        status_.FrameValid[frame].store(frameValid_[frame], std::memory_order_relaxed);
        status_.FrameRecords[frame].store(frameRecordCounts_[frame], std::memory_order_release);
        status_.LatestFrameStart.store(previous * recordsPerFrame, std::memory_order_release);
    }

    // A frame is complete once a record of the following frame arrives while it holds more than
    // half of its records.
    if (!frameComplete_[previous] &&
        static_cast<uint32_t>(frameRecordCounts_[previous]) > recordsPerFrame / 2) {
        CompleteFrame(previous);
    }
    if (frameRecordCounts_[next] > 0) {
        if (layout_.Stream != nullptr) SealThrough(frameNumber_[next]);
        RecycleFrame(next);
    }
    return true;
}

void RecordScanner::CompleteFrame(uint32_t frame) {
    frameComplete_[frame] = true;
    if (layout_.Stream == nullptr) {
        status_.FrameCompletedTicks[frame].store(passTicks_, std::memory_order_relaxed);
    }
    ++frameCounter_;
    status_.FrameCounter.store(frameCounter_, std::memory_order_relaxed);
    // The first completion after a start is not announced: the frame may hold records from
    // before the start.
    if (frameCounter_ > 0 && layout_.Stream == nullptr) {
        status_.NewFrameAvailable.store(true, std::memory_order_release);
    }
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
    frameValid_[frame] = 0;
    frameSealed_[frame] = false;
    if (frameSlot_[frame] >= 0) {  // a frame never finished (only when the stream gives up)
        layout_.Stream->FreeSlot(frameSlot_[frame]);
        frameSlot_[frame] = -1;
    }
    status_.FrameRecords[frame].store(0, std::memory_order_relaxed);
    status_.FrameValid[frame].store(0, std::memory_order_relaxed);
}

// Tags run from 0 to the ring's record count and wrap, so a tag alone says where a record lies in
// the ring but not in the run. Records are taken in the board's order wherever possible, so the
// next tag after the newest one is the record after it. After a gap (records the board wrote while
// no descriptor was queued are lost, their tags consumed) the tag tells the gap only up to whole
// laps of the ring; the time since the start at the board's record rate tells the laps. A tag
// behind the newest (taken late within a pass) is a record before it.
uint64_t RecordScanner::AbsoluteRecord(uint32_t tag, uint32_t slot, bool afterNewest) const {
    if (!haveNewest_) return tag;
    const uint32_t ring = layout_.RingSlotCount;
    const uint32_t newestTag = newestTag_;
    const uint32_t ahead = tag >= newestTag ? tag - newestTag : tag + ring - newestTag;
    // Within a chunk the board writes records back to back: the next tag is the next record. A
    // gap opens only between descriptors, and one of whole laps shows no jump in the tags: at the
    // first slot of a chunk the clock decides, where it can tell (a gap of more laps than the whole
    // DMA buffer's records could be waiting behind the board, which it cannot be). The board loses
    // records only while it idles for want of a descriptor, so never more laps than it could have
    // acquired between the queueing of this chunk and of the one before: a board that ran ahead of
    // the clock and then paused (a simulated one at full pace) has lost nothing.
    if (ahead == 1) {
        const uint32_t slotsPerChunk = layout_.DmaSlotCount / kDmaChunks;
        if (slot % slotsPerChunk != 0) return newestRecord_ + 1;
        const double predicted = PredictedBoardRecord();
        const double excess = predicted - static_cast<double>(newestRecord_ + 1);
        if (predicted < 0.0 || excess < layout_.DmaSlotCount + ring / 2.0) return newestRecord_ + 1;
        const double idleRecords =
            static_cast<double>(idleBeforeTicks_[slot / slotsPerChunk]) * recordsPerTick_;
        const uint64_t laps = std::min(static_cast<uint64_t>(excess / ring + 0.5),
                                       static_cast<uint64_t>(idleRecords / ring));
        return newestRecord_ + 1 + laps * ring;
    }
    const double predicted = PredictedBoardRecord();
    const bool boardMovedOn =
        predicted >= 0.0 && predicted - static_cast<double>(newestRecord_) > ring / 2.0;
    // More than half a ring ahead reads as a record from before the newest, taken late, when its
    // frame is still the one its ring frame holds and its place there is empty; a place taken
    // already means the board went on past the tag instead (a gap of more than half a ring).
    if (ahead > ring / 2 && !afterNewest && !boardMovedOn && newestRecord_ >= ring - ahead) {
        const uint64_t behind = newestRecord_ - (ring - ahead);
        const uint32_t frame = tag / layout_.RecordsPerFrame;
        if (layout_.RingRecordFilled[tag] == 0 && frameRecordCounts_[frame] > 0 &&
            frameNumber_[frame] == behind / layout_.RecordsPerFrame) {
            return behind;
        }
    }
    // The same tag as the newest one is the same record, unless the board has gone on by laps.
    if (ahead == 0 && !afterNewest && !boardMovedOn) return newestRecord_;
    uint64_t candidate = newestRecord_ + (ahead == 0 ? ring : ahead);
    if (predicted > static_cast<double>(candidate)) {
        const double laps = (predicted - static_cast<double>(candidate)) / ring;
        candidate += static_cast<uint64_t>(laps + 0.5) * ring;
    }
    return candidate;
}

void RecordScanner::ObserveBoard() {
    if (!haveNewest_ || recordsPerTick_ <= 0.0) return;
    // Only a record taken in this pass says where the board is now; looking again at an older one
    // would pull the estimate back while the board goes on.
    if (lineKnown_ && newestRecord_ == observedRecord_) {
        NoteNothingNew();
        return;
    }
    observedRecord_ = newestRecord_;
    lastLookTicks_ = passTicks_;
    stillTicks_ = 0;
    // The newest record was written before now, so the board is at least there. Not before the
    // pass began: the pass takes the records that arrive while it runs, and a thread preempted in
    // the middle of one takes records written long after its start. Dated by the start, such a
    // record would put the board ahead of where it is, by as long as the thread stood still, and
    // the next gap would be numbered laps too long.
    const int64_t seenTicks = clock_();
    if (!lineKnown_) {
        firstObservedRecord_ = newestRecord_;
        firstObservedTicks_ = seenTicks;
    }
    const double line = static_cast<double>(newestRecord_) -
                        static_cast<double>(seenTicks - runStartTicks_) * recordsPerTick_;
    if (!lineKnown_ || seenTicks - lineWindowStart_ >= lineWindowTicks_) {
        linePrevious_ = lineKnown_ ? lineCurrent_ : line;
        lineCurrent_ = line;
        lineWindowStart_ = seenTicks;
        lineKnown_ = true;
    } else if (line > lineCurrent_) {
        lineCurrent_ = line;
    }
    // The clock tells laps only of a board that keeps its sampling rate: over a long enough look,
    // the records it has written must match the rate. A board held back or run at another pace
    // (or a simulated one that lets its clock slip) is numbered from its tags alone.
    const int64_t span = seenTicks - firstObservedTicks_;
    if (span >= keepsRateSpanTicks_) {
        const double expected = static_cast<double>(span) * recordsPerTick_;
        const double seen = static_cast<double>(newestRecord_ - firstObservedRecord_);
        keepsRate_ = seen >= expected * (1.0 - kRateTolerance) &&
                     seen <= expected * (1.0 + kRateTolerance);
    }
}

// The thread queues descriptors before every pass, so between two passes close together a board
// that keeps its rate has somewhere to write and writes a record every record time. One that
// writes nothing for long while watched has stopped (a paused trigger, a board held back), and the
// clock no longer says where it is: read against the clock, the next record would open a gap of
// every lap the board stood still for. It is numbered by its tags until it has kept its rate again.
// A long wait between two passes is the thread's own absence, which tells nothing: a board left
// without descriptors meanwhile has lost records, and the clock has to count them.
void RecordScanner::NoteNothingNew() {
    const int64_t sinceLook = passTicks_ - lastLookTicks_;
    lastLookTicks_ = passTicks_;
    if (sinceLook <= watchedGapTicks_) stillTicks_ += sinceLook;
    if (stillTicks_ < standStillTicks_) return;
    stillTicks_ = 0;
    keepsRate_ = false;
    lineKnown_ = false;  // the next look starts the line and the rate check afresh
}

double RecordScanner::PredictedBoardRecord() const {
    if (!lineKnown_ || !keepsRate_ || !lapsFromClock_) return -1.0;
    const double line = lineCurrent_ > linePrevious_ ? lineCurrent_ : linePrevious_;
    return line + static_cast<double>(clock_() - runStartTicks_) * recordsPerTick_;
}

void RecordScanner::StreamRecord(uint32_t frame, uint32_t index, const uint8_t *samples) {
    StreamQueue &stream = *layout_.Stream;
    if (frameRecordCounts_[frame] == 0 && frameNumber_[frame] >= firstFrame_) {
        frameSlot_[frame] = stream.TakeFreeSlot();
        if (frameSlot_[frame] >= 0) std::memset(stream.Filled(frameSlot_[frame]), 0, recordNumber_);
    }
    const int32_t slot = frameSlot_[frame];
    if (slot < 0 || index >= recordNumber_) return;  // before the run's first frame, or not handed out
    CopyRecord(stream.Samples(slot) + static_cast<size_t>(index) * layout_.RecordPoints, samples,
               static_cast<size_t>(layout_.RecordPoints) * 2u);
    stream.Filled(slot)[index] = 1;
}

int RecordScanner::OldestOpenFrame() const {
    int oldest = -1;
    for (int frame = 0; frame < kRingFrames; ++frame) {
        if (frameRecordCounts_[frame] == 0 || frameSealed_[frame]) continue;
        if (oldest < 0 || frameNumber_[frame] < frameNumber_[oldest]) oldest = frame;
    }
    return oldest;
}

void RecordScanner::SealFrame(uint32_t frame) {
    frameSealed_[frame] = true;
    const int32_t slot = frameSlot_[frame];
    frameSlot_[frame] = -1;
    if (slot < 0) return;
    // Of the records handed out, none arrived: nothing to deliver, the frame shows as a gap.
    if (frameValid_[frame] == 0) {
        layout_.Stream->FreeSlot(slot);
        return;
    }
    StreamSlot &target = layout_.Stream->Slot(slot);
    target.Sequence = FrameSequence(static_cast<int>(frame));
    target.RecordsValid = static_cast<uint32_t>(frameValid_[frame]);
    // Frames go out in order; one whose last record came before its predecessor's last one (taken
    // late, out of order) is not dated before it.
    lastSealedTicks_ = frameTicks_[frame] > lastSealedTicks_ ? frameTicks_[frame] : lastSealedTicks_;
    target.CompletedTicks = lastSealedTicks_;
    layout_.Stream->Publish(slot);
}

void RecordScanner::SealThrough(uint64_t number) {
    for (int oldest = OldestOpenFrame(); oldest >= 0 && frameNumber_[oldest] <= number;
         oldest = OldestOpenFrame()) {
        SealFrame(static_cast<uint32_t>(oldest));
    }
}

// A frame is handed out once every record of it to be handed out has arrived, or, with records
// missing, once the board has begun the frame after next: the board writes in order, so what has
// not come by then never will. Frames go out in order, so a whole frame waits behind a partial one
// until that one is settled.
void RecordScanner::SealFinishedFrames() {
    const uint64_t newestFrame = newestRecord_ / layout_.RecordsPerFrame;
    for (int oldest = OldestOpenFrame(); oldest >= 0; oldest = OldestOpenFrame()) {
        const bool whole = static_cast<uint32_t>(frameValid_[oldest]) == recordNumber_;
        if (!whole && frameNumber_[oldest] + 2 > newestFrame) return;
        SealFrame(static_cast<uint32_t>(oldest));
    }
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
