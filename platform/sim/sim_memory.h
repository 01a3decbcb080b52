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

// Byte n of a little-endian word, and the mask of an access width in bytes.
inline uint32_t ByteOf(uint32_t value, int byteIndex) { return (value >> (8 * byteIndex)) & 0xFFu; }
inline uint32_t WidthMask(int width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
}

// A fixed window of byte offsets [base, base + bytes) backed by atomic words of Word (uint32_t
// or uint16_t). An access inside one word is a single atomic load, store or compare-exchange, so
// a register of the word's width is never seen half written; a wider access is merged or
// assembled word by word. Registers use 32-bit words; the waveform memories, which are written
// and read as 16-bit points only, use 16-bit words so that a point write is one plain store.
template <typename Word>
class DenseRegion {
public:
    static constexpr int kWordBytes = static_cast<int>(sizeof(Word));

    DenseRegion(uint64_t base, uint64_t bytes);

    bool Contains(uint64_t offset, int width) const {
        return offset >= base_ && offset - base_ + static_cast<uint64_t>(width) <= bytes_;
    }
    bool ContainsByte(uint64_t offset) const { return offset >= base_ && offset - base_ < bytes_; }
    // Whether offset starts a whole word of the region.
    bool ContainsWord(uint64_t offset) const {
        return Contains(offset, kWordBytes) && (offset - base_) % kWordBytes == 0;
    }
    // Only for a word the region contains.
    void StoreWord(uint64_t offset, Word value) {
        words_[(offset - base_) / kWordBytes].store(value, std::memory_order_release);
    }
    // Only for accesses the region contains. An access inside one word is inline: the waveform
    // memories take 8192 point writes per update.
    uint32_t Read(uint64_t offset, int width) const {
        const uint64_t relative = offset - base_;
        const int shift = static_cast<int>(relative % kWordBytes);
        if (shift + width > kWordBytes) return ReadAcross(relative, width);
        const uint32_t value = words_[relative / kWordBytes].load(std::memory_order_acquire);
        return (value >> (8 * shift)) & WidthMask(width);
    }
    void Write(uint64_t offset, int width, uint32_t value) {
        const uint64_t relative = offset - base_;
        if (width == kWordBytes && relative % kWordBytes == 0) {
            words_[relative / kWordBytes].store(static_cast<Word>(value),
                                                std::memory_order_release);
        } else {
            Merge(relative, width, value);
        }
    }
    void Clear();

private:
    uint32_t ReadAcross(uint64_t relative, int width) const;
    void Merge(uint64_t relative, int width, uint32_t value);

    uint64_t base_;
    uint64_t bytes_;
    std::unique_ptr<std::atomic<Word>[]> words_;
};

extern template class DenseRegion<uint32_t>;
extern template class DenseRegion<uint16_t>;

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


}  // namespace ostrel::sim
