// Faults set with SIM_SetFault, for the parts of the simulator that honour them (the bus side and
// the DMA dispatcher, which reads SIM_FAULT_DMA_STALL).
#pragma once

#include <cstdint>

namespace ostrel::sim {

// The status a fault is set to, or 0 when it is clear or not a known fault.
uint32_t FaultStatus(int fault);

}  // namespace ostrel::sim
