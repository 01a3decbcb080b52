// A stand-in for the board's side of the DMA buffer, for driving the record scanner on a plain
// buffer: 16 chunks of record slots laid out as the board lays them out, records written samples
// first and tag last (release), in fill order, tags counting from a start value and wrapping at
// the ring's record count.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "acquisition/record_scanner.h"
#include "acquisition/record_tag.h"

namespace ostrel::testing {

struct FakeGeometry {
    uint32_t RecordPoints;
    uint32_t TrailerPoints;
    uint32_t ChunkPoints;
    uint32_t SlotsPerChunk;
    uint32_t RecordsPerFrame;
};

class FakeDma {
public:
    explicit FakeDma(const FakeGeometry &geometry)
        : geometry_(geometry),
          memory_(static_cast<size_t>(geometry.ChunkPoints) * 8 + 1, 0),
          slotTrailers_(static_cast<size_t>(geometry.SlotsPerChunk) * 16),
          lastSlotTags_(slotTrailers_.size()),
          ringRecordFilled_(static_cast<size_t>(geometry.RecordsPerFrame) * 4),
          frameRing_(ringRecordFilled_.size() * geometry.RecordPoints, 0) {
        uint8_t *base = reinterpret_cast<uint8_t *>(memory_.data());
        const uint32_t slotPoints = geometry.RecordPoints + geometry.TrailerPoints;
        for (uint32_t chunk = 0; chunk < 16; ++chunk) {
            for (uint32_t slot = 0; slot < geometry.SlotsPerChunk; ++slot) {
                const size_t point = static_cast<size_t>(chunk) * geometry.ChunkPoints +
                                     static_cast<size_t>(slot) * slotPoints + geometry.RecordPoints;
                slotTrailers_[chunk * geometry.SlotsPerChunk + slot] = base + point * 2;
            }
        }
    }

    ScanLayout Layout() {
        ScanLayout layout;
        layout.SlotTrailers = slotTrailers_.data();
        layout.LastSlotTags = lastSlotTags_.data();
        layout.RingRecordFilled = ringRecordFilled_.data();
        layout.FrameRing = frameRing_.data();
        layout.DmaSlotCount = SlotCount();
        layout.RingSlotCount = RingSlots();
        layout.RecordPoints = geometry_.RecordPoints;
        layout.RecordsPerFrame = geometry_.RecordsPerFrame;
        return layout;
    }

    uint32_t SlotCount() const { return static_cast<uint32_t>(slotTrailers_.size()); }
    uint32_t RingSlots() const { return geometry_.RecordsPerFrame * 4; }

    // Writes one record: every sample = value, then the tag.
    void WriteRecord(uint32_t slot, uint32_t tag, int16_t value) {
        uint8_t *trailer = const_cast<uint8_t *>(slotTrailers_[slot]);
        int16_t *samples = reinterpret_cast<int16_t *>(trailer) - geometry_.RecordPoints;
        for (uint32_t point = 0; point < geometry_.RecordPoints; ++point) samples[point] = value;
        StoreRecordTag(trailer, tag);
    }
    // Every slot empty, as the acquisition set-up leaves them.
    void MarkEmpty() {
        for (uint32_t slot = 0; slot < SlotCount(); ++slot) SetTag(slot, kNoRecordTag);
    }
    void SetTag(uint32_t slot, uint32_t tag) {
        StoreRecordTag(const_cast<uint8_t *>(slotTrailers_[slot]), tag);
    }

    // The board's own progress: the next record goes to slot cursor with tag nextTag.
    void Produce(uint32_t count) {
        for (uint32_t index = 0; index < count; ++index) {
            WriteRecord(cursor_, nextTag_, ValueOf(nextTag_, lap_));
            cursor_ = (cursor_ + 1) % SlotCount();
            if (++nextTag_ == RingSlots()) {
                nextTag_ = 0;
                ++lap_;
            }
        }
    }
    // As Produce, with each chunk given up by the scanner before the board writes into it, as
    // the thread does when it queues the chunk's descriptor.
    void ProduceQueued(uint32_t count, RecordScanner &scanner) {
        for (uint32_t index = 0; index < count; ++index) {
            if (cursor_ % geometry_.SlotsPerChunk == 0) {
                scanner.ForgetChunk(cursor_ / geometry_.SlotsPerChunk);
            }
            Produce(1);
        }
    }
    // A gap: the next count tags are never written (their slots are not touched either).
    void SkipTags(uint32_t count) {
        for (uint32_t index = 0; index < count; ++index) {
            if (++nextTag_ == RingSlots()) {
                nextTag_ = 0;
                ++lap_;
            }
        }
    }
    uint32_t NextTag() const { return nextTag_; }
    // Records the board can write before it wraps from the last slot to slot 0.
    uint32_t RecordsUntilSlotWrap() const { return SlotCount() - cursor_; }

    // Sample value of a record: distinct per tag and per lap of the ring.
    static int16_t ValueOf(uint32_t tag, uint32_t lap) {
        return static_cast<int16_t>((tag * 7u + lap * 3u) & 0x3FFF);
    }

    const int16_t *RingRecord(uint32_t tag) const {
        return frameRing_.data() + static_cast<size_t>(tag) * geometry_.RecordPoints;
    }
    uint32_t LastSlotTag(uint32_t slot) const { return lastSlotTags_[slot]; }
    bool Filled(uint32_t tag) const { return ringRecordFilled_[tag] != 0; }

private:
    FakeGeometry geometry_;
    std::vector<uint32_t> memory_;
    std::vector<uint8_t *> slotTrailers_;
    std::vector<uint32_t> lastSlotTags_;
    std::vector<uint8_t> ringRecordFilled_;
    std::vector<int16_t> frameRing_;
    uint32_t cursor_ = 0;
    uint32_t nextTag_ = 0;
    uint32_t lap_ = 0;
};

// A clock the test moves by hand.
struct ManualClock {
    static inline int64_t now = 0;
    static inline int64_t nextRead = -1;  // when set, what the next reading gives, once
    static int64_t Read() {
        if (nextRead < 0) return now;
        const int64_t reading = nextRead;
        nextRead = -1;
        return reading;
    }
};

}  // namespace ostrel::testing
