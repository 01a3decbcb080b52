// Setting and reading one front-end setting of the opened board through its per-model coding.
#pragma once

#include <cstdint>

#include "frontend/front_end_coding.h"

namespace ostrel {

// Codes the value and places it: whole register (low 16 bits) or the lane's bit (read, modify,
// write back). Returns what WriteMemory32 returned for a whole-register write, else 0.
int32_t WriteFrontEndSetting(FrontEndSetting setting, int32_t lane, int32_t value);

// Reads the register once and decodes it for the lane. Writes value only when the model has the
// register, a board is open and the board's code stands for a setting.
void ReadFrontEndSetting(FrontEndSetting setting, int32_t lane, int32_t &value);

}  // namespace ostrel
