// The queue of finished frames between the acquisition thread and DAQ_StreamRead.
//
// Frames live in slots, each the configured record number of records in the board's interleaved
// order. A slot is free, or owned by exactly one side: the thread takes a free slot when the first
// record of a frame arrives, copies the frame's records straight into it, and publishes it when the
// frame is finished; the reader takes the oldest published slot, copies it out and frees it. The
// published slots form a FIFO of slot numbers with two 64-bit counters: the thread alone advances
// the tail; the head is advanced by compare-and-swap, by the reader taking a frame and by the thread
// dropping the oldest under DAQ_STREAM_DROP_OLDEST, so that whoever wins the exchange owns the
// slot. A slot's own fields are written by its owner only and handed over by the release/acquire
// pairs of the counters and of the slot's busy flag, so neither side ever touches a slot the other
// owns.
//
// At most ringFrames frames are published; up to four more are being filled (one per frame of the
// thread's ring) and one is being read, so ringFrames + 5 slots never run out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ostrel {

// Slots beyond the published frames: the thread's four ring frames and the reader's.
constexpr uint32_t kStreamSpareSlots = 5;
constexpr int32_t kStreamMinimumFrames = 2;
constexpr int32_t kStreamMaximumFrames = 1024;

struct StreamSlot {
    // Written by the owner (the thread while filling, then read by the reader once published).
    uint64_t Sequence = 0;       // frame number in the run
    uint32_t RecordsValid = 0;   // records of the configured number that arrived
    int64_t CompletedTicks = 0;  // performance-counter reading at completion
    std::atomic<bool> Busy{false};  // filled, published or being read
};

class StreamQueue {
public:
    enum class Offer { Published, DroppedOldest, DroppedNewest, Overflowed, Closed };

    // Returns nullptr when the memory cannot be had. recordsPerSlot x recordPoints samples a slot.
    static std::unique_ptr<StreamQueue> Create(uint32_t ringFrames, int32_t policy,
                                               uint32_t recordsPerSlot, uint32_t recordPoints);

    // Thread side. TakeFreeSlot returns a slot marked busy, or -1 (never with the sizing above).
    int32_t TakeFreeSlot();
    // Publishes a filled slot under the overflow policy; a slot not published is freed.
    Offer Publish(int32_t slot);
    // Gives back a slot the thread took but will not publish.
    void FreeSlot(int32_t slot) { slots_[slot].Busy.store(false, std::memory_order_release); }

    // Reader side: the oldest published slot, now owned by the reader, or -1 when none.
    int32_t TakeOldest();

    // Ends publishing: once Close has returned, or Closed() has returned true, no frame is
    // published any more (one being published as it is called is finished first), so a reader that
    // then finds the queue empty has seen the last frame.
    void Close();
    bool Closed();

    StreamSlot &Slot(int32_t slot) { return slots_[slot]; }
    int16_t *Samples(int32_t slot) { return samples_.get() + static_cast<size_t>(slot) * slotSamples_; }
    // One byte per record of the slot: 1 where the record arrived.
    uint8_t *Filled(int32_t slot) { return filled_.get() + static_cast<size_t>(slot) * recordsPerSlot_; }

    uint32_t RecordsPerSlot() const { return recordsPerSlot_; }
    uint32_t RecordPoints() const { return recordPoints_; }
    int32_t Policy() const { return policy_; }
    bool Overflowed() const { return overflowed_.load(std::memory_order_acquire); }

    // The reader's own account of what it delivered (only the reading thread touches these).
    bool DeliveredAny = false;
    uint64_t LastSequence = 0;
    uint64_t RecordsDelivered = 0;  // sum of RecordsValid of every delivered frame
    double SamplePeriodSeconds = 0.0;  // set before the stream starts

private:
    StreamQueue() = default;
    Offer PublishOpen(int32_t slot);

    uint32_t capacity_ = 0;  // frames published at most
    int32_t policy_ = 0;
    uint32_t recordsPerSlot_ = 0;
    uint32_t recordPoints_ = 0;
    size_t slotSamples_ = 0;
    uint32_t slotCount_ = 0;
    uint32_t nextFree_ = 0;  // where the thread looks for a free slot first
    std::unique_ptr<int16_t[]> samples_;
    std::unique_ptr<uint8_t[]> filled_;
    std::unique_ptr<StreamSlot[]> slots_;
    std::unique_ptr<std::atomic<int32_t>[]> order_;  // published slot numbers, capacity_ + 1
    std::atomic<uint64_t> head_{0};
    std::atomic<uint64_t> tail_{0};
    std::atomic<bool> overflowed_{false};
    // A Dekker pair (sequentially consistent): the thread raises publishing_ and then looks at
    // closed_; the closer raises closed_ and then waits for publishing_ to fall.
    std::atomic<bool> publishing_{false};
    std::atomic<bool> closed_{false};
};

}  // namespace ostrel
