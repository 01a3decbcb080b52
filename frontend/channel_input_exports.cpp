// Channel input exports: gain, attenuation, coupling and termination per lane, and the input
// channel of the single-lane boards. Every change of the first four re-chooses the lane's zero
// offset, because readout subtracts the offset that belongs to the setting in force.
#include "OstrelDAQEngine.h"
#include "calibration/offset_table.h"
#include "engine/engine_state.h"
#include "frontend/front_end_settings.h"

using namespace ostrel;

namespace {

// Single-lane boards keep their settings and offsets per input channel (0..3), and the offset
// choice addresses them by the channel in force; boards with 2 or 4 lanes address their lanes.
constexpr int32_t kInputChannels = 4;

// A lane the open board can address. Anything else is refused before a register is touched: a
// lane-bit register would otherwise take lane 35 for lane 3. With no board open every lane below
// four is let through, as no register is reached then anyway.
bool LaneAddressable(int32_t lane) {
    if (lane < 0 || lane >= kInputChannels) return false;
    const uint32_t lanes = g_engine.model.ADCNumber;
    return lanes <= 1 || static_cast<uint32_t>(lane) < lanes;
}

int32_t SetLaneSettingOf(FrontEndSetting setting, int32_t lane, int32_t value) {
    if (!LaneAddressable(lane)) return DAQ_ERROR;
    return SetLaneSetting(setting, lane, value);
}

int32_t GetLaneSetting(FrontEndSetting setting, int32_t lane, int32_t *value) {
    if (value == nullptr || !LaneAddressable(lane)) return DAQ_ERROR;
    ReadFrontEndSetting(setting, lane, *value);
    return 0;
}

int32_t CopyCount(int32_t count, int32_t *out) {
    if (out == nullptr) return DAQ_ERROR;
    *out = count;
    return 0;
}

}  // namespace

extern "C" {

OSTREL_API int32_t DAQ_SetGain(int32_t lane, int32_t gain) noexcept {
    return SetLaneSettingOf(FrontEndSetting::Gain, lane, gain);
}
OSTREL_API int32_t DAQ_GetGain(int32_t lane, int32_t *gain) noexcept {
    return GetLaneSetting(FrontEndSetting::Gain, lane, gain);
}
OSTREL_API int32_t DAQ_GetGainNumber(int32_t *count) noexcept {
    return CopyCount(g_engine.model.GainNumber, count);
}

OSTREL_API int32_t DAQ_SetAttenuation(int32_t lane, int32_t attenuation) noexcept {
    return SetLaneSettingOf(FrontEndSetting::Attenuation, lane, attenuation);
}
OSTREL_API int32_t DAQ_GetAttenuation(int32_t lane, int32_t *attenuation) noexcept {
    return GetLaneSetting(FrontEndSetting::Attenuation, lane, attenuation);
}
OSTREL_API int32_t DAQ_GetAttenuationNumber(int32_t *count) noexcept {
    return CopyCount(g_engine.model.AttenuationNumber, count);
}

OSTREL_API int32_t DAQ_SetCoupling(int32_t lane, int32_t coupling) noexcept {
    return SetLaneSettingOf(FrontEndSetting::Coupling, lane, coupling);
}
OSTREL_API int32_t DAQ_GetCoupling(int32_t lane, int32_t *coupling) noexcept {
    return GetLaneSetting(FrontEndSetting::Coupling, lane, coupling);
}
OSTREL_API int32_t DAQ_GetCouplingNumber(int32_t *count) noexcept {
    return CopyCount(g_engine.model.CouplingNumber, count);
}

OSTREL_API int32_t DAQ_SetTermination(int32_t lane, int32_t termination) noexcept {
    return SetLaneSettingOf(FrontEndSetting::Termination, lane, termination);
}
OSTREL_API int32_t DAQ_GetTermination(int32_t lane, int32_t *termination) noexcept {
    return GetLaneSetting(FrontEndSetting::Termination, lane, termination);
}
OSTREL_API int32_t DAQ_GetTerminationNumber(int32_t *count) noexcept {
    return CopyCount(g_engine.model.TerminationNumber, count);
}

// The single lane's offset follows a new input channel at the next offset update, not here.
OSTREL_API int32_t DAQ_SetInputChannel(int32_t channel) noexcept {
    WriteFrontEndSetting(FrontEndSetting::InputChannel, 0, channel);
    return 0;
}
OSTREL_API int32_t DAQ_GetInputChannel(int32_t *channel) noexcept {
    return GetLaneSetting(FrontEndSetting::InputChannel, 0, channel);
}

}  // extern "C"
