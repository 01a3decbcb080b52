// The simulated PCI bus: its boards, the device handles and DMA buffers the driver-access library
// hands out, the driver control device, faults, call counts and the access log. One process-wide
// instance, created on first use and never destroyed (an engine thread may still reach it while
// the process exits).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "platform/sim/sim_board.h"

namespace ostrel::sim {

// Every counted operation of the driver-access library, by the name SIM_GetCallCount takes.
#define OSTREL_SIM_OPERATIONS(X)                                                                   \
    X(WDC_SetDebugOptions) X(WDC_DriverOpen) X(WDC_DriverClose) X(Stat2Str)                        \
    X(WDC_PciScanDevices) X(WDC_PciGetDeviceInfo) X(WDC_PciDeviceOpen) X(WDC_PciDeviceClose)       \
    X(WDC_GetDevContext) X(WDC_AddrSpaceIsActive) X(WDC_ReadAddr8) X(WDC_ReadAddr16)               \
    X(WDC_ReadAddr32) X(WDC_WriteAddr8) X(WDC_WriteAddr16) X(WDC_WriteAddr32) X(WDC_PciReadCfg32)  \
    X(WDC_DMAContigBufLock) X(WDC_DMABufUnlock) X(WDC_IntEnable) X(WDC_IntDisable)                 \
    X(WDC_IntIsEnabled) X(WDC_EventRegister) X(WDC_EventUnregister) X(WDC_EventIsRegistered)       \
    X(WDC_ControlDeviceOpen) X(WDC_ControlDeviceRequest) X(WDC_ControlDeviceClose)

enum class Operation : int {
#define OSTREL_SIM_ENUM(name) name,
    OSTREL_SIM_OPERATIONS(OSTREL_SIM_ENUM)
#undef OSTREL_SIM_ENUM
    Count
};

constexpr int kMaxBoards = 64;
constexpr int kFaultSlots = 16;            // fault numbers 1..15
constexpr size_t kMaxLogEntries = 1 << 20; // later accesses are not logged (32 MiB of entries)

// A device handle: the published record first, so that the handle is its address.
struct SimDevice {
    WDC_DEVICE record{};
    WDC_ADDR_DESC addressSpaces[kAddressSpaceCount]{};
    SimBoard *board = nullptr;
    bool interruptsEnabled = false;
    INT_HANDLER interruptHandler = nullptr;
    void *interruptData = nullptr;
    bool eventsRegistered = false;
    uint32_t eventActions = 0;
    EVENT_HANDLER eventHandler = nullptr;
    void *eventData = nullptr;
};

// A locked contiguous DMA buffer.
struct LockedDma {
    WD_DMA record{};
    SimBoard *board = nullptr;
    uint8_t *memory = nullptr;
    uint32_t firstGranule = 0;
    uint32_t granules = 0;
};

// One interrupt or event delivery, gathered under the lock and run after it is released (the
// handlers call back into the library).
struct InterruptDelivery {
    INT_HANDLER handler;
    void *data;
};
struct EventDelivery {
    EVENT_HANDLER handler;
    void *data;
    WD_EVENT event;
};

class Bus {
public:
    // The instance, with the default boards installed on first use. Every driver-access call
    // comes here, most of them twice: once the defaults are in, one load.
    static Bus &Get() {
        Bus *ready = Ready();
        return ready != nullptr ? *ready : GetInstalling();
    }
    // The instance once the defaults are installed, else null.
    static Bus *Ready() { return ready_.load(std::memory_order_acquire); }

    void Count(Operation operation) {
        calls_[static_cast<int>(operation)].fetch_add(1, std::memory_order_relaxed);
    }
    int CallCount(const char *name) const;

    uint32_t Fault(int fault) const;
    bool SetFault(int fault, uint32_t status);
    bool openFaultKeepsHandle() const { return openFaultKeepsHandle_.load(); }
    void SetOpenFaultKeepsHandle(bool keep) { openFaultKeepsHandle_.store(keep); }

    // Power-on state (see SIM_Reset).
    void Reset();
    // Refused while device handles or DMA buffers are open (they point into the boards).
    bool SetBoards(const uint32_t *deviceIds, int count);
    int BoardCount() const;
    SimBoard *Board(int index) const;
    SimBoard *BoardAtSlot(const WD_PCI_SLOT &slot) const;
    DmaBufferView NewestLockedBuffer() const;

    // Driver library open state.
    void SetDriverOpen(bool open) { driverOpen_.store(open); }
    bool DriverOpen() const { return driverOpen_.load(); }

    // Device handles. Unknown handles (never ours, or closed) give null / false.
    WDC_DEVICE_HANDLE OpenDevice(SimBoard &board, void *context);
    bool CloseDevice(WDC_DEVICE_HANDLE handle);
    SimBoard *BoardOfHandle(WDC_DEVICE_HANDLE handle) const {
        SimBoard *board = nullptr;
        return PublishedBoardOfHandle(handle, &board) ? board : BoardOfHandleLocked(handle);
    }
    // Every BAR access asks for the board of its handle; the published copy answers without a
    // lock (a shared lock is two atomic read-modify-writes per access). True with the board, or
    // null for a handle that is not open; false when only the table itself can tell.
    bool PublishedBoardOfHandle(WDC_DEVICE_HANDLE handle, SimBoard **board) const {
        if (handle == nullptr) return false;  // never published; rare, so let the table say
        for (int attempt = 0; attempt < 4; ++attempt) {
            const uint32_t version = handlesVersion_.load(std::memory_order_acquire);
            if ((version & 1u) != 0) continue;  // being rewritten
            // Acquire loads of the entries: a value from a rewrite in progress brings the odd
            // version along, so the second look at the version sees the change (no fence
            // needed, which ThreadSanitizer could not follow).
            SimBoard *found = nullptr;
            for (int slot = 0; slot < kPublishedHandles; ++slot) {
                if (publishedHandles_[slot].load(std::memory_order_acquire) == handle) {
                    found = publishedBoards_[slot].load(std::memory_order_acquire);
                    break;
                }
            }
            const bool complete = handlesComplete_.load(std::memory_order_acquire);
            if (handlesVersion_.load(std::memory_order_relaxed) != version) continue;
            if (found == nullptr && !complete) return false;  // more open than published
            *board = found;
            return true;
        }
        return false;
    }
    bool ContextOfHandle(WDC_DEVICE_HANDLE handle, void **context) const;
    int DeviceHandleCount() const;

    // Interrupts and events of a handle; statuses as the library returns them.
    uint32_t EnableInterrupts(WDC_DEVICE_HANDLE handle, INT_HANDLER handler, void *data);
    uint32_t DisableInterrupts(WDC_DEVICE_HANDLE handle);
    int InterruptsEnabled(WDC_DEVICE_HANDLE handle) const;
    uint32_t RegisterEvents(WDC_DEVICE_HANDLE handle, uint32_t actions, EVENT_HANDLER handler,
                            void *data);
    uint32_t UnregisterEvents(WDC_DEVICE_HANDLE handle);
    int EventsRegistered(WDC_DEVICE_HANDLE handle) const;
    // Test controls: fire on every handle of the board that listens; the count of deliveries.
    int RaiseInterrupt(int board, uint32_t message, uint32_t lost);
    int RaiseEvent(int board, uint32_t action);

    // DMA buffers.
    uint32_t LockDma(WDC_DEVICE_HANDLE handle, uint32_t options, uint32_t size, WD_DMA **dma);
    uint32_t UnlockDma(WD_DMA *dma);
    int LockedDmaCount() const;

    // Driver control device handles.
    intptr_t OpenControlDevice();
    bool ControlDeviceOpen(intptr_t handle) const;
    bool CloseControlDevice(intptr_t handle);
    int ControlDeviceCount() const;

    // Access log.
    void SetLogEnabled(bool enabled) { logEnabled_.store(enabled, std::memory_order_relaxed); }
    bool LogEnabled() const { return logEnabled_.load(std::memory_order_relaxed); }
    void Log(const SimBoard &board, uint32_t space, uint64_t offset, int width, bool write,
             uint32_t value) {
        if (logEnabled_.load(std::memory_order_relaxed)) {
            Append(board, space, offset, width, write, value);
        }
    }
    int CopyLog(SimAccess *entries, int max) const;
    void ClearLog();

private:
    Bus() = default;
    static Bus &Instance();
    static Bus &GetInstalling();
    SimBoard *BoardOfHandleLocked(WDC_DEVICE_HANDLE handle) const;
    void Append(const SimBoard &board, uint32_t space, uint64_t offset, int width, bool write,
                uint32_t value);
    // Stops every board's DMA side, then installs new boards built from the IDs.
    void ReplaceBoards(const std::vector<uint32_t> &deviceIds);
    void FreeAllDma();
    SimDevice *FindLocked(WDC_DEVICE_HANDLE handle) const;
    // Copies the first open handles and their boards into the published entries; called with
    // handlesMutex_ held uniquely after every change of devices_.
    void PublishHandlesLocked();

    std::once_flag defaultsOnce_;
    static std::atomic<Bus *> ready_;  // the instance once its defaults are installed

    mutable std::shared_mutex boardsMutex_;
    std::vector<std::unique_ptr<SimBoard>> boards_;

    mutable std::shared_mutex handlesMutex_;
    std::unordered_map<const void *, std::unique_ptr<SimDevice>> devices_;
    // The open handles as the access path reads them without a lock: a sequence lock over
    // copies of up to kPublishedHandles entries of devices_ (odd version: being rewritten;
    // handlesComplete_ false: more handles are open than published, look in devices_).
    static constexpr int kPublishedHandles = 8;
    std::atomic<uint32_t> handlesVersion_{0};
    std::atomic<const void *> publishedHandles_[kPublishedHandles]{};
    std::atomic<SimBoard *> publishedBoards_[kPublishedHandles]{};
    std::atomic<bool> handlesComplete_{true};

    mutable std::mutex dmaMutex_;
    std::unordered_map<const WD_DMA *, std::unique_ptr<LockedDma>> locks_;
    std::vector<bool> granuleUsed_;
    uint32_t granuleCursor_ = 0;
    std::atomic<uint64_t> lockSerial_{0};

    mutable std::mutex controlMutex_;
    std::vector<intptr_t> controlHandles_;
    intptr_t nextControlHandle_ = 0x100;

    mutable std::mutex logMutex_;
    std::vector<SimAccess> log_;
    std::atomic<bool> logEnabled_{false};

    std::atomic<uint64_t> calls_[static_cast<int>(Operation::Count)]{};
    std::atomic<uint32_t> faults_[kFaultSlots]{};
    std::atomic<bool> driverOpen_{false};
    std::atomic<bool> openFaultKeepsHandle_{false};
};

// The board list named by OSTREL_SIM_BOARDS (comma-separated hexadecimal device IDs, 1 to 64 of
// them, each 1 to 4 digits with an optional 0x), or one 0xA006 board when it is unset or invalid.
std::vector<uint32_t> DefaultBoardIds();
bool ParseBoardList(const char *text, std::vector<uint32_t> *deviceIds);

}  // namespace ostrel::sim
