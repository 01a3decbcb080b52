// Bringing a board in (check, open) and taking it out again (close), and two small board exports.
// The open runs the set-up steps of every subsystem in a fixed order; the close undoes them.
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "acquisition/dma_buffer.h"
#include "calibration/offset_table.h"
#include "driver/driver_binding.h"
#include "driver/driver_layer.h"
#include "engine/board_model_table.h"
#include "lifecycle/discovery.h"
#include "engine/engine_state.h"
#include "engine/status_text.h"
#include "generator/generator_lifecycle.h"
#include "platform/os/os_services.h"

namespace ostrel {
namespace {

// Configuration space: the revision and class-code word, whose low four bits must read 9.
constexpr uint32_t kRevisionWordOffset = 8;
constexpr uint32_t kRevisionMask = 0xF;
constexpr uint32_t kRequiredRevision = 9;

// The revision word of the open board; 0 when no handle is open (no library call then).
uint32_t ReadRevisionWord(WDC_DEVICE_HANDLE handle) {
    uint32_t word = 0;
    if (handle != nullptr) WDC_PciReadCfg32(handle, kRevisionWordOffset, &word);
    return word;
}

// Opens the driver library and scans the bus, once per open-close cycle. -1 when the library
// cannot be opened (LastStatus then holds its status); otherwise whether the scan found boards.
int32_t OpenLibraryAndScan(bool &found) {
    DiscoveryState &discovery = g_engine.discovery;
    discovery.LastStatus = static_cast<int32_t>(OpenDriverLibrary());
    if (discovery.LastStatus != 0) {
        // The user learns here that no library was found, which one was looked for and how to
        // ask for simulated boards instead.
        if (!DriverLibraryBound()) SetStatusText("%s\n", DriverBindingProblem());
        return DAQ_ERROR;
    }
    // One reference per open-close cycle, which the close gives back: an earlier open that found
    // no board holds it already, and a second one would keep the library open after the close.
    if (discovery.DriverOpenCount > 1u) CloseDriverLibrary();
    found = DeviceFind(kOstrelVendorId, kAnyDeviceId);
    return 0;
}

// A child of fork() inherits a copy of the engine state but none of its parent's threads, and its
// parent still owns the board, the DMA buffer and the driver library. The child starts closed:
// nothing is released (a release would act on the parent's board), nothing waits for the parent's
// thread, and an open in the child scans and opens afresh.
void ForgetInheritedBoard() {
    DiscoveryState &discovery = g_engine.discovery;
    ForgetInheritedAcquisition();
    discovery.DeviceHandle = nullptr;
    discovery.DriverOpenCount = 0;
    discovery.SystemScanned = false;
}

void ForgetInheritedBoardInForkChildren() {
    static const bool installed = [] {
        os::CallInForkChild(ForgetInheritedBoard);
        return true;
    }();
    (void)installed;
}

// Opens the board recorded at ActiveDevice and sets every subsystem up for it.
int32_t OpenActiveBoard(int32_t boardIndex) {
    DiscoveryState &discovery = g_engine.discovery;
    ForgetInheritedBoardInForkChildren();
    if (boardIndex >= 0 && boardIndex < discovery.DeviceCount) discovery.ActiveDevice = boardIndex;
    const int32_t active = discovery.ActiveDevice;  // always a recorded table entry (0..14)

    // A failed device open does not stop the sequence: the revision check below turns it into
    // a refusal.
    discovery.DeviceHandle = DeviceOpen(discovery.DeviceSlots[active]);
    AdoptOffsetTable(discovery.DeviceIDs[active]);
    ApplyBoardModel(discovery.DeviceIDs[active]);
    g_engine.calibration.ChannelOffsets[kSingleLaneOffset] =
        static_cast<int16_t>(g_engine.model.AdcMaxCode / 2u);

    if ((ReadRevisionWord(discovery.DeviceHandle) & kRevisionMask) != kRequiredRevision) {
        return DAQ_ERROR_REVISION;  // the handle stays open; DAQ_CloseDevice releases it
    }
    FillSamplingRates();
    ApplyInitialInputs();
    AwgStartUp();
    discovery.LastStatus = DmaLock(discovery.DeviceHandle);
    return discovery.LastStatus;
}

// Gives back everything the open board holds, in the close's order: the acquisition thread is
// stopped before anything it reads goes away, then the host buffers, the DMA buffer and the
// control device, the generator's channel arrays and the device handle; the record request is
// forgotten so that the next configuration is never skipped. The driver library reference and the
// scan are not touched: they belong to the open-close cycle, not to the board.
void ReleaseOpenBoard() {
    DiscoveryState &discovery = g_engine.discovery;
    DmaTeardown();
    AwgRelease();
    if (discovery.DeviceHandle != nullptr) {
        DeviceClose(discovery.DeviceHandle);
        discovery.DeviceHandle = nullptr;
    }
    g_engine.acquisition.RecordLength = 0;
    g_engine.acquisition.RecordNumber = 0;
}

}  // namespace
}  // namespace ostrel

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t DAQ_CheckSystem(int32_t *boardCount) noexcept {
    if (boardCount == nullptr) return DAQ_ERROR;
    ostrel::DiscoveryState &discovery = g_engine.discovery;
    if (discovery.SystemScanned) return 0;  // scanned once per open-close cycle

    bool found = false;
    if (ostrel::OpenLibraryAndScan(found) != 0) return DAQ_ERROR;
    *boardCount = found ? discovery.DeviceCount : 0;
    discovery.SystemScanned = true;  // also with no board: a following open then refuses
    return 0;
}

OSTREL_API int32_t DAQ_OpenDevice(int32_t boardIndex) noexcept {
    ostrel::DiscoveryState &discovery = g_engine.discovery;
    discovery.LastStatus = 0;
    if (!discovery.SystemScanned) {
        bool found = false;
        if (ostrel::OpenLibraryAndScan(found) != 0) return DAQ_ERROR;
        // Nothing found: the library reference stays held (the close gives it back) and the next
        // open scans again.
        if (!found) return 0;
        discovery.SystemScanned = true;
    }
    if (discovery.DeviceCount == 0) {
        discovery.LastStatus = DAQ_ERROR;
        return discovery.LastStatus;
    }
    // A stream is stopped first (its queue goes with the board); while any other acquisition
    // runs, nothing is touched and the caller stops it first.
    ostrel::AcquisitionState &acquisition = g_engine.acquisition;
    if (acquisition.Stream != nullptr && ostrel::StopAcquisitionThread() != 0) return DAQ_ERROR;
    if (!acquisition.ThreadStopped.load(std::memory_order_acquire)) {
        return discovery.LastStatus;
    }
    // A board still open from an earlier open without a close is released first, so the process
    // never holds two handles, buffers or generator states (each step releases only what exists).
    ostrel::ReleaseOpenBoard();
    acquisition.StreamStarted = false;
    return ostrel::OpenActiveBoard(boardIndex);
}

OSTREL_API int32_t DAQ_CloseDevice(void) noexcept {
    ostrel::DiscoveryState &discovery = g_engine.discovery;
    ostrel::ReleaseOpenBoard();
    g_engine.acquisition.StreamStarted = false;  // a read now refuses: nothing is open
    discovery.LastStatus = static_cast<int32_t>(ostrel::CloseDriverLibrary());
    // The next open scans again; the discovery tables and model parameters stay readable.
    discovery.SystemScanned = false;
    return discovery.LastStatus;
}

OSTREL_API int32_t ReadConfigurationRegister(void) noexcept {
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    if (handle != nullptr) {
        uint32_t word = 0;
        WDC_PciReadCfg32(handle, ostrel::kRevisionWordOffset, &word);
        WDC_PciReadCfg32(handle, ostrel::kRevisionWordOffset, &word);
    }
    return g_engine.discovery.LastStatus;
}

OSTREL_API uint32_t TestFunction(uint32_t x) noexcept { return x * x * x * x; }  // modulo 2^32

}  // extern "C"
