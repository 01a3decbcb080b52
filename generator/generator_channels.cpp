// Per-channel parameters: waveform type, amplitude, offset, phase and duty cycle, and the design
// and update exports. Every setter stores the parameter for any channel 0..7 and reaches the
// board only for the open board's generator channels.
#include "generator/generator_channels.h"

#include <cmath>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "generator/waveform_design.h"

namespace ostrel {

namespace {
// The two waveform memories a generator board has.
constexpr int32_t kWaveformMemories = 2;
}  // namespace

bool GeneratorChannelUsable(int32_t channel) {
    return g_engine.generator.ChannelStateExists() && channel >= 0 && channel < kAwgChannelSlots;
}

bool ChannelHasGenerator(int32_t channel) {
    return GeneratorChannelUsable(channel) && channel < g_engine.model.AwgChannelCount &&
           channel < kWaveformMemories;
}

void DesignChannel(int32_t channel, int32_t waveformType) {
    GeneratorState &generator = g_engine.generator;
    generator.AwgWaveformType[channel] = waveformType;
    // The host table has room for four channels; the others keep only their stored type.
    if (channel >= kAwgTableChannels) return;
    const int32_t length = generator.TableLength;
    awg::DesignTable(generator.WaveformTable.get() + channel * length, length, waveformType,
                     generator.AwgDutyCycle[channel], generator.AwgMidCode,
                     g_engine.model.AwgMaxCode);
}

}  // namespace ostrel

using ostrel::g_engine;
using ostrel::GeneratorChannelUsable;

namespace {

// Stores a float channel parameter and rewrites the waveform memory; non-finite values are
// refused because no waveform can be computed from them.
int32_t SetAndUpdate(int32_t channel, float value, std::unique_ptr<float[]> &parameter) {
    if (!GeneratorChannelUsable(channel) || !std::isfinite(value)) return DAQ_ERROR;
    parameter[channel] = value;
    ostrel::UpdateChannel(channel);
    return 0;
}

int32_t GetFloat(int32_t channel, float *value, const std::unique_ptr<float[]> &parameter) {
    if (!GeneratorChannelUsable(channel) || value == nullptr) return DAQ_ERROR;
    *value = parameter[channel];
    return 0;
}

}  // namespace

extern "C" {

OSTREL_API int32_t AWG_DesignWaveform(int32_t channel, int32_t waveformType) noexcept {
    if (!GeneratorChannelUsable(channel)) return DAQ_ERROR;
    ostrel::DesignChannel(channel, waveformType);
    return 0;
}

OSTREL_API int32_t AWG_UpdateWaveform(int32_t channel) noexcept {
    if (!GeneratorChannelUsable(channel)) return DAQ_ERROR;
    ostrel::UpdateChannel(channel);
    return 0;
}

OSTREL_API int32_t AWG_SetWaveformType(int32_t channel, int32_t waveformType) noexcept {
    if (!GeneratorChannelUsable(channel)) return DAQ_ERROR;
    ostrel::DesignChannel(channel, waveformType);
    ostrel::UpdateChannel(channel);
    return 0;
}

OSTREL_API int32_t AWG_GetWaveformType(int32_t channel, int32_t *waveformType) noexcept {
    if (!GeneratorChannelUsable(channel) || waveformType == nullptr) return DAQ_ERROR;
    *waveformType = g_engine.generator.AwgWaveformType[channel];
    return 0;
}

OSTREL_API int32_t AWG_SetAmplitude(int32_t channel, float amplitude) noexcept {
    return SetAndUpdate(channel, amplitude, g_engine.generator.AwgAmplitude);
}

OSTREL_API int32_t AWG_GetAmplitude(int32_t channel, float *amplitude) noexcept {
    return GetFloat(channel, amplitude, g_engine.generator.AwgAmplitude);
}

OSTREL_API int32_t AWG_SetOffset(int32_t channel, float offset) noexcept {
    return SetAndUpdate(channel, offset, g_engine.generator.AwgOffset);
}

// Also rewrites the waveform memory with the values in force, as callers of this getter expect.
OSTREL_API int32_t AWG_GetOffset(int32_t channel, float *offset) noexcept {
    if (GetFloat(channel, offset, g_engine.generator.AwgOffset) != 0) return DAQ_ERROR;
    ostrel::UpdateChannel(channel);
    return 0;
}

OSTREL_API int32_t AWG_SetPhase(int32_t channel, float phase) noexcept {
    return SetAndUpdate(channel, phase, g_engine.generator.AwgPhase);
}

// Also rewrites the waveform memory with the values in force, as callers of this getter expect.
OSTREL_API int32_t AWG_GetPhase(int32_t channel, float *phase) noexcept {
    if (GetFloat(channel, phase, g_engine.generator.AwgPhase) != 0) return DAQ_ERROR;
    ostrel::UpdateChannel(channel);
    return 0;
}

OSTREL_API int32_t AWG_SetDutycycle(int32_t channel, float dutyCycle) noexcept {
    if (!GeneratorChannelUsable(channel) || !std::isfinite(dutyCycle)) return DAQ_ERROR;
    g_engine.generator.AwgDutyCycle[channel] = dutyCycle;
    ostrel::DesignChannel(channel, g_engine.generator.AwgWaveformType[channel]);
    ostrel::UpdateChannel(channel);
    return 0;
}

OSTREL_API int32_t AWG_GetDutycycle(int32_t channel, float *dutyCycle) noexcept {
    return GetFloat(channel, dutyCycle, g_engine.generator.AwgDutyCycle);
}

}  // extern "C"
