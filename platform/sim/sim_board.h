// One simulated board on the bus side: its PCI identity and resources, configuration space, BAR
// storage and locked DMA buffers. The acquisition side (BoardDma) sees it through BoardPort.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim/board_port.h"
#include "platform/sim/sim_memory.h"
#include "wdc_lib.h"

namespace ostrel::sim {

constexpr uint32_t kVendorId = 0x1172;
constexpr uint32_t kAddressSpaceCount = 6;
constexpr uint64_t kBar0Bytes = 0x10000000;
constexpr uint64_t kBar2Bytes = 0x08000000;
constexpr uint64_t kBar4Bytes = 0x10000;
constexpr uint32_t kDefaultConfigWord = 0x11800009;
constexpr uint32_t kDefaultInterruptType = 0x1;  // line interrupt: carries no message word

// BAR 0 windows the board's own thread reads while the engine writes: the control registers and
// the generator's two waveform memories.
constexpr uint64_t kRegisterWindowBase = 0x7FFF000;
constexpr uint64_t kRegisterWindowBytes = 0x1000;
constexpr uint64_t kRegisterBase = 0x8000000;  // BAR 0 offset of register index 0
constexpr uint64_t kWaveformMemoryBase = 0x8080000;
constexpr uint64_t kWaveformMemoryBytes = 0x8000;

// The model a device ID selects on the board side (0xE001 behaves as model 7); -1 if unknown.
int ModelOfDeviceId(uint32_t deviceId);
// ADC lanes of a model (1, 2 or 4); 0 for an unknown model.
int LanesOfModel(int modelType);
// Length of an address space; 0 for an inactive one.
constexpr uint64_t AddressSpaceBytes(uint32_t addressSpace) {
    switch (addressSpace) {
    case 0: return kBar0Bytes;
    case 2: return kBar2Bytes;
    case 4: return kBar4Bytes;
    default: return 0;
    }
}
// BAR 0 byte offset of a register index (the sign-extended 2 x index added to 0x8000000); false
// when it falls outside BAR 0.
bool RegisterOffset(int32_t registerIndex, uint64_t *offset);

// The board's own decoding of its front-end registers (see SIM_GetFrontEnd).
bool DecodeFrontEnd(const BoardPort &board, int input, SimFrontEnd *out);

class SimBoard final : public BoardPort {
public:
    SimBoard(int index, uint32_t deviceId);
    ~SimBoard() override;
    SimBoard(const SimBoard &) = delete;
    SimBoard &operator=(const SimBoard &) = delete;

    // BoardPort
    uint32_t DeviceId() const override { return deviceId_; }
    int ModelType() const override { return model_; }
    uint32_t ControlRegister(int32_t registerIndex) const override;
    uint16_t Bar0Word16(uint64_t offset) const override;
    bool FrontEnd(int input, SimFrontEnd *out) const override;
    DmaBufferView LockedBuffer() const override;

    int Index() const { return index_; }
    WD_PCI_SLOT Slot() const;
    uint32_t InterruptNumber() const { return 16u + static_cast<uint32_t>(index_); }
    uint64_t PhysicalAddress(uint32_t addressSpace) const;
    // The card resources the driver-access library reports for this board.
    void FillCard(WD_CARD *card) const;
    void SetInterruptResource(bool present) { interruptResource_.store(present); }
    void SetInterruptType(uint32_t type) { interruptType_.store(type); }
    uint32_t InterruptType() const { return interruptType_.load(); }

    // BAR accesses of width 1, 2 or 4. False (and 0 read) for an inactive space or an access that
    // does not lie wholly inside the space.
    bool ReadBar(uint32_t addressSpace, uint64_t offset, int width, uint32_t *value) const;
    bool WriteBar(uint32_t addressSpace, uint64_t offset, int width, uint32_t value);
    // A waveform update is 8192 point writes: an aligned 16-bit BAR 0 write into the waveform
    // window is stored and announced inline (false, nothing done, for any other write). On a
    // generator board the two waveform memories fill the window, so a point anywhere in it is
    // what the acquisition side's watcher would mark; the output mask lies outside it.
    bool WriteWaveformPoint(uint32_t addressSpace, uint64_t offset, uint16_t value) {
        if (addressSpace != 0 || !waveforms_.ContainsWord(offset)) return false;
        waveforms_.StoreWord(offset, value);
        if (std::atomic<bool> *watch = waveformWatch_.load(std::memory_order_acquire)) {
            watch->store(true, std::memory_order_release);
        }
        return true;
    }
    // A 32-bit read of the configuration space (4 KiB; the standard header in the first 64 bytes).
    bool ReadConfig(uint32_t offset, uint32_t *value) const;
    void SetConfigWord(uint32_t word) { configWord_.store(word); }

    // Locked DMA buffers taken through this board's handles; the newest is the one the DMA
    // dispatcher writes into.
    void AddLockedBuffer(uint64_t serial, const DmaBufferView &view);
    void RemoveLockedBuffer(const uint8_t *base);
    // The newest locked buffer and its lock serial (0 when none).
    uint64_t NewestLockedBuffer(DmaBufferView *view) const;

    // The acquisition side; null once stopped.
    BoardDma *Dma() const { return dma_.get(); }
    // Destroys the acquisition side, which stops the board's own thread.
    void StopDma() {
        waveformWatch_.store(nullptr, std::memory_order_release);
        dma_.reset();
    }

private:
    uint32_t ReadBar0(uint64_t offset, int width) const;
    void WriteBar0(uint64_t offset, int width, uint32_t value);
    uint8_t ConfigByte(uint32_t offset) const;

    const int index_;
    const uint32_t deviceId_;
    const int model_;
    std::atomic<uint32_t> configWord_{kDefaultConfigWord};
    std::atomic<bool> interruptResource_{true};
    std::atomic<uint32_t> interruptType_{kDefaultInterruptType};

    DenseRegion<uint32_t> registers_{kRegisterWindowBase, kRegisterWindowBytes};
    DenseRegion<uint16_t> waveforms_{kWaveformMemoryBase, kWaveformMemoryBytes};
    SparseMemory bar0Rest_;
    SparseMemory bar2Memory_;
    SparseMemory bar4Memory_;

    struct LockedBufferEntry {
        uint64_t serial;
        DmaBufferView view;
    };
    mutable std::mutex buffersMutex_;
    std::vector<LockedBufferEntry> buffers_;

    // Declared last: built once the storage above exists, destroyed first.
    std::unique_ptr<BoardDma> dma_;
    // The acquisition side's waveforms-changed flag on a generator board (null otherwise, and
    // once the acquisition side is stopped).
    std::atomic<std::atomic<bool> *> waveformWatch_{nullptr};
};

}  // namespace ostrel::sim
