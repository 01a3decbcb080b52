// A board's bus side reduced to what the acquisition side needs: control registers, waveform
// memories, a front-end decoding the test sets directly, and a plain locked buffer with guard
// bytes after it. Plus the engine-like steps the DMA tests repeat (byte-wise BAR 2 writes, the
// translation window, queueing a chunk, reading tags).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "platform/sim/board_dma_impl.h"

namespace simdma_test {

using ostrel::sim::BoardDma;
using ostrel::sim::BoardPort;
using ostrel::sim::DmaBufferView;

constexpr uint64_t kBufferBytes = 0x1000000;
constexpr uint64_t kGuardBytes = 0x10000;
constexpr uint8_t kFill = 0xA5;
constexpr uint32_t kChunkPointsLarge = 0x22000;  // 139264 points, every model but 5
constexpr uint32_t kChunkPointsModel5 = 0xA000;  // 40960 points
constexpr uint32_t kGoWithInterrupt = 0x80004000u;
constexpr uint32_t kGoEarlyDone = 0x81000000u;

inline uint32_t DeviceIdOfModel(int model) {
    switch (model) {
    case 5: return 0xA001;
    case 6: return 0xA002;
    case 7: return 0xA004;
    case 8: return 0xA005;
    case 9: return 0xA006;
    case 10: return 0xA007;
    default: return 0xA003;
    }
}

class FakePort : public BoardPort {
public:
    explicit FakePort(int model, uint64_t busAddress = 0x23000000)
        : model_(model), busAddress_(busAddress), storage_(kBufferBytes + kGuardBytes, kFill) {
        for (auto &word : registers_) word.store(0);
        for (auto &point : waveforms_) point.store(0);
        for (auto &setting : frontEnds_) setting = SimFrontEnd{0, 0, 0, 0, 0};
        view_ = DmaBufferView{storage_.data(), busAddress_, kBufferBytes};
    }

    uint32_t DeviceId() const override { return DeviceIdOfModel(model_); }
    int ModelType() const override { return model_; }
    uint32_t ControlRegister(int32_t index) const override {
        return index >= -kRegisters && index < 0 ? registers_[Slot(index)].load() : 0u;
    }
    uint16_t Bar0Word16(uint64_t offset) const override {
        if (offset < kWaveformBase || offset >= kWaveformBase + 2 * waveforms_.size()) return 0;
        return waveforms_[(offset - kWaveformBase) / 2].load();
    }
    bool FrontEnd(int input, SimFrontEnd *out) const override {
        if (input < 0 || input >= 4) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        *out = frontEnds_[static_cast<size_t>(input)];
        return true;
    }
    DmaBufferView LockedBuffer() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return view_;
    }

    void SetRegister(int32_t index, uint32_t value) { registers_[Slot(index)].store(value); }
    void SetWaveformPoint(uint64_t memory, uint32_t point, uint16_t value) {
        waveforms_[(memory - kWaveformBase) / 2 + point].store(value);
    }
    void SetFrontEnd(int input, SimFrontEnd setting) {
        std::lock_guard<std::mutex> lock(mutex_);
        frontEnds_[static_cast<size_t>(input)] = setting;
    }
    // The bus side's order: the buffer is gone from LockedBuffer before BufferUnlocking.
    void Unlock(BoardDma::Impl &dma) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            view_ = DmaBufferView{};
        }
        dma.BufferUnlocking();
    }
    void FreeStorage() { std::vector<uint8_t>().swap(storage_); }

    uint64_t BusAddress() const { return busAddress_; }
    uint8_t *Bytes() { return storage_.data(); }
    // As the engine reads a tag: an acquire load, which may race with the board's store.
    uint32_t Tag(uint64_t offset) const {
        auto *word = const_cast<uint8_t *>(storage_.data() + offset);
        if (offset % 4 == 0) {
            return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(word))
                .load(std::memory_order_acquire);
        }
        uint32_t tag = 0;
        std::memcpy(&tag, word, sizeof(tag));
        return tag;
    }
    int16_t Sample(uint64_t offset) const {
        int16_t sample = 0;
        std::memcpy(&sample, storage_.data() + offset, sizeof(sample));
        return sample;
    }
    bool GuardIntact() const {
        for (uint64_t at = kBufferBytes; at < storage_.size(); ++at) {
            if (storage_[at] != kFill) return false;
        }
        return true;
    }

private:
    static constexpr int32_t kRegisters = 4096;
    static constexpr uint64_t kWaveformBase = 0x8080000;
    static size_t Slot(int32_t index) { return static_cast<size_t>(index + kRegisters); }

    const int model_;
    const uint64_t busAddress_;
    std::array<std::atomic<uint32_t>, kRegisters> registers_;
    std::array<std::atomic<uint16_t>, 0x4000> waveforms_;  // both memories, 0x8080000..0x8088000
    mutable std::mutex mutex_;
    std::array<SimFrontEnd, 4> frontEnds_;
    DmaBufferView view_;
    std::vector<uint8_t> storage_;
};

// What the engine writes for a configuration, by model: the coded record length, the slots per
// chunk, records per frame x 4 and the divider code.
struct Geometry {
    int model;
    uint32_t recordLength;   // points per lane
    uint32_t lanes;
    uint32_t trailerPoints;
    uint32_t chunkPoints;
    uint32_t recordsInMemory;
    uint32_t slotPoints() const { return recordLength * lanes + trailerPoints; }
    uint32_t chunkBytes() const { return 2 * chunkPoints; }
};

inline Geometry GeometryOf(int model, uint32_t recordLength) {
    static constexpr struct {
        int model;
        uint32_t factor, lanes, trailer, chunk;
    } kRows[] = {{5, 1, 1, 2, kChunkPointsModel5}, {6, 2, 2, 4, kChunkPointsLarge},
                 {7, 8, 1, 8, kChunkPointsLarge},  {8, 1, 4, 4, kChunkPointsLarge},
                 {9, 4, 2, 8, kChunkPointsLarge},  {10, 4, 1, 4, kChunkPointsLarge}};
    for (const auto &row : kRows) {
        if (row.model != model) continue;
        Geometry geometry{model, recordLength, row.lanes, row.trailer, row.chunk, 0};
        geometry.recordsInMemory = row.chunk / geometry.slotPoints();
        return geometry;
    }
    return Geometry{model, 0, 0, 0, 0, 0};
}

inline int32_t RegisterBlock(int model) { return model == 5 ? -1024 : -2048; }

// The board registers as the engine leaves them; record length divisible by the model's factor.
inline Geometry Configure(FakePort &port, int model, uint32_t recordLength,
                          uint32_t recordsPerFrame, uint32_t dividerCode = 0) {
    const Geometry geometry = GeometryOf(model, recordLength);
    static constexpr uint32_t kFactor[] = {1, 2, 8, 1, 4, 4};
    const int32_t block = RegisterBlock(model);
    port.SetRegister(block, recordLength / kFactor[model - 5]);
    port.SetRegister(block + 2, geometry.recordsInMemory);
    port.SetRegister(block + 4, recordsPerFrame * 4);
    port.SetRegister(block + 6, dividerCode);
    return geometry;
}

// The engine's 32-bit BAR 2 write: four byte writes, lowest byte first.
inline void WriteBar32(BoardDma::Impl &dma, uint64_t offset, uint32_t value) {
    for (int byte = 0; byte < 4; ++byte) {
        dma.WriteBar2(offset + static_cast<uint64_t>(byte), 1, (value >> (8 * byte)) & 0xFFu);
    }
}

inline uint32_t Status(BoardDma::Impl &dma) { return dma.ReadBar2(0x6000000, 4); }

// The window procedure; returns the mask read back.
inline uint32_t ProgramWindow(BoardDma::Impl &dma, uint64_t busAddress) {
    WriteBar32(dma, 0x1000, 0xFFFFFFFCu);
    const uint32_t mask = dma.ReadBar2(0x1000, 4);
    WriteBar32(dma, 0x1000, static_cast<uint32_t>(busAddress & mask));
    WriteBar32(dma, 0x1004, 0);
    return mask;
}

inline void ResetDispatcher(BoardDma::Impl &dma) {
    WriteBar32(dma, 0x6000004, 0x2);
    WriteBar32(dma, 0x6000000, 0);
    WriteBar32(dma, 0x6000004, 0x10);
}

inline uint32_t ChunkTarget(uint64_t busAddress, uint32_t mask, uint32_t chunk, uint32_t chunkBytes) {
    return static_cast<uint32_t>((busAddress + uint64_t{chunk} * chunkBytes) & ~uint64_t{mask});
}

inline void QueueDescriptor(BoardDma::Impl &dma, uint32_t target, uint32_t bytes,
                            uint32_t control = kGoWithInterrupt) {
    WriteBar32(dma, 0x6000020, 0x8000000);
    WriteBar32(dma, 0x6000024, target);
    WriteBar32(dma, 0x6000028, bytes);
    WriteBar32(dma, 0x600002C, control);
}

// Polls the status until it reads exactly value or about five seconds pass.
inline bool WaitForStatus(BoardDma::Impl &dma, uint32_t value) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Status(dma) == value) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return Status(dma) == value;
}

// Byte offset of the tag of slot s of chunk c.
inline uint64_t TagOffset(const Geometry &geometry, uint32_t chunk, uint32_t slot) {
    return 2ull * (uint64_t{chunk} * geometry.chunkPoints + uint64_t{slot} * geometry.slotPoints() +
                   uint64_t{geometry.recordLength} * geometry.lanes);
}

// Byte offset of lane l's point i of slot s of chunk c.
inline uint64_t SampleOffset(const Geometry &geometry, uint32_t chunk, uint32_t slot,
                             uint32_t lane, uint32_t point) {
    return 2ull * (uint64_t{chunk} * geometry.chunkPoints + uint64_t{slot} * geometry.slotPoints() +
                   uint64_t{point} * geometry.lanes + lane);
}

// Every test starts from the simulator's power-on pacing and faults.
class SimDmaTest : public ::testing::Test {
protected:
    void SetUp() override { SIM_Reset(); }
    void TearDown() override {
        SIM_SetFault(SIM_FAULT_DMA_STALL, 0);
        SIM_SetDmaPacing(SIM_DMA_REALTIME);
    }
};

}  // namespace simdma_test
