#include "platform/sim/sim_memory.h"

namespace ostrel::sim {

template <typename Word>
DenseRegion<Word>::DenseRegion(uint64_t base, uint64_t bytes)
    : base_(base),
      bytes_(bytes),
      words_(new std::atomic<Word>[(bytes + kWordBytes - 1) / kWordBytes]) {
    Clear();
}

template <typename Word>
void DenseRegion<Word>::Clear() {
    for (uint64_t word = 0; word < (bytes_ + kWordBytes - 1) / kWordBytes; ++word) {
        words_[word].store(0, std::memory_order_relaxed);
    }
}

template <typename Word>
uint32_t DenseRegion<Word>::ReadAcross(uint64_t relative, int width) const {
    // Straddles words: assemble byte by byte.
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = relative + static_cast<uint64_t>(byte);
        const uint32_t wordValue = words_[at / kWordBytes].load(std::memory_order_acquire);
        value |= ByteOf(wordValue, static_cast<int>(at % kWordBytes)) << (8 * byte);
    }
    return value;
}

template <typename Word>
void DenseRegion<Word>::Merge(uint64_t relative, int width, uint32_t value) {
    for (int byte = 0; byte < width;) {
        // Merge as many bytes as fall into the current word with one compare-exchange, so that
        // a concurrent reader never sees a word with a foreign byte half merged.
        const uint64_t at = relative + static_cast<uint64_t>(byte);
        const int inWord = static_cast<int>(at % kWordBytes);
        const int count =
            (kWordBytes - inWord) < (width - byte) ? (kWordBytes - inWord) : (width - byte);
        const uint32_t mask = WidthMask(count) << (8 * inWord);
        const uint32_t bits = ((value >> (8 * byte)) << (8 * inWord)) & mask;
        std::atomic<Word> &target = words_[at / kWordBytes];
        Word expected = target.load(std::memory_order_relaxed);
        while (!target.compare_exchange_weak(
            expected, static_cast<Word>((expected & ~mask) | bits), std::memory_order_release,
            std::memory_order_relaxed)) {
        }
        byte += count;
    }
}

template class DenseRegion<uint32_t>;
template class DenseRegion<uint16_t>;

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
