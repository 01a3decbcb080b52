#include "platform/sim/sim_board.h"

#include <cstring>

#include "platform/sim/board_dma_impl.h"

namespace ostrel::sim {
namespace {

struct DeviceModel {
    uint32_t deviceId;
    int modelType;
};

// The board's own idea of what it is. 0xA003 is a known device ID with no model.
constexpr DeviceModel kDeviceModels[] = {
    {0xA001, 5}, {0xA002, 6}, {0xA004, 7}, {0xA005, 8}, {0xA006, 9}, {0xA007, 10}, {0xE001, 7},
};

struct ModelLanes {
    int modelType;
    int lanes;
};

constexpr ModelLanes kModelLanes[] = {{5, 1}, {6, 2}, {7, 1}, {8, 4}, {9, 2}, {10, 1}};

// Physical addresses of the BARs of board b. Every base is distinct and below 4 GiB, which is all
// the engine reads; the 256 MiB windows of neighbouring boards overlap in this plan (a real
// 32-bit host could not place more than a handful of such boards below 4 GiB at all).
constexpr uint64_t kBar0PhysicalBase = 0x80000000;
constexpr uint64_t kBar0PhysicalStride = 0x01000000;
constexpr uint64_t kBar2PhysicalBase = 0xD0000000;
constexpr uint64_t kBar2PhysicalStride = 0x00400000;
constexpr uint64_t kBar4PhysicalBase = 0xF0000000;
constexpr uint64_t kBar4PhysicalStride = 0x00010000;

// Card resource items in the order the library reports them.
constexpr uint32_t kBar0Item = 0;
constexpr uint32_t kBar2Item = 1;
constexpr uint32_t kBar4Item = 2;

constexpr uint32_t kPciBusType = 5;

}  // namespace

int ModelOfDeviceId(uint32_t deviceId) {
    for (const DeviceModel &entry : kDeviceModels) {
        if (entry.deviceId == deviceId) return entry.modelType;
    }
    return -1;
}

int LanesOfModel(int modelType) {
    for (const ModelLanes &entry : kModelLanes) {
        if (entry.modelType == modelType) return entry.lanes;
    }
    return 0;
}

bool RegisterOffset(int32_t registerIndex, uint64_t *offset) {
    const int64_t byteOffset =
        static_cast<int64_t>(kRegisterBase) + 2 * static_cast<int64_t>(registerIndex);
    if (byteOffset < 0 || byteOffset > static_cast<int64_t>(kBar0Bytes) - 4) return false;
    *offset = static_cast<uint64_t>(byteOffset);
    return true;
}

SimBoard::SimBoard(int index, uint32_t deviceId)
    : index_(index), deviceId_(deviceId), model_(ModelOfDeviceId(deviceId)) {
    dma_ = std::make_unique<BoardDma>(*this);
    // The inline point write marks the waveforms changed for any point of the window, which is
    // what the watcher does only where the model's memories cover every point of it.
    const AcquisitionModel *model = AcquisitionModelOf(model_);
    if (model == nullptr || !model->hasGenerator) return;
    for (uint64_t point = kWaveformMemoryBase;
         point < kWaveformMemoryBase + kWaveformMemoryBytes; point += 2) {
        bool covered = false;
        for (uint64_t memory : model->waveformMemory) {
            covered = covered || (point >= memory && point + 2 <= memory + 2ull * kWaveformPoints);
        }
        if (!covered) return;
    }
    waveformWatch_.store(&BoardDma::Impl::Of(*dma_).WaveformsDirtyFlag());
}

SimBoard::~SimBoard() { StopDma(); }

WD_PCI_SLOT SimBoard::Slot() const {
    WD_PCI_SLOT slot{};
    slot.dwBus = static_cast<uint32_t>(index_) + 1;
    slot.dwSlot = 0;
    slot.dwFunction = 0;
    return slot;
}

uint64_t SimBoard::PhysicalAddress(uint32_t addressSpace) const {
    const uint64_t board = static_cast<uint64_t>(index_);
    switch (addressSpace) {
    case 0: return kBar0PhysicalBase + board * kBar0PhysicalStride;
    case 2: return kBar2PhysicalBase + board * kBar2PhysicalStride;
    case 4: return kBar4PhysicalBase + board * kBar4PhysicalStride;
    default: return 0;
    }
}

void SimBoard::FillCard(WD_CARD *card) const {
    std::memset(card, 0, sizeof(*card));
    const uint32_t memorySpaces[] = {0, 2, 4};
    const uint32_t memoryItems[] = {kBar0Item, kBar2Item, kBar4Item};
    for (int space = 0; space < 3; ++space) {
        WD_ITEMS &item = card->Item[memoryItems[space]];
        item.item = ITEM_MEMORY;
        item.I.Mem.pPhysicalAddr = PhysicalAddress(memorySpaces[space]);
        item.I.Mem.qwBytes = AddressSpaceBytes(memorySpaces[space]);
        item.I.Mem.dwBar = memorySpaces[space];
    }
    uint32_t next = 3;
    if (interruptResource_.load()) {
        WD_ITEMS &item = card->Item[next++];
        item.item = ITEM_INTERRUPT;
        item.I.Int.dwInterrupt = InterruptNumber();
        item.I.Int.dwOptions = 0;
    }
    WD_ITEMS &bus = card->Item[next++];
    bus.item = ITEM_BUS;
    bus.I.Bus.dwBusType = kPciBusType;
    bus.I.Bus.dwDomainNum = 0;
    bus.I.Bus.dwBusNum = Slot().dwBus;
    bus.I.Bus.dwSlotFunc = 0;
    card->dwItems = next;
}

uint32_t SimBoard::ReadBar0(uint64_t offset, int width) const {
    if (registers_.Contains(offset, width)) return registers_.Read(offset, width);
    if (waveforms_.Contains(offset, width)) return waveforms_.Read(offset, width);
    bool touchesDense = false;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = offset + static_cast<uint64_t>(byte);
        touchesDense = touchesDense || registers_.ContainsByte(at) || waveforms_.ContainsByte(at);
    }
    if (!touchesDense) return bar0Rest_.Read(offset, width);
    // Straddles a window edge: each byte from where it lives.
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = offset + static_cast<uint64_t>(byte);
        uint32_t part;
        if (registers_.ContainsByte(at)) {
            part = registers_.Read(at, 1);
        } else if (waveforms_.ContainsByte(at)) {
            part = waveforms_.Read(at, 1);
        } else {
            part = bar0Rest_.Read(at, 1);
        }
        value |= part << (8 * byte);
    }
    return value;
}

void SimBoard::WriteBar0(uint64_t offset, int width, uint32_t value) {
    if (registers_.Contains(offset, width)) return registers_.Write(offset, width, value);
    if (waveforms_.Contains(offset, width)) return waveforms_.Write(offset, width, value);
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = offset + static_cast<uint64_t>(byte);
        const uint32_t part = ByteOf(value, byte);
        if (registers_.ContainsByte(at)) {
            registers_.Write(at, 1, part);
        } else if (waveforms_.ContainsByte(at)) {
            waveforms_.Write(at, 1, part);
        } else {
            bar0Rest_.Write(at, 1, part);
        }
    }
}

bool SimBoard::ReadBar(uint32_t addressSpace, uint64_t offset, int width, uint32_t *value) const {
    *value = 0;
    if (width != 1 && width != 2 && width != 4) return false;
    const uint64_t bytes = AddressSpaceBytes(addressSpace);
    if (offset >= bytes || bytes - offset < static_cast<uint64_t>(width)) return false;
    switch (addressSpace) {
    case 0: *value = ReadBar0(offset, width); break;
    case 2:
        if (BoardDma::HandlesBar2(offset) && dma_) {
            *value = dma_->ReadBar2(offset, width);
        } else {
            *value = bar2Memory_.Read(offset, width);
        }
        break;
    default: *value = bar4Memory_.Read(offset, width); break;
    }
    return true;
}

// The waveform window's fast path in WriteBar skips the output-mask watcher.
static_assert(kControlRegisterOrigin - 2 * static_cast<uint64_t>(-kOutputMaskRegister) + 4 <=
                  kWaveformMemoryBase,
              "the output mask register lies outside the waveform memories");

bool SimBoard::WriteBar(uint32_t addressSpace, uint64_t offset, int width, uint32_t value) {
    if (width != 1 && width != 2 && width != 4) return false;
    const uint64_t bytes = AddressSpaceBytes(addressSpace);
    if (offset >= bytes || bytes - offset < static_cast<uint64_t>(width)) return false;
    value &= WidthMask(width);
    switch (addressSpace) {
    case 0:
        if (waveforms_.Contains(offset, width)) {
            waveforms_.Write(offset, width, value);
            if (dma_) BoardDma::Impl::Of(*dma_).WaveformWindowWritten(offset, width);
            break;
        }
        WriteBar0(offset, width, value);
        if (dma_) dma_->Bar0Written(offset, width);  // output mask and waveform memory watchers
        break;
    case 2:
        if (BoardDma::HandlesBar2(offset) && dma_) {
            dma_->WriteBar2(offset, width, value);
        } else {
            bar2Memory_.Write(offset, width, value);
        }
        break;
    default: bar4Memory_.Write(offset, width, value); break;
    }
    return true;
}

uint32_t SimBoard::ControlRegister(int32_t registerIndex) const {
    uint64_t offset = 0;
    if (!RegisterOffset(registerIndex, &offset)) return 0;
    return ReadBar0(offset, 4);
}

uint16_t SimBoard::Bar0Word16(uint64_t offset) const {
    if (offset >= kBar0Bytes - 1) return 0;
    return static_cast<uint16_t>(ReadBar0(offset, 2));
}

bool SimBoard::FrontEnd(int input, SimFrontEnd *out) const {
    return DecodeFrontEnd(*this, input, out);
}

// Configuration header of a single-function endpoint with three 32-bit memory BARs.
uint8_t SimBoard::ConfigByte(uint32_t offset) const {
    const uint32_t word = offset & ~3u;
    uint32_t value = 0;
    switch (word) {
    case 0x00: value = kVendorId | (deviceId_ << 16); break;              // vendor, device
    case 0x04: value = 0x00000006; break;                                 // memory, bus master
    case 0x08: value = configWord_.load(); break;                         // revision, class
    case 0x10: value = static_cast<uint32_t>(PhysicalAddress(0)); break;  // BAR 0
    case 0x18: value = static_cast<uint32_t>(PhysicalAddress(2)); break;  // BAR 2
    case 0x20: value = static_cast<uint32_t>(PhysicalAddress(4)); break;  // BAR 4
    case 0x2C: value = kVendorId | (deviceId_ << 16); break;              // subsystem
    case 0x3C: value = 0x0100u | (InterruptNumber() & 0xFFu); break;      // pin A, line
    default: value = 0; break;
    }
    return static_cast<uint8_t>(ByteOf(value, static_cast<int>(offset & 3u)));
}

bool SimBoard::ReadConfig(uint32_t offset, uint32_t *value) const {
    constexpr uint32_t kConfigBytes = 0x1000;
    *value = 0;
    if (offset > kConfigBytes - 4) return false;
    for (uint32_t byte = 0; byte < 4; ++byte) {
        *value |= static_cast<uint32_t>(ConfigByte(offset + byte)) << (8 * byte);
    }
    return true;
}

void SimBoard::AddLockedBuffer(uint64_t serial, const DmaBufferView &view) {
    std::lock_guard<std::mutex> lock(buffersMutex_);
    buffers_.push_back({serial, view});
}

void SimBoard::RemoveLockedBuffer(const uint8_t *base) {
    std::lock_guard<std::mutex> lock(buffersMutex_);
    for (auto entry = buffers_.begin(); entry != buffers_.end(); ++entry) {
        if (entry->view.base == base) {
            buffers_.erase(entry);
            return;
        }
    }
}

uint64_t SimBoard::NewestLockedBuffer(DmaBufferView *view) const {
    std::lock_guard<std::mutex> lock(buffersMutex_);
    uint64_t newest = 0;
    for (const LockedBufferEntry &entry : buffers_) {
        if (entry.serial > newest) {
            newest = entry.serial;
            *view = entry.view;
        }
    }
    return newest;
}

DmaBufferView SimBoard::LockedBuffer() const {
    DmaBufferView view;
    NewestLockedBuffer(&view);
    return view;
}

}  // namespace ostrel::sim
