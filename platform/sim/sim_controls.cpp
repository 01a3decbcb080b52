// The SIM_* controls of the bus side: boards, faults, register and BAR views, access log, call and
// resource counts, front end, interrupts and events. None of them counts as an engine access.
#include "OstrelBoardSim.h"
#include "platform/sim/sim_bus.h"

using ostrel::sim::Bus;
using ostrel::sim::SimBoard;

extern "C" {

void SIM_Reset(void) { Bus::Get().Reset(); }

int SIM_SetBoards(const uint32_t *deviceIds, int count) {
    return Bus::Get().SetBoards(deviceIds, count) ? 0 : -1;
}

int SIM_SetConfigWord(int board, uint32_t word) {
    SimBoard *target = Bus::Get().Board(board);
    if (target == nullptr) return -1;
    target->SetConfigWord(word);
    return 0;
}

int SIM_SetFault(int fault, uint32_t status) { return Bus::Get().SetFault(fault, status) ? 0 : -1; }

uint32_t SIM_PeekRegister(int board, int32_t registerIndex) {
    const SimBoard *target = Bus::Get().Board(board);
    return target == nullptr ? 0u : target->ControlRegister(registerIndex);
}

int SIM_PokeRegister(int board, int32_t registerIndex, uint32_t value) {
    SimBoard *target = Bus::Get().Board(board);
    uint64_t offset = 0;
    if (target == nullptr || !ostrel::sim::RegisterOffset(registerIndex, &offset)) return -1;
    return target->WriteBar(0, offset, 4, value) ? 0 : -1;
}

uint32_t SIM_PeekBar(int board, int bar, uint64_t offset, int width) {
    const SimBoard *target = Bus::Get().Board(board);
    if (target == nullptr || bar < 0) return 0;
    uint32_t value = 0;
    target->ReadBar(static_cast<uint32_t>(bar), offset, width, &value);
    return value;
}

void SIM_SetAccessLog(int enabled) { Bus::Get().SetLogEnabled(enabled != 0); }

int SIM_GetAccessLog(SimAccess *entries, int max) { return Bus::Get().CopyLog(entries, max); }

void SIM_ClearAccessLog(void) { Bus::Get().ClearLog(); }

int SIM_GetCallCount(const char *operation) { return Bus::Get().CallCount(operation); }

int SIM_GetResourceCount(int resource) {
    Bus &bus = Bus::Get();
    switch (resource) {
    case SIM_RESOURCE_DRIVER_OPEN: return bus.DriverOpen() ? 1 : 0;
    case SIM_RESOURCE_DEVICE_HANDLES: return bus.DeviceHandleCount();
    case SIM_RESOURCE_DMA_BUFFERS: return bus.LockedDmaCount();
    case SIM_RESOURCE_CONTROL_DEVICE: return bus.ControlDeviceCount();
    default: return -1;
    }
}

int SIM_GetFrontEnd(int board, int input, SimFrontEnd *out) {
    const SimBoard *target = Bus::Get().Board(board);
    if (target == nullptr || out == nullptr) return -1;
    return target->FrontEnd(input, out) ? 0 : -1;
}

int SIM_SetOpenFaultKeepsHandle(int keep) {
    Bus::Get().SetOpenFaultKeepsHandle(keep != 0);
    return 0;
}

int SIM_SetInterruptResource(int board, int present) {
    SimBoard *target = Bus::Get().Board(board);
    if (target == nullptr) return -1;
    target->SetInterruptResource(present != 0);
    return 0;
}

int SIM_SetInterruptType(int board, uint32_t type) {
    SimBoard *target = Bus::Get().Board(board);
    if (target == nullptr) return -1;
    target->SetInterruptType(type);
    return 0;
}

int SIM_RaiseInterrupt(int board, uint32_t message, uint32_t lost) {
    return Bus::Get().RaiseInterrupt(board, message, lost);
}

int SIM_RaiseEvent(int board, uint32_t action) { return Bus::Get().RaiseEvent(board, action); }

}  // extern "C"
