// Channel frequency: stored as requested and written to the board as the channel's phase step.
#include <cmath>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"
#include "generator/generator_channels.h"
#include "generator/phase_step.h"

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t AWG_SetFrequency(int32_t channel, double frequencyHz) noexcept {
    if (!ostrel::GeneratorChannelUsable(channel)) return DAQ_ERROR;
    if (!std::isfinite(frequencyHz) || frequencyHz < 0.0) return DAQ_ERROR;
    if (!ostrel::ChannelHasGenerator(channel)) {
        // No phase-step registers for this channel: the frequency is only kept.
        g_engine.generator.AwgFrequency[channel] = frequencyHz;
        return 0;
    }
    const ostrel::BoardModelState &model = g_engine.model;
    const auto step = ostrel::awg::PhaseStepOf(frequencyHz, model.AwgClockHz, model.AwgTableLength);
    if (!step) return DAQ_ERROR;
    g_engine.generator.AwgFrequency[channel] = frequencyHz;
    const int32_t integerRegister = channel == 0 ? model.RegAwgStepInt0 : model.RegAwgStepInt1;
    const int32_t fractionRegister = channel == 0 ? model.RegAwgStepFrac0 : model.RegAwgStepFrac1;
    ostrel::WriteControlRegister(integerRegister, step->integerPart);
    ostrel::WriteControlRegister(fractionRegister, step->fraction);
    return 0;
}

OSTREL_API int32_t AWG_GetFrequency(int32_t channel, double *frequencyHz) noexcept {
    if (!ostrel::GeneratorChannelUsable(channel) || frequencyHz == nullptr) return DAQ_ERROR;
    *frequencyHz = g_engine.generator.AwgFrequency[channel];
    return 0;
}

}  // extern "C"
