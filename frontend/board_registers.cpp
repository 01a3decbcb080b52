#include "frontend/board_registers.h"

#include "engine/engine_state.h"
#include "engine/register_window.h"

namespace ostrel {

int32_t CurrentRegisterIndex(Reg role) { return RegisterIndexOf(role, g_engine.model.ModelType); }

bool ReadRoleRegister(Reg role, uint32_t &value) {
    const int32_t index = CurrentRegisterIndex(role);
    if (index == kNoRegister || g_engine.discovery.DeviceHandle == nullptr) return false;
    uint32_t word = 0;
    ReadControlRegister(index, &word);
    value = word;
    return true;
}

std::optional<int32_t> WriteRoleRegister(Reg role, uint32_t value) {
    const int32_t index = CurrentRegisterIndex(role);
    if (index == kNoRegister) return std::nullopt;
    return WriteControlRegister(index, value);
}

}  // namespace ostrel
