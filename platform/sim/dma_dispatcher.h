// The register side of the simulated board's DMA path in BAR 2: the address-translation window
// and the DMA dispatcher's registers, descriptor buffer and status. What a completed descriptor
// writes is the board's business (board_dma.cpp); this class only keeps the registers and the
// queue consistent.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>

namespace ostrel::sim {

// BAR 2 byte offsets.
constexpr uint64_t kTranslationLowOffset = 0x1000;   // RW window base; 0xFFFFFFFC reads back the mask
constexpr uint64_t kTranslationHighOffset = 0x1004;  // RW upper 32 bits of the window base
constexpr uint64_t kTranslationEnd = 0x1008;
constexpr uint64_t kDispatcherOffset = 0x6000000;
constexpr uint64_t kDispatcherEnd = 0x6000100;
constexpr uint64_t kDmaStatusOffset = 0x6000000;     // R status bits; W 0x200 clears the flag
constexpr uint64_t kDmaControlOffset = 0x6000004;    // RW; 0x2 resets the dispatcher (self-clearing)
constexpr uint64_t kDescReadAddressOffset = 0x6000020;   // RW descriptor source (board side)
constexpr uint64_t kDescWriteAddressOffset = 0x6000024;  // RW descriptor destination (window)
constexpr uint64_t kDescLengthOffset = 0x6000028;        // RW descriptor length in bytes
constexpr uint64_t kDescControlOffset = 0x600002C;       // RW; bit 31 queues the descriptor

// Status bits.
constexpr uint32_t kStatusBusy = 0x1;       // a descriptor is being worked on
constexpr uint32_t kStatusEmpty = 0x2;      // no descriptor waits in the buffer
constexpr uint32_t kStatusFull = 0x4;       // the buffer takes no further descriptor
constexpr uint32_t kStatusInterrupt = 0x200;
// Control and descriptor-control bits.
constexpr uint32_t kControlReset = 0x2;
constexpr uint32_t kDescGo = 0x80000000u;
constexpr uint32_t kDescInterruptOnDone = 0x4000;
constexpr uint32_t kDescEarlyDone = 0x1000000;

// Implemented bits of TranslationLow: a 256 MiB window, so the chunks of a 16 MiB buffer land in
// it unless the buffer straddles a 256 MiB boundary (the bus side hands out 16 MiB-aligned
// buffer addresses, which never do).
constexpr uint32_t kTranslationMask = 0xF0000000u;
// Descriptors that can wait behind the one being worked on.
constexpr std::size_t kDescriptorBufferDepth = 4;

struct Descriptor {
    uint32_t readAddress = 0;
    uint32_t writeAddress = 0;
    uint32_t length = 0;
    uint32_t control = 0;
    uint64_t hostAddress = 0;  // the host bus address the write address maps to
};

// Not thread-safe except Status(): the owner serialises every other call. A 32-bit register acts
// when its highest byte is written (the engine writes registers as four byte writes, lowest byte
// first) or on any wider write that covers that byte.
class DmaDispatcher {
public:
    struct WriteResult {
        bool queued = false;           // a go queued a descriptor
        bool startedFromIdle = false;  // ... and it became the active one at once
        bool ignored = false;          // a go found the buffer full
        bool reset = false;            // the dispatcher was reset
    };

    DmaDispatcher();

    static bool Handles(uint64_t offset) {
        return (offset >= kTranslationLowOffset && offset < kTranslationEnd) ||
               (offset >= kDispatcherOffset && offset < kDispatcherEnd);
    }
    uint32_t Status() const { return status_.load(std::memory_order_acquire); }
    uint32_t Read(uint64_t offset, int width) const;
    WriteResult Write(uint64_t offset, int width, uint32_t value);

    bool HasActive() const { return hasActive_; }
    const Descriptor &Active() const { return active_; }
    // Changes whenever another descriptor becomes the active one.
    uint64_t ActiveSerial() const { return activeSerial_; }
    // The active descriptor is done: raise the flag if it asked, start the next one waiting.
    // True when another descriptor is now active.
    bool CompleteActive();
    // Drops the active and the waiting descriptors without completing them (flag kept).
    void DropQueue();
    std::size_t Waiting() const { return buffer_.size(); }
    uint64_t IgnoredGoWrites() const { return ignoredGoWrites_; }

private:
    struct Register {
        uint32_t value = 0;       // what a read returns (status: see Status())
        uint32_t assembling = 0;  // bytes written since the register last acted
    };
    Register *RegisterAt(uint64_t wordOffset);
    const Register *RegisterAt(uint64_t wordOffset) const;
    void Act(uint64_t wordOffset, Register &reg, WriteResult &result);
    void Go(uint32_t control, WriteResult &result);
    void Reset();
    void UpdateStatus();

    std::array<Register, 2> translation_{};
    std::array<Register, (kDispatcherEnd - kDispatcherOffset) / 4> dispatcher_{};
    Descriptor active_;
    bool hasActive_ = false;
    uint64_t activeSerial_ = 0;
    std::deque<Descriptor> buffer_;
    bool interrupt_ = false;
    uint64_t ignoredGoWrites_ = 0;
    std::atomic<uint32_t> status_{kStatusEmpty};
};

}  // namespace ostrel::sim
