// Register access of the front end by role: every access goes through the register window on the
// role's index for the opened board's model.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/register_map.h"

namespace ostrel {

// Index of a role on the current model, or kNoRegister.
int32_t CurrentRegisterIndex(Reg role);

// Reads a role's register. False (value untouched) when the model lacks the register or no board
// is open, so a getter then leaves its caller's variable alone instead of reporting a stale value.
bool ReadRoleRegister(Reg role, uint32_t &value);

// Writes a role's register and returns what WriteMemory32 returned (the engine's last status);
// nullopt, with no access, when the model lacks the register.
std::optional<int32_t> WriteRoleRegister(Reg role, uint32_t value);

}  // namespace ostrel
