// The tool's side of simulation: --simulate asks the engine for simulated boards through
// OSTREL_SIMULATE (the tool does not link the simulator, so without --simulate it reaches real
// boards only), and --loopback and --skip-records reach the simulator the engine has loaded.
#pragma once

#include <string>

namespace ostrel_daq {

// Sets OSTREL_SIMULATE for this process to the device IDs (already checked by the caller).
void RequestSimulatedBoards(const std::string &deviceIds);

// SIM_SetLoopback of the simulator the engine bound; -1 when no simulator is loaded.
int SimulatedLoopback(int board, int enabled);

// SIM_SkipRecords of the simulator the engine bound (the board leaves out its next count
// records); -1 when no simulator is loaded.
int SimulatedSkipRecords(int board, int count);

// The library behind the engine for the user ("driver-access library: PATH" or "simulated:
// PATH"), and whether it is the simulator. Empty before the engine has bound one.
std::string DriverLibraryLine(bool *simulated);

// The engine's status text, without its line end.
std::string EngineStatusText();

}  // namespace ostrel_daq
