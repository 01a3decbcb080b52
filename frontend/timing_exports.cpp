// Timing and indicator settings: sampling-clock divider and rate table, trigger setting, LED code.
// Each is written to the board unchanged and read back from it.
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "frontend/board_registers.h"
#include "frontend/timing_settings.h"

using namespace ostrel;

namespace {

int32_t ReadRoleInto(Reg role, int32_t *out) {
    if (out == nullptr) return DAQ_ERROR;
    uint32_t value = 0;
    if (ReadRoleRegister(role, value)) *out = static_cast<int32_t>(value);
    return 0;
}

}  // namespace

extern "C" {

OSTREL_API int32_t DAQ_SetSamplingRate(int32_t dividerCode) noexcept {
    return WriteRoleRegister(Reg::ClockDivider, static_cast<uint32_t>(dividerCode)).value_or(0);
}

OSTREL_API int32_t DAQ_GetClockDivider(int32_t *dividerCode) noexcept {
    return ReadRoleInto(Reg::ClockDivider, dividerCode);
}

OSTREL_API int32_t DAQ_GetSamplingRate(uint32_t *dividerCode,
                                       float *megasamplesPerSecond) noexcept {
    if (dividerCode == nullptr || megasamplesPerSecond == nullptr) return DAQ_ERROR;
    // Without the register (no model, nothing open) the caller's code is looked up as it stands.
    uint32_t code = *dividerCode;
    ReadRoleRegister(Reg::ClockDivider, code);
    const float *rate = SamplingRateEntry(code);
    if (rate == nullptr) return DAQ_ERROR;
    *dividerCode = code;
    *megasamplesPerSecond = *rate;
    return 0;
}

OSTREL_API int32_t DAQ_CheckSamplingRates(int32_t tableIndex, float *megasamplesPerSecond,
                                          int32_t *rateCount) noexcept {
    if (megasamplesPerSecond == nullptr || rateCount == nullptr || tableIndex < 0) return DAQ_ERROR;
    const float *rate = SamplingRateEntry(static_cast<uint32_t>(tableIndex));
    if (rate == nullptr) return DAQ_ERROR;
    *megasamplesPerSecond = *rate;
    *rateCount = g_engine.model.SamplingRateCount;
    return 0;
}

OSTREL_API int32_t DAQ_SetTrigger(int32_t triggerSetting) noexcept { return WriteTrigger(triggerSetting); }

OSTREL_API int32_t DAQ_GetTrigger(int32_t *triggerSetting) noexcept {
    return ReadRoleInto(Reg::Trigger, triggerSetting);
}

OSTREL_API int32_t DAQ_SetLEDCode(int32_t indicatorCode) noexcept { return SetIndicator(indicatorCode); }

}  // extern "C"
