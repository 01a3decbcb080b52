#include "frontend/front_end_settings.h"

#include "frontend/board_registers.h"
#include "engine/engine_state.h"

namespace ostrel {

int32_t WriteFrontEndSetting(FrontEndSetting setting, int32_t lane, int32_t value) {
    const FrontEndCoding &coding = FrontEndCodingOf(setting, g_engine.model.ModelType);
    const Reg role = RegisterOfSetting(setting);
    switch (coding.layout) {
        case RegisterLayout::None:
            return 0;
        case RegisterLayout::WholeRegister:
        case RegisterLayout::WholeWriteLaneBitRead:
            return WriteRoleRegister(role, coding.encode(value) & 0xFFFFu).value_or(0);
        case RegisterLayout::LaneBit: {
            // The lanes share the register: keep the other lanes' bits as the board holds them.
            uint32_t word = 0;
            if (ReadRoleRegister(role, word)) {
                WriteRoleRegister(role, WithLaneBit(word, lane, coding.encode(value)));
            }
            return 0;
        }
    }
    return 0;
}

void ReadFrontEndSetting(FrontEndSetting setting, int32_t lane, int32_t &value) {
    const FrontEndCoding &coding = FrontEndCodingOf(setting, g_engine.model.ModelType);
    if (coding.layout == RegisterLayout::None) return;
    uint32_t word = 0;
    if (!ReadRoleRegister(RegisterOfSetting(setting), word)) return;
    const uint32_t code =
        coding.layout == RegisterLayout::WholeRegister ? word : LaneBitOf(word, lane);
    if (const auto decoded = coding.decode(code)) value = *decoded;
}

}  // namespace ostrel
