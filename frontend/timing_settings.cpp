#include "frontend/timing_settings.h"

#include "engine/engine_state.h"
#include "frontend/board_registers.h"

namespace ostrel {

std::optional<int32_t> ReadTrigger() {
    uint32_t value = 0;
    if (!ReadRoleRegister(Reg::Trigger, value)) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t WriteTrigger(int32_t triggerSetting) {
    return WriteRoleRegister(Reg::Trigger, static_cast<uint32_t>(triggerSetting)).value_or(0);
}

int32_t SetIndicator(int32_t indicatorCode) {
    // Model 8 has no indicator register: nothing is written there.
    return WriteRoleRegister(Reg::LedCode, static_cast<uint32_t>(indicatorCode)).value_or(0);
}

const float *SamplingRateEntry(uint32_t dividerCode) {
    if (dividerCode >= static_cast<uint32_t>(kSamplingRateSlots)) return nullptr;
    return &g_engine.model.SamplingRates[dividerCode];
}

float CurrentSamplingRate() {
    uint32_t code = 0;
    if (!ReadRoleRegister(Reg::ClockDivider, code)) return 0.0f;
    const float *rate = SamplingRateEntry(code);
    return rate != nullptr ? *rate : 0.0f;
}

}  // namespace ostrel
