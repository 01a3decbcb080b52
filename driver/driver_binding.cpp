// Binding the driver-access contract to a library at run time: the simulator on request, the
// driver-access library otherwise. Whatever is bound, the engine above the table behaves the same.
#include "driver/driver_binding.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/board_model_table.h"
#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

namespace {

// ---- the table in force before any binding: every operation refuses ----------------------------

constexpr uint32_t kUnbound = WD_WINDRIVER_STATUS_ERROR;

uint32_t UnboundSetDebugOptions(uint32_t, const char *) { return kUnbound; }
uint32_t UnboundDriverOpen(uint32_t, const char *) { return kUnbound; }
uint32_t UnboundDriverClose() { return kUnbound; }
const char *UnboundStatusString(uint32_t) { return "no driver-access library is loaded"; }
uint32_t UnboundPciScanDevices(uint32_t, uint32_t, WDC_PCI_SCAN_RESULT *) { return kUnbound; }
uint32_t UnboundPciGetDeviceInfo(WD_PCI_CARD_INFO *) { return kUnbound; }
uint32_t UnboundPciDeviceOpen(WDC_DEVICE_HANDLE *handle, const WD_PCI_CARD_INFO *, void *, void *,
                              const char *, void *) {
    if (handle != nullptr) *handle = nullptr;
    return kUnbound;
}
uint32_t UnboundPciDeviceClose(WDC_DEVICE_HANDLE) { return kUnbound; }
void *UnboundGetDevContext(WDC_DEVICE_HANDLE) { return nullptr; }
int UnboundAddrSpaceIsActive(WDC_DEVICE_HANDLE, uint32_t) { return 0; }
uint32_t UnboundReadAddr32(WDC_DEVICE_HANDLE, uint32_t, uint64_t, uint32_t *) { return kUnbound; }
uint32_t UnboundWriteAddr8(WDC_DEVICE_HANDLE, uint32_t, uint64_t, uint8_t) { return kUnbound; }
uint32_t UnboundWriteAddr16(WDC_DEVICE_HANDLE, uint32_t, uint64_t, uint16_t) { return kUnbound; }
uint32_t UnboundWriteAddr32(WDC_DEVICE_HANDLE, uint32_t, uint64_t, uint32_t) { return kUnbound; }
uint32_t UnboundPciReadCfg32(WDC_DEVICE_HANDLE, uint32_t, uint32_t *) { return kUnbound; }
uint32_t UnboundDMAContigBufLock(WDC_DEVICE_HANDLE, void **, uint32_t, uint32_t, WD_DMA **) {
    return kUnbound;
}
uint32_t UnboundDMABufUnlock(WD_DMA *) { return kUnbound; }
uint32_t UnboundIntEnable(WDC_DEVICE_HANDLE, void *, uint32_t, uint32_t, INT_HANDLER, void *, int) {
    return kUnbound;
}
uint32_t UnboundIntDisable(WDC_DEVICE_HANDLE) { return kUnbound; }
int UnboundIntIsEnabled(WDC_DEVICE_HANDLE) { return 0; }
uint32_t UnboundEventRegister(WDC_DEVICE_HANDLE, uint32_t, EVENT_HANDLER, void *, int) {
    return kUnbound;
}
uint32_t UnboundEventUnregister(WDC_DEVICE_HANDLE) { return kUnbound; }
int UnboundEventIsRegistered(WDC_DEVICE_HANDLE) { return 0; }

constexpr WdcFunctions kUnboundTable = {
    UnboundSetDebugOptions, UnboundDriverOpen,     UnboundDriverClose,
    UnboundStatusString,    UnboundPciScanDevices, UnboundPciGetDeviceInfo,
    UnboundPciDeviceOpen,   UnboundPciDeviceClose, UnboundGetDevContext,
    UnboundAddrSpaceIsActive, UnboundReadAddr32,   UnboundWriteAddr8,
    UnboundWriteAddr16,     UnboundWriteAddr32,    UnboundPciReadCfg32,
    UnboundDMAContigBufLock, UnboundDMABufUnlock,  UnboundIntEnable,
    UnboundIntDisable,      UnboundIntIsEnabled,   UnboundEventRegister,
    UnboundEventUnregister, UnboundEventIsRegistered,
    nullptr, nullptr, nullptr,  // no control device
};

// ---- the binding ---------------------------------------------------------------------------------

constexpr size_t kPathSize = 1024;
constexpr size_t kProblemSize = 2048;  // the longest message whole: a path, the reason, advice
constexpr size_t kReasonSize = 512;

// Application thread only; the acquisition thread reads nothing here but the published table.
struct Binding {
    WdcFunctions table{};
    bool simulated = false;
    char path[kPathSize] = {};
    char problem[kProblemSize] = {};
};

Binding &TheBinding() {
    static Binding binding;
    return binding;
}

// How a user asks for simulated boards, ending every message of a failed search.
constexpr const char *kHowToSimulate =
    "for simulated boards set OSTREL_SIMULATE to their device IDs (e.g. OSTREL_SIMULATE=A006,A001) "
    "or run ostrel-daq --simulate A006";

template <typename Function>
void Resolve(os::LibraryHandle library, const char *name, Function &slot, const char *&missing) {
    void *symbol = os::LibrarySymbol(library, name);
    if (symbol == nullptr && missing == nullptr) missing = name;
    slot = reinterpret_cast<Function>(symbol);
}

// Fills table from the library; the name of the first operation it lacks goes to missing. The
// control-device operations are taken all three or not at all.
void FillTable(os::LibraryHandle library, WdcFunctions &table, const char *&missing) {
    missing = nullptr;
    Resolve(library, "WDC_SetDebugOptions", table.SetDebugOptions, missing);
    Resolve(library, "WDC_DriverOpen", table.DriverOpen, missing);
    Resolve(library, "WDC_DriverClose", table.DriverClose, missing);
    Resolve(library, "Stat2Str", table.StatusString, missing);
    Resolve(library, "WDC_PciScanDevices", table.PciScanDevices, missing);
    Resolve(library, "WDC_PciGetDeviceInfo", table.PciGetDeviceInfo, missing);
    Resolve(library, "WDC_PciDeviceOpen", table.PciDeviceOpen, missing);
    Resolve(library, "WDC_PciDeviceClose", table.PciDeviceClose, missing);
    Resolve(library, "WDC_GetDevContext", table.GetDevContext, missing);
    Resolve(library, "WDC_AddrSpaceIsActive", table.AddrSpaceIsActive, missing);
    Resolve(library, "WDC_ReadAddr32", table.ReadAddr32, missing);
    Resolve(library, "WDC_WriteAddr8", table.WriteAddr8, missing);
    Resolve(library, "WDC_WriteAddr16", table.WriteAddr16, missing);
    Resolve(library, "WDC_WriteAddr32", table.WriteAddr32, missing);
    Resolve(library, "WDC_PciReadCfg32", table.PciReadCfg32, missing);
    Resolve(library, "WDC_DMAContigBufLock", table.DMAContigBufLock, missing);
    Resolve(library, "WDC_DMABufUnlock", table.DMABufUnlock, missing);
    Resolve(library, "WDC_IntEnable", table.IntEnable, missing);
    Resolve(library, "WDC_IntDisable", table.IntDisable, missing);
    Resolve(library, "WDC_IntIsEnabled", table.IntIsEnabled, missing);
    Resolve(library, "WDC_EventRegister", table.EventRegister, missing);
    Resolve(library, "WDC_EventUnregister", table.EventUnregister, missing);
    Resolve(library, "WDC_EventIsRegistered", table.EventIsRegistered, missing);

    const char *noControlDevice = nullptr;
    Resolve(library, "WDC_ControlDeviceOpen", table.ControlDeviceOpen, noControlDevice);
    Resolve(library, "WDC_ControlDeviceRequest", table.ControlDeviceRequest, noControlDevice);
    Resolve(library, "WDC_ControlDeviceClose", table.ControlDeviceClose, noControlDevice);
    if (noControlDevice != nullptr) {
        table.ControlDeviceOpen = nullptr;
        table.ControlDeviceRequest = nullptr;
        table.ControlDeviceClose = nullptr;
    }
}

// Takes the library as the one behind the contract, or says why it cannot be (describedAs names
// it in that message). The table is published only whole.
bool Adopt(os::LibraryHandle library, bool simulated, const char *describedAs) {
    Binding &binding = TheBinding();
    WdcFunctions table{};
    const char *missing = nullptr;
    FillTable(library, table, missing);
    if (missing != nullptr) {
        std::snprintf(binding.problem, sizeof binding.problem,
                      "%s is not a driver-access library: it has no %s. Point %s at the "
                      "driver-access library; %s.",
                      describedAs, missing, kDriverLibraryVariable, kHowToSimulate);
        return false;
    }
    binding.table = table;
    binding.simulated = simulated;
    if (!os::LibraryPathOf(reinterpret_cast<const void *>(table.DriverOpen), binding.path,
                           sizeof binding.path)) {
        std::snprintf(binding.path, sizeof binding.path, "%s", describedAs);
    }
    binding.problem[0] = '\0';
    g_wdcTable.store(&binding.table, std::memory_order_release);
    return true;
}

// The folder of the engine's own file, with its separator, or empty when the loader cannot say.
void EngineFolder(char *folder, size_t size) {
    os::LibraryPathOf(reinterpret_cast<const void *>(&EngineFolder), folder, size);
    char *cut = nullptr;
    for (char *cursor = folder; *cursor != '\0'; ++cursor) {
        if (*cursor == '/' || *cursor == '\\') cut = cursor;
    }
    if (cut != nullptr) {
        cut[1] = '\0';
    } else {
        folder[0] = '\0';
    }
}

// The simulator with the boards of OSTREL_SIMULATE: from beside the engine, else through the
// search path.
bool BindSimulator(const char *boardList) {
    Binding &binding = TheBinding();
    uint32_t deviceIds[kMaxSimulatedBoards] = {};
    int count = 0;
    if (!ParseSimulatedBoards(boardList, deviceIds, count, binding.problem,
                              static_cast<int>(sizeof binding.problem))) {
        return false;
    }
    char reason[kReasonSize] = {};
    char besideEngine[kPathSize] = {};
    EngineFolder(besideEngine, sizeof besideEngine);
    os::LibraryHandle simulator = nullptr;
    if (besideEngine[0] != '\0') {
        std::strncat(besideEngine, kSimulatorLibraryName,
                     sizeof besideEngine - std::strlen(besideEngine) - 1);
        simulator = os::LoadSharedLibrary(besideEngine, reason, sizeof reason);
    }
    if (simulator == nullptr) {
        simulator = os::LoadSharedLibraryOnOwnPath(kSimulatorLibraryName, reason, sizeof reason);
    }
    if (simulator == nullptr) {
        std::snprintf(binding.problem, sizeof binding.problem,
                      "%s=%s asks for simulated boards, but the simulator %s could not be loaded "
                      "(%s). Install OstrelBoardSim beside OstrelDAQEngine.",
                      kSimulateVariable, boardList, kSimulatorLibraryName, reason);
        return false;
    }
    using SetBoardsFunction = int (*)(const uint32_t *deviceIds, int count);
    const auto setBoards =
        reinterpret_cast<SetBoardsFunction>(os::LibrarySymbol(simulator, "SIM_SetBoards"));
    if (setBoards == nullptr || setBoards(deviceIds, count) != 0) {
        std::snprintf(binding.problem, sizeof binding.problem,
                      "%s=%s: the simulator %s did not take these boards.", kSimulateVariable,
                      boardList, kSimulatorLibraryName);
        return false;
    }
    return Adopt(simulator, true, kSimulatorLibraryName);
}

bool BindNamedLibrary(const char *path) {
    Binding &binding = TheBinding();
    char reason[kReasonSize] = {};
    const os::LibraryHandle library = os::LoadSharedLibrary(path, reason, sizeof reason);
    if (library == nullptr) {
        std::snprintf(binding.problem, sizeof binding.problem,
                      "%s=%s names a driver-access library that could not be loaded (%s). Point it "
                      "at the driver-access library %s, or unset it; %s.",
                      kDriverLibraryVariable, path, reason, kDriverLibraryName, kHowToSimulate);
        return false;
    }
    return Adopt(library, false, path);
}

bool BindPlatformLibrary() {
    Binding &binding = TheBinding();
    char reason[kReasonSize] = {};
    const os::LibraryHandle library =
        os::LoadSharedLibrary(kDriverLibraryName, reason, sizeof reason);
    if (library == nullptr) {
        std::snprintf(binding.problem, sizeof binding.problem,
                      "No driver-access library: %s was not found (%s). Install the board driver "
                      "with its library %s, or give the library's path in %s; %s.",
                      kDriverLibraryName, reason, kDriverLibraryName, kDriverLibraryVariable,
                      kHowToSimulate);
        return false;
    }
    return Adopt(library, false, kDriverLibraryName);
}

bool IsBlank(char character) { return character == ' ' || character == '\t'; }

void KnownDeviceIds(char *text, size_t size) {
    text[0] = '\0';
    for (const BoardModelRow &row : BoardModelRows()) {
        const size_t used = std::strlen(text);
        std::snprintf(text + used, size - used, "%s%04X", used == 0 ? "" : ", ",
                      static_cast<unsigned>(row.DeviceId));
    }
}

}  // namespace

std::atomic<const WdcFunctions *> g_wdcTable{&kUnboundTable};

bool ParseSimulatedBoards(const char *text, uint32_t *deviceIds, int &count, char *problem,
                          int problemSize) {
    if (problem == nullptr || problemSize <= 0) return false;
    const size_t problemBytes = static_cast<size_t>(problemSize);
    if (text == nullptr || deviceIds == nullptr) {
        std::snprintf(problem, problemBytes, "%s: no list of device IDs", kSimulateVariable);
        return false;
    }
    char known[128] = {};
    KnownDeviceIds(known, sizeof known);
    uint32_t parsed[kMaxSimulatedBoards] = {};
    int parsedCount = 0;
    const char *cursor = text;
    for (int entry = 1;; ++entry) {
        while (IsBlank(*cursor)) ++cursor;
        const char *start = cursor;
        while (*cursor != ',' && *cursor != '\0') ++cursor;
        const char *end = cursor;
        while (end > start && IsBlank(end[-1])) --end;
        const int length = static_cast<int>(end - start);

        const char *digits = start;
        if (length > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits += 2;
        uint32_t value = 0;
        bool valid = digits < end && end - digits <= 4;
        for (const char *digit = digits; valid && digit < end; ++digit) {
            const unsigned char character = static_cast<unsigned char>(*digit);
            if (!std::isxdigit(character)) {
                valid = false;
                break;
            }
            const int lower = std::tolower(character);
            value = value * 16u + static_cast<uint32_t>(lower <= '9' ? lower - '0' : lower - 'a' + 10);
        }
        if (!valid || FindBoardModel(value) == nullptr) {
            std::snprintf(problem, problemBytes,
                          "%s=\"%s\": entry %d (\"%.*s\") is not the device ID of a board this "
                          "engine knows (known: %s). Give hexadecimal device IDs separated by "
                          "commas, e.g. %s=A006,A001.",
                          kSimulateVariable, text, entry, length, start, known, kSimulateVariable);
            return false;
        }
        if (parsedCount == kMaxSimulatedBoards) {
            std::snprintf(problem, problemBytes, "%s: at most %d boards can be simulated",
                          kSimulateVariable, kMaxSimulatedBoards);
            return false;
        }
        parsed[parsedCount++] = value;
        if (*cursor == '\0') break;
        ++cursor;  // past the comma
    }
    std::memcpy(deviceIds, parsed, sizeof(uint32_t) * static_cast<size_t>(parsedCount));
    count = parsedCount;
    return true;
}

bool BindDriverLibrary() {
    if (DriverLibraryBound()) return true;

    // A program that has loaded the simulator itself drives it through SIM_* and sets up its own
    // boards; OSTREL_SIMULATE is not read then.
    if (const os::LibraryHandle simulator = os::FindLoadedLibrary(kSimulatorLibraryName)) {
        return Adopt(simulator, true, kSimulatorLibraryName);
    }
    char value[kPathSize] = {};
    for (const char *variable : {kSimulateVariable, kDriverLibraryVariable}) {
        const size_t length = os::EnvironmentValue(variable, value, sizeof value);
        if (length == 0) continue;
        // A value cut short would name another list or another file: refuse it whole.
        if (length >= sizeof value) {
            std::snprintf(TheBinding().problem, kProblemSize,
                          "%s is longer than %zu characters; nothing was loaded.", variable,
                          sizeof value - 1);
            return false;
        }
        return variable == kSimulateVariable ? BindSimulator(value) : BindNamedLibrary(value);
    }
    return BindPlatformLibrary();
}

bool DriverLibraryBound() {
    return g_wdcTable.load(std::memory_order_acquire) != &kUnboundTable;
}

bool DriverLibrarySimulated() { return DriverLibraryBound() && TheBinding().simulated; }

const char *DriverLibraryPath() { return DriverLibraryBound() ? TheBinding().path : ""; }

const char *DriverBindingProblem() { return TheBinding().problem; }

}  // namespace ostrel
