#include "simulator.h"

#include <cstdint>
#include <cstdlib>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "OstrelDAQEngine.h"

namespace ostrel_daq {

namespace {

// Both controls the tool uses take (board, value) and return 0 or -1.
using BoardControlFunction = int (*)(int board, int value);

#if defined(_WIN32)
BoardControlFunction FindSimulatorControl(const char *name) {
    const HMODULE simulator = GetModuleHandleA("OstrelBoardSim.dll");
    if (simulator == nullptr) return nullptr;
    return reinterpret_cast<BoardControlFunction>(
        reinterpret_cast<void *>(GetProcAddress(simulator, name)));
}
#else
BoardControlFunction FindSimulatorControl(const char *name) {
    // Only a simulator the engine has loaded already; never load one here.
    void *simulator = dlopen("libOstrelBoardSim.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (simulator == nullptr) return nullptr;
    return reinterpret_cast<BoardControlFunction>(dlsym(simulator, name));
}
#endif

}  // namespace

void RequestSimulatedBoards(const std::string &deviceIds) {
#if defined(_WIN32)
    // _putenv also sets the process environment, where the engine reads it.
    const std::string assignment = "OSTREL_SIMULATE=" + deviceIds;
    _putenv(assignment.c_str());
#else
    setenv("OSTREL_SIMULATE", deviceIds.c_str(), 1);
#endif
}

int SimulatedLoopback(int board, int enabled) {
    const BoardControlFunction setLoopback = FindSimulatorControl("SIM_SetLoopback");
    return setLoopback != nullptr ? setLoopback(board, enabled) : -1;
}

int SimulatedSkipRecords(int board, int count) {
    const BoardControlFunction skipRecords = FindSimulatorControl("SIM_SkipRecords");
    return skipRecords != nullptr ? skipRecords(board, count) : -1;
}

std::string DriverLibraryLine(bool *simulated) {
    char path[1024] = {};
    int32_t isSimulated = 0;
    if (DAQ_GetDriverLibrary(path, sizeof path, &isSimulated) != DAQ_OK) {
        if (simulated != nullptr) *simulated = false;
        return {};
    }
    if (simulated != nullptr) *simulated = isSimulated != 0;
    return (isSimulated != 0 ? "simulated: " : "driver-access library: ") + std::string(path);
}

std::string EngineStatusText() {
    char text[2048] = {};
    DAQ_GetStatusText(text, sizeof text);
    std::string status = text;
    while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.pop_back();
    return status;
}

}  // namespace ostrel_daq
