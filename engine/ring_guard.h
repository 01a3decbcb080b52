// Keeps the acquisition thread from writing into the ring frame the application is copying.
//
// The ring is written by the acquisition thread (one record at a time) and read by the readout
// (one whole frame at a time), without a lock. Each side announces the ring frame it is about to
// touch and then looks at the other side's announcement; both use sequentially consistent
// operations, so of two announcements of the same frame at least one side sees the other's
// (Dekker's handshake):
//
//  - The thread, before copying a record into ring frame j, announces writingFrame = j and looks at
//    readingFrame. If the reader holds j it withdraws and skips that record for this pass: the slot
//    keeps its tag and is examined again in the next pass, exactly as a slot whose record is not yet
//    in order, so nothing is lost unless the reader holds the frame for longer than the board takes
//    to refill the 16 DMA chunks. After the copy it withdraws its announcement.
//  - The reader announces readingFrame = k and waits while writingFrame == k. That wait is bounded
//    by one record copy: the thread finishes the copy it began and will not begin another in k.
//    After its copy the reader withdraws.
//
// Recycling a frame only clears the thread's own bookkeeping (fill flags, counts), not samples, so
// it needs no announcement: every later write into the frame goes through the handshake.
// The release half of each withdrawal orders the samples written (or read) before it with the other
// side's next look, so the ring itself is free of data races.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/os/os_services.h"

namespace ostrel {

class RingGuard {
public:
    static constexpr int32_t kNone = -1;

    // Acquisition thread. False when the reader holds the frame; nothing is then announced.
    bool BeginWriting(int32_t frame) {
        writingFrame_.store(frame, std::memory_order_seq_cst);
        if (readingFrame_.load(std::memory_order_seq_cst) == frame) {
            writingFrame_.store(kNone, std::memory_order_release);
            return false;
        }
        return true;
    }
    void EndWriting() { writingFrame_.store(kNone, std::memory_order_release); }

    // Application thread. Returns once the thread is out of the frame; it stays out until
    // EndReading.
    void BeginReading(int32_t frame) {
        readingFrame_.store(frame, std::memory_order_seq_cst);
        for (uint32_t spin = 0; writingFrame_.load(std::memory_order_seq_cst) == frame; ++spin) {
            // One record copy at most; give the processor away if it takes long (a preempted
            // thread on a busy machine).
            if (spin >= 1000) os::SleepMilliseconds(1);
        }
    }
    void EndReading() { readingFrame_.store(kNone, std::memory_order_release); }

    int32_t ReadingFrame() const { return readingFrame_.load(std::memory_order_relaxed); }

private:
    std::atomic<int32_t> readingFrame_{kNone};  // written by the application thread
    std::atomic<int32_t> writingFrame_{kNone};  // written by the acquisition thread
};

}  // namespace ostrel
