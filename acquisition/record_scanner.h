// The acquisition thread's work on memory: watching the record tags of every DMA record slot,
// copying each new record into its place in the four-frame ring, deciding when a ring frame is
// complete, recycling frames, and keeping the counters. It touches no register and starts no
// thread, so tests drive it pass by pass on a plain buffer.
#pragma once

#include <cstdint>

#include "engine/acquisition_state.h"

namespace ostrel {

// The tables and host buffers one run works on (built by the acquisition set-up).
struct ScanLayout {
    uint8_t *const *SlotTrailers = nullptr;  // DmaSlotCount trailer addresses, fill order
    uint32_t *LastSlotTags = nullptr;               // DmaSlotCount
    uint8_t *RingRecordFilled = nullptr;            // RingSlotCount
    int16_t *FrameRing = nullptr;                   // RingSlotCount x RecordPoints samples
    uint32_t DmaSlotCount = 0;
    uint32_t RingSlotCount = 0;                     // RecordsPerFrame x 4
    uint32_t RecordPoints = 0;
    uint32_t RecordsPerFrame = 0;
    uint32_t RecordNumber = 0;        // records of a frame handed out; RecordsPerFrame when 0
    double RecordsPerSecond = 0.0;    // the board's record rate, for numbering across gaps; 0: unknown
    StreamQueue *Stream = nullptr;    // frames go here instead of the ring when set
};

class RecordScanner {
public:
    using Clock = int64_t (*)();

    // clock/frequency: a monotonic counter and its ticks per second (the data rate's time base).
    RecordScanner(const ScanLayout &layout, RingStatus &status, Clock clock, int64_t frequency);

    // Start of a run: clears the fill flags, frame counts and counters, and takes the tags now in
    // DMA memory as the last accepted ones, so records already there are never copied.
    void BeginRun();
    // One pass over every slot, in fill order from where the board is writing; then publishes the
    // frame statistics.
    void Pass();
    // Called before the chunk's descriptor is queued again: the records still in it that were not
    // taken are given up (the board is about to overwrite them; one taken from now on could be
    // copied while the board rewrites it), and its slots are marked empty, so that every record
    // the board writes there changes the slot's tag.
    void ForgetChunk(uint32_t chunk);

    // The number in the run of the frame ring frame `frame` holds (valid while it holds records).
    uint64_t FrameSequence(int frame) const {
        return frameNumber_[frame] > firstFrame_ ? frameNumber_[frame] - firstFrame_ : 0;
    }

    // The run's own bookkeeping (for tests and diagnostics).
    int32_t FrameRecordCount(int frame) const { return frameRecordCounts_[frame]; }
    bool FrameComplete(int frame) const { return frameComplete_[frame]; }
    int32_t PartialFrames() const { return partialFrames_; }
    int32_t RecordsReceived() const { return recordsReceived_; }
    int32_t LastPartialCount() const { return lastPartialCount_; }

private:
    // Accepts the records that follow in order from scanStart_ on.
    void CatchUp();
    // Moves scanStart_ behind an accepted record that is the board's newest.
    void FollowBoard(uint32_t slot, uint32_t tag);
    // Takes the record in slot as the board's newest: the board goes on from the slot after it.
    void FollowFrom(uint32_t slot, uint32_t tag);
    // The tag rules for one slot; true when its record was copied into the ring.
    bool Examine(uint32_t slot);
    // afterNewest: the record is known to have been written after the newest one taken.
    bool Accept(uint32_t slot, uint32_t tag, bool afterNewest);
    void CompleteFrame(uint32_t frame);
    void RecycleFrame(uint32_t frame);
    void PublishStatistics();
    // The board's running record number of a tag (tags wrap every ring); see the definition.
    uint64_t AbsoluteRecord(uint32_t tag, uint32_t slot, bool afterNewest = false) const;
    void ObserveBoard();
    void NoteNothingNew();
    double PredictedBoardRecord() const;
    // Stream: copies a record into its frame's slot (taking one for a frame's first record).
    void StreamRecord(uint32_t frame, uint32_t index, const uint8_t *samples);
    // Stream: hands finished frames to the queue, always oldest first.
    int OldestOpenFrame() const;
    void SealFrame(uint32_t frame);
    void SealThrough(uint64_t number);
    void SealFinishedFrames();

    ScanLayout layout_;
    RingStatus &status_;
    Clock clock_;
    int64_t frequency_;

    // Thread-local values of a run.
    int32_t frameRecordCounts_[kRingFrames] = {};
    bool frameComplete_[kRingFrames] = {};
    int32_t frameCounter_ = -1;
    int32_t recordsReceived_ = 0;
    int32_t partialFrames_ = 0;
    int32_t lastPartialCount_ = 0;
    int64_t lastFrameTime_ = 0;
    double frameMegabytes_ = 0.0;
    uint32_t scanStart_ = 0;     // where the board writes next, as far as the tags tell
    uint32_t expectedTag_ = 0;   // the tag it writes there
    bool followingBoard_ = false;  // set by the first record taken in a run
    uint32_t forgottenLastTags_[kDmaChunks] = {};  // last slot's tag when ForgetChunk emptied it
    uint32_t pendingSlots_[kDmaChunks] = {};       // slots not taken since the chunk was queued
    // Chunks queued so far in the run, the count at each chunk's latest queueing, and that of the
    // newest record's chunk when it was taken: which laps came after which.
    uint64_t forgets_ = 0;
    uint64_t forgetSerial_[kDmaChunks] = {};
    uint64_t newestForgetSerial_ = 0;
    // Clock ticks between the queueing of each chunk and of the chunk queued before it: the
    // longest the board can have idled before the chunk's first record.
    int64_t idleBeforeTicks_[kDmaChunks] = {};
    int64_t lastQueuedTicks_ = 0;

    // Frame numbering. Tags wrap every four frames; the scanner keeps the board's running record
    // number of the newest record taken and numbers the others from it.
    uint32_t recordNumber_ = 0;     // records of a frame handed out
    bool haveNewest_ = false;
    uint64_t newestRecord_ = 0;
    uint32_t newestTag_ = 0;        // its tag (newestRecord_ modulo the ring's record count)
    uint64_t firstFrame_ = 0;       // the first frame that began after the start
    int64_t runStartTicks_ = 0;
    int64_t passTicks_ = 0;         // clock at the start of the pass under way
    // Where the board is, as a line through the records seen: record number minus the records
    // the board writes per tick since the run's start, the largest seen in this window and the
    // last (a board that slips only lowers it).
    double recordsPerTick_ = 0.0;
    bool lineKnown_ = false;
    double lineCurrent_ = 0.0;
    double linePrevious_ = 0.0;
    int64_t lineWindowStart_ = 0;
    int64_t lineWindowTicks_ = 0;
    uint64_t observedRecord_ = 0;       // the newest record at the last look
    uint64_t firstObservedRecord_ = 0;  // and at the first
    int64_t firstObservedTicks_ = 0;
    int64_t keepsRateSpanTicks_ = 0;
    bool keepsRate_ = false;            // the board's records keep pace with its sampling rate
    // A board that stands still while watched: the pass that last looked, the time since the newest
    // record that passes close together saw go by with nothing new, and the limits.
    int64_t lastLookTicks_ = 0;
    int64_t stillTicks_ = 0;
    int64_t watchedGapTicks_ = 0;   // passes further apart than this: the thread was away
    int64_t standStillTicks_ = 0;   // watched this long with nothing new: the board has stopped
    bool lapsFromClock_ = false;        // the ring lasts long enough for the clock to tell laps
    uint64_t frameNumber_[kRingFrames] = {};  // the frame a ring frame holds, while it holds any
    int32_t frameValid_[kRingFrames] = {};    // of its records, those handed out
    int64_t frameTicks_[kRingFrames] = {};    // pass in which its last record was taken
    int32_t frameSlot_[kRingFrames] = {-1, -1, -1, -1};  // stream slot
    bool frameSealed_[kRingFrames] = {};      // stream: handed to the queue
    int64_t lastSealedTicks_ = 0;             // stream: completion time of the last frame out
};

}  // namespace ostrel
