#include "platform/sim/sim_memory.h"

namespace ostrel::sim {

uint32_t WidthMask(int width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
}

DenseRegion::DenseRegion(uint64_t base, uint64_t bytes)
    : base_(base), bytes_(bytes), words_(new std::atomic<uint32_t>[(bytes + 3) / 4]) {
    Clear();
}

void DenseRegion::Clear() {
    for (uint64_t word = 0; word < (bytes_ + 3) / 4; ++word) {
        words_[word].store(0, std::memory_order_relaxed);
    }
}

uint32_t DenseRegion::Read(uint64_t offset, int width) const {
    const uint64_t relative = offset - base_;
    const uint64_t word = relative / 4;
    const int shift = static_cast<int>(relative % 4);
    if (shift + width <= 4) {
        const uint32_t value = words_[word].load(std::memory_order_acquire);
        return (value >> (8 * shift)) & WidthMask(width);
    }
    // Straddles two words: assemble byte by byte.
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = relative + static_cast<uint64_t>(byte);
        const uint32_t wordValue = words_[at / 4].load(std::memory_order_acquire);
        value |= ByteOf(wordValue, static_cast<int>(at % 4)) << (8 * byte);
    }
    return value;
}

void DenseRegion::Write(uint64_t offset, int width, uint32_t value) {
    const uint64_t relative = offset - base_;
    const int shift = static_cast<int>(relative % 4);
    if (width == 4 && shift == 0) {
        words_[relative / 4].store(value, std::memory_order_release);
        return;
    }
    for (int byte = 0; byte < width;) {
        // Merge as many bytes as fall into the current word with one compare-exchange, so that
        // a concurrent reader never sees a word with a foreign byte half merged.
        const uint64_t at = relative + static_cast<uint64_t>(byte);
        const int inWord = static_cast<int>(at % 4);
        const int count = (4 - inWord) < (width - byte) ? (4 - inWord) : (width - byte);
        const uint32_t mask = WidthMask(count) << (8 * inWord);
        const uint32_t bits = ((value >> (8 * byte)) << (8 * inWord)) & mask;
        std::atomic<uint32_t> &target = words_[at / 4];
        uint32_t expected = target.load(std::memory_order_relaxed);
        while (!target.compare_exchange_weak(expected, (expected & ~mask) | bits,
                                             std::memory_order_release,
                                             std::memory_order_relaxed)) {
        }
        byte += count;
    }
}

uint32_t SparseMemory::ReadByteLocked(uint64_t offset) const {
    const auto found = words_.find(offset / 4);
    return found == words_.end() ? 0u : ByteOf(found->second, static_cast<int>(offset % 4));
}

void SparseMemory::WriteByteLocked(uint64_t offset, uint32_t value) {
    const uint64_t key = offset / 4;
    const int shift = 8 * static_cast<int>(offset % 4);
    const auto found = words_.find(key);
    uint32_t word = found == words_.end() ? 0u : found->second;
    word = (word & ~(0xFFu << shift)) | ((value & 0xFFu) << shift);
    if (word == 0) {
        if (found != words_.end()) words_.erase(found);
    } else if (found != words_.end()) {
        found->second = word;
    } else {
        words_.emplace(key, word);
    }
}

uint32_t SparseMemory::Read(uint64_t offset, int width) const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        value |= ReadByteLocked(offset + static_cast<uint64_t>(byte)) << (8 * byte);
    }
    return value;
}

void SparseMemory::Write(uint64_t offset, int width, uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int byte = 0; byte < width; ++byte) {
        WriteByteLocked(offset + static_cast<uint64_t>(byte), ByteOf(value, byte));
    }
}

void SparseMemory::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    words_.clear();
}

}  // namespace ostrel::sim
