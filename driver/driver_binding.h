// Which library stands behind the driver-access contract. The engine links none: the first open
// of the driver library in the process binds one and fills the table of wdc_functions.h from it,
// in this order:
//   1. the simulator, when the program has loaded it already (it links OstrelBoardSim and sets up
//      its boards through SIM_*, as tests and examples do);
//   2. the simulator loaded from beside the engine, when OSTREL_SIMULATE lists device IDs; it then
//      carries exactly those boards;
//   3. the library at the path in OSTREL_DRIVER_LIBRARY;
//   4. the driver-access library under its platform file name, through the system's search path.
// A binding holds for the rest of the process. When none can be made, nothing is bound, the
// reason is kept for the status text, and the next open searches again.
#pragma once

#include <cstdint>

namespace ostrel {

inline constexpr const char *kSimulateVariable = "OSTREL_SIMULATE";
inline constexpr const char *kDriverLibraryVariable = "OSTREL_DRIVER_LIBRARY";
#if defined(_WIN32)
inline constexpr const char *kDriverLibraryName = "wdapi1180.dll";
inline constexpr const char *kSimulatorLibraryName = "OstrelBoardSim.dll";
#elif defined(__APPLE__)
inline constexpr const char *kDriverLibraryName = "libwdapi1180.dylib";
inline constexpr const char *kSimulatorLibraryName = "libOstrelBoardSim.0.dylib";
#else
inline constexpr const char *kDriverLibraryName = "libwdapi1180.so";
inline constexpr const char *kSimulatorLibraryName = "libOstrelBoardSim.so.0";
#endif

// Most boards OSTREL_SIMULATE may list: as many as the simulated bus carries.
inline constexpr int kMaxSimulatedBoards = 64;

// True when a library is bound (now or by an earlier call); false, with the reason in
// DriverBindingProblem(), when none could be. Application thread only.
bool BindDriverLibrary();

bool DriverLibraryBound();
// True when the bound library is the simulator (simulated boards).
bool DriverLibrarySimulated();
// File path of the bound library; empty while none is bound.
const char *DriverLibraryPath();
// Why the last binding failed: the library looked for and how to ask for simulated boards;
// empty when nothing failed.
const char *DriverBindingProblem();

// Reads a list of device IDs as OSTREL_SIMULATE gives it: hexadecimal IDs of boards the engine
// knows, an optional 0x each, separated by commas, blanks allowed around them, 1 to
// kMaxSimulatedBoards of them. On success the IDs go to deviceIds (room for kMaxSimulatedBoards)
// and count; otherwise problem receives a message naming the bad entry, and nothing else changes.
bool ParseSimulatedBoards(const char *text, uint32_t *deviceIds, int &count, char *problem,
                          int problemSize);

}  // namespace ostrel
