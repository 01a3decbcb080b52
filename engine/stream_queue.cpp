#include "engine/stream_queue.h"

#include <cstring>
#include <limits>
#include <new>
#include <thread>

#include "OstrelDAQEngine.h"

namespace ostrel {

std::unique_ptr<StreamQueue> StreamQueue::Create(uint32_t ringFrames, int32_t policy,
                                                 uint32_t recordsPerSlot, uint32_t recordPoints) {
    if (ringFrames == 0 || recordsPerSlot == 0 || recordPoints == 0) return nullptr;
    std::unique_ptr<StreamQueue> queue(new (std::nothrow) StreamQueue());
    if (queue == nullptr) return nullptr;
    queue->capacity_ = ringFrames;
    queue->policy_ = policy;
    queue->recordsPerSlot_ = recordsPerSlot;
    queue->recordPoints_ = recordPoints;
    queue->slotSamples_ = static_cast<size_t>(recordsPerSlot) * recordPoints;
    queue->slotCount_ = ringFrames + kStreamSpareSlots;
    const size_t slots = queue->slotCount_;
    if (queue->slotSamples_ > std::numeric_limits<size_t>::max() / sizeof(int16_t) / slots) {
        return nullptr;
    }
    // Not value-initialised here: zeroed below, once the rest has been had.
    queue->samples_.reset(new (std::nothrow) int16_t[queue->slotSamples_ * slots]);
    queue->filled_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(recordsPerSlot) * slots]());
    queue->slots_.reset(new (std::nothrow) StreamSlot[slots]);
    queue->order_.reset(new (std::nothrow) std::atomic<int32_t>[ringFrames]);
    if (queue->samples_ == nullptr || queue->filled_ == nullptr || queue->slots_ == nullptr ||
        queue->order_ == nullptr) {
        return nullptr;
    }
    for (uint32_t index = 0; index < ringFrames; ++index) {
        queue->order_[index].store(-1, std::memory_order_relaxed);
    }
    // Every page is touched now, on the caller's thread: left to the acquisition thread, the
    // first lap through the queue would cost it a page fault every few kilobytes of records, and
    // on a busy or virtual machine that is enough to lose records from the first frames.
    std::memset(queue->samples_.get(), 0, queue->slotSamples_ * slots * sizeof(int16_t));
    return queue;
}

int32_t StreamQueue::TakeFreeSlot() {
    for (uint32_t looked = 0; looked < slotCount_; ++looked) {
        const uint32_t slot = nextFree_;
        nextFree_ = nextFree_ + 1 == slotCount_ ? 0 : nextFree_ + 1;
        if (!slots_[slot].Busy.load(std::memory_order_acquire)) {
            slots_[slot].Busy.store(true, std::memory_order_relaxed);
            return static_cast<int32_t>(slot);
        }
    }
    return -1;
}

StreamQueue::Offer StreamQueue::Publish(int32_t slot) {
    publishing_.store(true);
    const Offer offer = PublishOpen(slot);
    publishing_.store(false);
    return offer;
}

StreamQueue::Offer StreamQueue::PublishOpen(int32_t slot) {
    if (closed_.load()) {
        FreeSlot(slot);
        return Offer::Closed;
    }
    if (overflowed_.load(std::memory_order_relaxed)) {
        FreeSlot(slot);
        return Offer::Overflowed;
    }
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    Offer offer = Offer::Published;
    for (;;) {
        uint64_t head = head_.load(std::memory_order_acquire);
        if (tail - head < capacity_) break;
        if (policy_ == DAQ_STREAM_DROP_NEWEST) {
            FreeSlot(slot);
            return Offer::DroppedNewest;
        }
        if (policy_ == DAQ_STREAM_FAIL) {
            FreeSlot(slot);
            overflowed_.store(true, std::memory_order_release);
            return Offer::Overflowed;
        }
        // Drop the oldest, unless the reader takes it first (then there is room anyway).
        const int32_t oldest = order_[head % capacity_].load(std::memory_order_relaxed);
        if (head_.compare_exchange_strong(head, head + 1, std::memory_order_acq_rel)) {
            FreeSlot(oldest);
            offer = Offer::DroppedOldest;
        }
    }
    order_[tail % capacity_].store(slot, std::memory_order_relaxed);
    tail_.store(tail + 1, std::memory_order_release);
    return offer;
}

void StreamQueue::Close() {
    closed_.store(true);
    while (publishing_.load()) std::this_thread::yield();  // one push: a few stores
}

bool StreamQueue::Closed() {
    if (!closed_.load()) return false;
    while (publishing_.load()) std::this_thread::yield();
    return true;
}

int32_t StreamQueue::TakeOldest() {
    uint64_t head = head_.load(std::memory_order_acquire);
    for (;;) {
        if (head == tail_.load(std::memory_order_acquire)) return -1;
        // The entry may be rewritten under a look that lost the race for the head (the thread
        // dropped it and published past it); then the exchange below fails and the look repeats.
        const int32_t slot = order_[head % capacity_].load(std::memory_order_relaxed);
        if (head_.compare_exchange_weak(head, head + 1, std::memory_order_acq_rel)) return slot;
    }
}

}  // namespace ostrel
