// Storage behind the simulated BARs. The board's own DMA thread reads control registers while the
// engine writes them, so the windows it reads are dense arrays of atomic words; everything else a
// BAR holds is kept sparsely under a mutex (BAR 0 alone spans 256 MiB per board).
//
// All accesses are little-endian and 1, 2 or 4 bytes wide; callers check the BAR bounds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace ostrel::sim {

// A fixed window of byte offsets [base, base + bytes) backed by atomic 32-bit words. An access
// inside one word is a single atomic load, store or compare-exchange, so a 32-bit register is
// never seen half written.
class DenseRegion {
public:
    DenseRegion(uint64_t base, uint64_t bytes);

    bool Contains(uint64_t offset, int width) const {
        return offset >= base_ && offset - base_ + static_cast<uint64_t>(width) <= bytes_;
    }
    bool ContainsByte(uint64_t offset) const { return offset >= base_ && offset - base_ < bytes_; }
    // Only for accesses the region contains.
    uint32_t Read(uint64_t offset, int width) const;
    void Write(uint64_t offset, int width, uint32_t value);
    void Clear();

private:
    uint64_t base_;
    uint64_t bytes_;
    std::unique_ptr<std::atomic<uint32_t>[]> words_;
};

// Words written anywhere in a large space, kept in a map; unwritten (and zeroed) words read 0 and
// take no room.
class SparseMemory {
public:
    uint32_t Read(uint64_t offset, int width) const;
    void Write(uint64_t offset, int width, uint32_t value);
    void Clear();

private:
    uint32_t ReadByteLocked(uint64_t offset) const;
    void WriteByteLocked(uint64_t offset, uint32_t value);

    mutable std::mutex mutex_;
    std::unordered_map<uint64_t, uint32_t> words_;  // key: offset / 4
};

// Byte n of a little-endian word, and the mask of an access width in bytes.
inline uint32_t ByteOf(uint32_t value, int byteIndex) { return (value >> (8 * byteIndex)) & 0xFFu; }
uint32_t WidthMask(int width);

}  // namespace ostrel::sim
