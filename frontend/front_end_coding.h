// How each model places and codes the front-end settings in its registers. One entry per setting
// and model; the setter encodes with it and the getter decodes with the same entry, so the two can
// never drift apart.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/register_map.h"

namespace ostrel {

enum class FrontEndSetting : int { Gain, Attenuation, Coupling, Termination, InputChannel, Count };

enum class RegisterLayout : uint8_t {
    None,           // the model has no such register: setter and getter skip the access
    WholeRegister,  // the register holds one coded value (its low 16 bits are written)
    LaneBit,        // bit n belongs to lane n; the setter changes only the lane's bit
    WholeWriteLaneBitRead,  // the setter writes the whole register, the getter returns the lane's bit
};

struct FrontEndCoding {
    RegisterLayout layout = RegisterLayout::None;
    // Whole register: the code whose low 16 bits are written. Lane bit: 0 or 1 for the lane's bit.
    uint32_t (*encode)(int32_t value) = nullptr;
    // Whole register: the register. Lane bit (either layout): the lane's bit, 0 or 1.
    // nullopt when the board holds a code that stands for no setting.
    std::optional<int32_t> (*decode)(uint32_t code) = nullptr;
};

// The coding of a setting on a model; layout None for models outside 5..10.
const FrontEndCoding &FrontEndCodingOf(FrontEndSetting setting, int32_t modelType);

// The register role a setting lives in.
Reg RegisterOfSetting(FrontEndSetting setting);

// Lane-bit helpers: the shift count is taken modulo 32, so any lane selects a bit of the register.
uint32_t LaneBitMask(int32_t lane);
uint32_t WithLaneBit(uint32_t registerValue, int32_t lane, uint32_t bit);
uint32_t LaneBitOf(uint32_t registerValue, int32_t lane);

}  // namespace ostrel
