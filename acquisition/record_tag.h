// Reading a record tag from DMA memory. The board writes a record's samples first and then its
// tag, so a tag is read with acquire semantics: once a new tag is seen, the samples before it are
// too. Every read goes to memory; no tag is cached across passes.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel {

inline uint32_t LoadRecordTag(const uint8_t *trailer) {
    // The tag is four bytes little-endian at the start of the trailer. It is 4-byte aligned unless
    // a single-lane record has an odd number of points; then it is read as two aligned halves,
    // low half again after the high half so that a tag rewritten between the two reads is read
    // once more.
    auto *bytes = const_cast<uint8_t *>(trailer);
    if ((reinterpret_cast<uintptr_t>(bytes) & 3u) == 0) {
        return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(bytes))
            .load(std::memory_order_acquire);
    }
    std::atomic_ref<uint16_t> low(*reinterpret_cast<uint16_t *>(bytes));
    std::atomic_ref<uint16_t> high(*reinterpret_cast<uint16_t *>(bytes + 2));
    uint16_t lowValue = low.load(std::memory_order_acquire);
    for (int attempt = 0;; ++attempt) {
        const uint16_t highValue = high.load(std::memory_order_acquire);
        const uint16_t lowAgain = low.load(std::memory_order_acquire);
        if (lowAgain == lowValue || attempt == 2) {
            return static_cast<uint32_t>(lowAgain) | (static_cast<uint32_t>(highValue) << 16);
        }
        lowValue = lowAgain;
    }
}

// A tag no record can carry: tags run below the ring's record count, which is at most 2^32 - 1.
// Its successor in 32-bit arithmetic is 0, the first tag after a dispatcher reset.
constexpr uint32_t kNoRecordTag = 0xFFFFFFFF;

// Writes a tag into a trailer with release semantics (the host marks slots as empty with it; the
// tests' stand-in board writes records with it, samples first).
inline void StoreRecordTag(uint8_t *trailer, uint32_t tag) {
    if ((reinterpret_cast<uintptr_t>(trailer) & 3u) == 0) {
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(trailer))
            .store(tag, std::memory_order_release);
        return;
    }
    std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(trailer + 2))
        .store(static_cast<uint16_t>(tag >> 16), std::memory_order_release);
    std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(trailer))
        .store(static_cast<uint16_t>(tag), std::memory_order_release);
}

}  // namespace ostrel
