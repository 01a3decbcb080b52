#include "platform/sim/sim_bus.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/sim/sim_faults.h"

namespace ostrel::sim {
namespace {

constexpr const char *kOperationNames[] = {
#define OSTREL_SIM_NAME(name) #name,
    OSTREL_SIM_OPERATIONS(OSTREL_SIM_NAME)
#undef OSTREL_SIM_NAME
};
static_assert(sizeof(kOperationNames) / sizeof(kOperationNames[0]) ==
              static_cast<size_t>(Operation::Count));

constexpr uint32_t kDefaultDeviceId = 0xA006;

// Bus addresses of locked DMA buffers: 16 MiB granules in 0x10000000..0x7FFFFFFF, so every buffer
// lies below 4 GiB (the engine programs only the low half of the translation window) and starts
// on a 16 MiB boundary. Successive locks move on through the range, so a stale address from an
// earlier lock never names the current buffer.
constexpr uint64_t kDmaBusBase = 0x10000000;
constexpr uint64_t kDmaGranuleBytes = 0x01000000;
constexpr uint32_t kDmaGranules = 112;
constexpr uint64_t kMaxDmaBytes = 0x10000000;
constexpr std::align_val_t kDmaAlignment{4096};

}  // namespace

uint32_t FaultStatus(int fault) { return Bus::Get().Fault(fault); }

bool ParseBoardList(const char *text, std::vector<uint32_t> *deviceIds) {
    if (text == nullptr) return false;
    std::vector<uint32_t> parsed;
    const char *cursor = text;
    for (;;) {
        while (*cursor == ' ' || *cursor == '\t') ++cursor;
        if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) cursor += 2;
        uint32_t value = 0;
        int digits = 0;
        while (std::isxdigit(static_cast<unsigned char>(*cursor))) {
            const char digit = static_cast<char>(std::tolower(static_cast<unsigned char>(*cursor)));
            value = value * 16 + static_cast<uint32_t>(digit <= '9' ? digit - '0' : digit - 'a' + 10);
            ++digits;
            ++cursor;
        }
        if (digits == 0 || digits > 4) return false;
        while (*cursor == ' ' || *cursor == '\t') ++cursor;
        parsed.push_back(value);
        if (parsed.size() > static_cast<size_t>(kMaxBoards)) return false;
        if (*cursor == '\0') break;
        if (*cursor != ',') return false;
        ++cursor;
    }
    *deviceIds = parsed;
    return true;
}

std::vector<uint32_t> DefaultBoardIds() {
    std::vector<uint32_t> deviceIds;
    if (ParseBoardList(std::getenv("OSTREL_SIM_BOARDS"), &deviceIds)) return deviceIds;
    return {kDefaultDeviceId};
}

Bus &Bus::Instance() {
    static Bus *instance = new Bus;  // never destroyed: see the header
    return *instance;
}

std::atomic<Bus *> Bus::ready_{nullptr};

Bus &Bus::GetInstalling() {
    Bus &bus = Instance();
    // A board's DMA side, built while the defaults are installed, may ask for the bus again.
    thread_local bool installing = false;
    if (!installing) {
        std::call_once(bus.defaultsOnce_, [&bus] {
            installing = true;
            bus.granuleUsed_.assign(kDmaGranules, false);
            bus.ReplaceBoards(DefaultBoardIds());
            installing = false;
            ready_.store(&bus, std::memory_order_release);
        });
    }
    return bus;
}

int Bus::CallCount(const char *name) const {
    if (name == nullptr) return -1;
    for (int operation = 0; operation < static_cast<int>(Operation::Count); ++operation) {
        if (std::strcmp(kOperationNames[operation], name) == 0) {
            // Saturates instead of wrapping into the -1 of an unknown name.
            const uint64_t calls = calls_[operation].load(std::memory_order_relaxed);
            return calls > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(calls);
        }
    }
    return -1;
}

uint32_t Bus::Fault(int fault) const {
    if (fault <= 0 || fault >= kFaultSlots) return 0;
    return faults_[fault].load(std::memory_order_relaxed);
}

bool Bus::SetFault(int fault, uint32_t status) {
    if (fault < SIM_FAULT_DEBUG_OPTIONS || fault > SIM_FAULT_EVENT_UNREGISTER) return false;
    faults_[fault].store(status, std::memory_order_relaxed);
    return true;
}

// ---- boards ------------------------------------------------------------------------------------

void Bus::ReplaceBoards(const std::vector<uint32_t> &deviceIds) {
    {
        // Join the old boards' own threads first: they may read the board list meanwhile.
        std::shared_lock<std::shared_mutex> lock(boardsMutex_);
        for (const auto &board : boards_) board->StopDma();
    }
    std::vector<std::unique_ptr<SimBoard>> fresh;
    fresh.reserve(deviceIds.size());
    for (size_t index = 0; index < deviceIds.size(); ++index) {
        fresh.push_back(std::make_unique<SimBoard>(static_cast<int>(index), deviceIds[index]));
    }
    {
        std::unique_lock<std::shared_mutex> lock(boardsMutex_);
        boards_.swap(fresh);
    }
    // The old boards go here, outside the lock.
}

bool Bus::SetBoards(const uint32_t *deviceIds, int count) {
    if (count < 0 || count > kMaxBoards || (count > 0 && deviceIds == nullptr)) return false;
    if (DeviceHandleCount() != 0 || LockedDmaCount() != 0) return false;
    ReplaceBoards(std::vector<uint32_t>(deviceIds, deviceIds + count));
    return true;
}

void Bus::Reset() {
    {
        std::unique_lock<std::shared_mutex> lock(handlesMutex_);
        devices_.clear();
        PublishHandlesLocked();
    }
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        controlHandles_.clear();
        nextControlHandle_ = 0x100;
    }
    driverOpen_.store(false);
    {
        std::shared_lock<std::shared_mutex> lock(boardsMutex_);
        for (const auto &board : boards_) board->StopDma();
    }
    FreeAllDma();
    ResetAcquisitionSide();
    for (auto &fault : faults_) fault.store(0);
    openFaultKeepsHandle_.store(false);
    logEnabled_.store(false);
    ClearLog();
    for (auto &count : calls_) count.store(0);
    ReplaceBoards(DefaultBoardIds());
}

int Bus::BoardCount() const {
    std::shared_lock<std::shared_mutex> lock(boardsMutex_);
    return static_cast<int>(boards_.size());
}

SimBoard *Bus::Board(int index) const {
    std::shared_lock<std::shared_mutex> lock(boardsMutex_);
    if (index < 0 || index >= static_cast<int>(boards_.size())) return nullptr;
    return boards_[static_cast<size_t>(index)].get();
}

SimBoard *Bus::BoardAtSlot(const WD_PCI_SLOT &slot) const {
    std::shared_lock<std::shared_mutex> lock(boardsMutex_);
    for (const auto &board : boards_) {
        const WD_PCI_SLOT at = board->Slot();
        if (at.dwBus == slot.dwBus && at.dwSlot == slot.dwSlot &&
            at.dwFunction == slot.dwFunction) {
            return board.get();
        }
    }
    return nullptr;
}

DmaBufferView Bus::NewestLockedBuffer() const {
    std::shared_lock<std::shared_mutex> lock(boardsMutex_);
    DmaBufferView newest;
    uint64_t newestSerial = 0;
    for (const auto &board : boards_) {
        DmaBufferView view;
        const uint64_t serial = board->NewestLockedBuffer(&view);
        if (serial > newestSerial) {
            newestSerial = serial;
            newest = view;
        }
    }
    return newest;
}

// ---- device handles ----------------------------------------------------------------------------

WDC_DEVICE_HANDLE Bus::OpenDevice(SimBoard &board, void *context) {
    auto device = std::make_unique<SimDevice>();
    device->board = &board;
    WDC_DEVICE &record = device->record;
    record.id.dwVendorId = kVendorId;
    record.id.dwDeviceId = board.DeviceId();
    record.slot = board.Slot();
    board.FillCard(&record.cardReg);
    record.dwNumAddrSpaces = kAddressSpaceCount;
    record.pAddrDesc = device->addressSpaces;
    for (uint32_t space = 0; space < kAddressSpaceCount; ++space) {
        WDC_ADDR_DESC &description = device->addressSpaces[space];
        description.dwAddrSpace = space;
        description.fIsMemory = 1;
        description.qwBytes = AddressSpaceBytes(space);
        // An inactive space names the empty item after the last one, never a foreign item.
        description.dwItemIndex = record.cardReg.dwItems;
        for (uint32_t item = 0; item < record.cardReg.dwItems; ++item) {
            const WD_ITEMS &entry = record.cardReg.Item[item];
            if (description.qwBytes != 0 && entry.item == ITEM_MEMORY && entry.I.Mem.dwBar == space) {
                description.dwItemIndex = item;
            }
        }
    }
    record.hKernelPlugIn = 0;
    record.pCtx = context;
    WDC_DEVICE_HANDLE handle = &device->record;
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    devices_.emplace(handle, std::move(device));
    PublishHandlesLocked();
    return handle;
}

SimDevice *Bus::FindLocked(WDC_DEVICE_HANDLE handle) const {
    const auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second.get();
}

bool Bus::CloseDevice(WDC_DEVICE_HANDLE handle) {
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    const bool closed = devices_.erase(handle) != 0;
    PublishHandlesLocked();
    return closed;
}

void Bus::PublishHandlesLocked() {
    // Sequence-lock writer: odd while the entries change, and every entry stored with release
    // semantics, so that a reader who sees a new entry also sees the odd version. Writers are
    // serialised by the unique lock on handlesMutex_.
    const uint32_t version = handlesVersion_.load(std::memory_order_relaxed);
    handlesVersion_.store(version + 1, std::memory_order_relaxed);
    int slot = 0;
    for (const auto &entry : devices_) {
        if (slot == kPublishedHandles) break;
        publishedHandles_[slot].store(entry.first, std::memory_order_release);
        publishedBoards_[slot].store(entry.second->board, std::memory_order_release);
        ++slot;
    }
    for (int rest = slot; rest < kPublishedHandles; ++rest) {
        publishedHandles_[rest].store(nullptr, std::memory_order_release);
        publishedBoards_[rest].store(nullptr, std::memory_order_release);
    }
    handlesComplete_.store(devices_.size() <= static_cast<size_t>(kPublishedHandles),
                           std::memory_order_release);
    handlesVersion_.store(version + 2, std::memory_order_release);
}

SimBoard *Bus::BoardOfHandleLocked(WDC_DEVICE_HANDLE handle) const {
    std::shared_lock<std::shared_mutex> lock(handlesMutex_);
    const SimDevice *device = FindLocked(handle);
    return device == nullptr ? nullptr : device->board;
}

bool Bus::ContextOfHandle(WDC_DEVICE_HANDLE handle, void **context) const {
    std::shared_lock<std::shared_mutex> lock(handlesMutex_);
    const SimDevice *device = FindLocked(handle);
    if (device == nullptr) return false;
    *context = device->record.pCtx;
    return true;
}

int Bus::DeviceHandleCount() const {
    std::shared_lock<std::shared_mutex> lock(handlesMutex_);
    return static_cast<int>(devices_.size());
}

// ---- interrupts and events ---------------------------------------------------------------------

uint32_t Bus::EnableInterrupts(WDC_DEVICE_HANDLE handle, INT_HANDLER handler, void *data) {
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    SimDevice *device = FindLocked(handle);
    if (device == nullptr) return WD_INVALID_HANDLE;
    if (handler == nullptr) return WD_INVALID_PARAMETER;
    if (device->interruptsEnabled) return WD_OPERATION_ALREADY_DONE;
    bool hasInterrupt = false;
    for (uint32_t item = 0; item < device->record.cardReg.dwItems; ++item) {
        hasInterrupt = hasInterrupt || device->record.cardReg.Item[item].item == ITEM_INTERRUPT;
    }
    if (!hasInterrupt) return WD_NO_DEVICE_OBJECT;
    if (const uint32_t status = Fault(SIM_FAULT_INT_ENABLE); status != 0) return status;
    device->interruptsEnabled = true;
    device->interruptHandler = handler;
    device->interruptData = data;
    WD_INTERRUPT_STATE &state = device->record.Int;
    state = WD_INTERRUPT_STATE{};
    state.dwEnabledIntType = device->board->InterruptType();
    return WD_STATUS_SUCCESS;
}

uint32_t Bus::DisableInterrupts(WDC_DEVICE_HANDLE handle) {
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    SimDevice *device = FindLocked(handle);
    if (device == nullptr) return WD_INVALID_HANDLE;
    if (!device->interruptsEnabled) return WD_OPERATION_ALREADY_DONE;
    if (const uint32_t status = Fault(SIM_FAULT_INT_DISABLE); status != 0) return status;
    device->interruptsEnabled = false;
    device->interruptHandler = nullptr;
    device->interruptData = nullptr;
    device->record.Int.fStopped = 1;
    return WD_STATUS_SUCCESS;
}

int Bus::InterruptsEnabled(WDC_DEVICE_HANDLE handle) const {
    std::shared_lock<std::shared_mutex> lock(handlesMutex_);
    const SimDevice *device = FindLocked(handle);
    return device != nullptr && device->interruptsEnabled ? 1 : 0;
}

uint32_t Bus::RegisterEvents(WDC_DEVICE_HANDLE handle, uint32_t actions, EVENT_HANDLER handler,
                             void *data) {
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    SimDevice *device = FindLocked(handle);
    if (device == nullptr) return WD_INVALID_HANDLE;
    if (handler == nullptr) return WD_INVALID_PARAMETER;
    if (device->eventsRegistered) return WD_OPERATION_ALREADY_DONE;
    if (const uint32_t status = Fault(SIM_FAULT_EVENT_REGISTER); status != 0) return status;
    device->eventsRegistered = true;
    device->eventActions = actions;
    device->eventHandler = handler;
    device->eventData = data;
    return WD_STATUS_SUCCESS;
}

uint32_t Bus::UnregisterEvents(WDC_DEVICE_HANDLE handle) {
    std::unique_lock<std::shared_mutex> lock(handlesMutex_);
    SimDevice *device = FindLocked(handle);
    if (device == nullptr) return WD_INVALID_HANDLE;
    if (!device->eventsRegistered) return WD_OPERATION_ALREADY_DONE;
    if (const uint32_t status = Fault(SIM_FAULT_EVENT_UNREGISTER); status != 0) return status;
    device->eventsRegistered = false;
    device->eventActions = 0;
    device->eventHandler = nullptr;
    device->eventData = nullptr;
    return WD_STATUS_SUCCESS;
}

int Bus::EventsRegistered(WDC_DEVICE_HANDLE handle) const {
    std::shared_lock<std::shared_mutex> lock(handlesMutex_);
    const SimDevice *device = FindLocked(handle);
    return device != nullptr && device->eventsRegistered ? 1 : 0;
}

int Bus::RaiseInterrupt(int board, uint32_t message, uint32_t lost) {
    const SimBoard *target = Board(board);
    if (target == nullptr) return -1;
    std::vector<InterruptDelivery> deliveries;
    {
        std::unique_lock<std::shared_mutex> lock(handlesMutex_);
        for (auto &entry : devices_) {
            SimDevice &device = *entry.second;
            if (device.board != target || !device.interruptsEnabled) continue;
            WD_INTERRUPT_STATE &state = device.record.Int;
            state.dwCounter += 1;
            state.dwLost += lost;
            state.dwLastMessage = message;
            deliveries.push_back({device.interruptHandler, device.interruptData});
        }
    }
    for (const InterruptDelivery &delivery : deliveries) delivery.handler(delivery.data);
    return static_cast<int>(deliveries.size());
}

int Bus::RaiseEvent(int board, uint32_t action) {
    const SimBoard *target = Board(board);
    if (target == nullptr) return -1;
    std::vector<EventDelivery> deliveries;
    {
        std::shared_lock<std::shared_mutex> lock(handlesMutex_);
        for (const auto &entry : devices_) {
            const SimDevice &device = *entry.second;
            if (device.board != target || !device.eventsRegistered) continue;
            if ((device.eventActions & action) == 0) continue;
            EventDelivery delivery{device.eventHandler, device.eventData, WD_EVENT{}};
            delivery.event.handle = static_cast<uint32_t>(target->Index()) + 1;
            delivery.event.dwAction = action;
            delivery.event.pciSlot = target->Slot();
            deliveries.push_back(delivery);
        }
    }
    for (EventDelivery &delivery : deliveries) delivery.handler(&delivery.event, delivery.data);
    return static_cast<int>(deliveries.size());
}

// ---- DMA buffers -------------------------------------------------------------------------------

uint32_t Bus::LockDma(WDC_DEVICE_HANDLE handle, uint32_t options, uint32_t size, WD_DMA **dma) {
    SimBoard *board = BoardOfHandle(handle);
    if (board == nullptr) return WD_INVALID_HANDLE;
    if (size == 0) return WD_INVALID_PARAMETER;
    if (size > kMaxDmaBytes) return WD_INSUFFICIENT_RESOURCES;
    const uint32_t granules =
        static_cast<uint32_t>((static_cast<uint64_t>(size) + kDmaGranuleBytes - 1) / kDmaGranuleBytes);

    auto lock = std::make_unique<LockedDma>();
    lock->memory = static_cast<uint8_t *>(::operator new(size, kDmaAlignment, std::nothrow));
    if (lock->memory == nullptr) return WD_INSUFFICIENT_RESOURCES;
    std::memset(lock->memory, 0, size);
    lock->board = board;
    lock->granules = granules;

    std::lock_guard<std::mutex> guard(dmaMutex_);
    // First run of free granules from the cursor on, wrapping once.
    bool placed = false;
    for (uint32_t step = 0; step < kDmaGranules && !placed; ++step) {
        const uint32_t first = (granuleCursor_ + step) % kDmaGranules;
        if (first + granules > kDmaGranules) continue;
        bool free = true;
        for (uint32_t granule = first; granule < first + granules; ++granule) {
            free = free && !granuleUsed_[granule];
        }
        if (!free) continue;
        for (uint32_t granule = first; granule < first + granules; ++granule) {
            granuleUsed_[granule] = true;
        }
        lock->firstGranule = first;
        granuleCursor_ = (first + granules) % kDmaGranules;
        placed = true;
    }
    if (!placed) {
        ::operator delete(lock->memory, kDmaAlignment);
        return WD_INSUFFICIENT_RESOURCES;
    }
    const uint64_t busAddress = kDmaBusBase + lock->firstGranule * kDmaGranuleBytes;
    WD_DMA &record = lock->record;
    record.pUserAddr = lock->memory;
    record.dwBytes = size;
    record.dwOptions = options;
    record.dwPages = 1;
    record.Page[0].pPhysicalAddr = busAddress;
    record.Page[0].dwBytes = size;
    const uint64_t serial = lockSerial_.fetch_add(1) + 1;
    record.hDma = serial;
    board->AddLockedBuffer(serial, DmaBufferView{lock->memory, busAddress, size});
    *dma = &lock->record;
    locks_.emplace(&lock->record, std::move(lock));
    return WD_STATUS_SUCCESS;
}

uint32_t Bus::UnlockDma(WD_DMA *dma) {
    std::unique_ptr<LockedDma> lock;
    {
        std::lock_guard<std::mutex> guard(dmaMutex_);
        const auto found = locks_.find(dma);
        if (found == locks_.end()) return WD_INVALID_HANDLE;
        lock = std::move(found->second);
        locks_.erase(found);
        for (uint32_t granule = 0; granule < lock->granules; ++granule) {
            granuleUsed_[lock->firstGranule + granule] = false;
        }
    }
    // The board forgets the buffer first (no new batch can find it), then the dispatcher stops
    // writing, and only then does the memory go.
    lock->board->RemoveLockedBuffer(lock->memory);
    if (BoardDma *boardDma = lock->board->Dma()) boardDma->BufferUnlocking();
    ::operator delete(lock->memory, kDmaAlignment);
    return WD_STATUS_SUCCESS;
}

void Bus::FreeAllDma() {
    std::lock_guard<std::mutex> guard(dmaMutex_);
    for (auto &entry : locks_) {
        entry.second->board->RemoveLockedBuffer(entry.second->memory);
        ::operator delete(entry.second->memory, kDmaAlignment);
    }
    locks_.clear();
    granuleUsed_.assign(kDmaGranules, false);
    granuleCursor_ = 0;
    lockSerial_.store(0);
}

int Bus::LockedDmaCount() const {
    std::lock_guard<std::mutex> guard(dmaMutex_);
    return static_cast<int>(locks_.size());
}

// ---- driver control device ---------------------------------------------------------------------

intptr_t Bus::OpenControlDevice() {
    std::lock_guard<std::mutex> guard(controlMutex_);
    const intptr_t handle = nextControlHandle_++;
    controlHandles_.push_back(handle);
    return handle;
}

bool Bus::ControlDeviceOpen(intptr_t handle) const {
    std::lock_guard<std::mutex> guard(controlMutex_);
    for (const intptr_t open : controlHandles_) {
        if (open == handle) return true;
    }
    return false;
}

bool Bus::CloseControlDevice(intptr_t handle) {
    std::lock_guard<std::mutex> guard(controlMutex_);
    for (auto open = controlHandles_.begin(); open != controlHandles_.end(); ++open) {
        if (*open == handle) {
            controlHandles_.erase(open);
            return true;
        }
    }
    return false;
}

int Bus::ControlDeviceCount() const {
    std::lock_guard<std::mutex> guard(controlMutex_);
    return static_cast<int>(controlHandles_.size());
}

// ---- access log --------------------------------------------------------------------------------

void Bus::Append(const SimBoard &board, uint32_t space, uint64_t offset, int width, bool write,
                 uint32_t value) {
    std::lock_guard<std::mutex> guard(logMutex_);
    if (log_.size() >= kMaxLogEntries) return;
    SimAccess access{};
    access.board = static_cast<uint32_t>(board.Index());
    access.space = space;
    access.offset = offset;
    access.width = static_cast<uint32_t>(width);
    access.write = write ? 1u : 0u;
    access.value = value;
    log_.push_back(access);
}

int Bus::CopyLog(SimAccess *entries, int max) const {
    if (max < 0 || (max > 0 && entries == nullptr)) return -1;
    std::lock_guard<std::mutex> guard(logMutex_);
    const size_t count = log_.size() < static_cast<size_t>(max) ? log_.size()
                                                                 : static_cast<size_t>(max);
    for (size_t entry = 0; entry < count; ++entry) entries[entry] = log_[entry];
    return static_cast<int>(count);
}

void Bus::ClearLog() {
    std::lock_guard<std::mutex> guard(logMutex_);
    log_.clear();
    log_.shrink_to_fit();
}

// ---- the seam to the acquisition side ----------------------------------------------------------

BoardDma *DmaOfBoard(int board) {
    SimBoard *target = Bus::Get().Board(board);
    return target == nullptr ? nullptr : target->Dma();
}

BoardPort *PortOfBoard(int board) { return Bus::Get().Board(board); }

int BoardCount() { return Bus::Get().BoardCount(); }

DmaBufferView OpenDeviceBuffer() { return Bus::Get().NewestLockedBuffer(); }

}  // namespace ostrel::sim
