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
    // The tag rules for one slot; true when its record was copied into the ring.
    bool Examine(uint32_t slot);
    bool Accept(uint32_t slot, uint32_t tag);
    void CompleteFrame(uint32_t frame);
    void RecycleFrame(uint32_t frame);
    void PublishStatistics();

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
};

}  // namespace ostrel
