// The channel's designed table, rotated by its phase and scaled by its amplitude and offset,
// written point by point into its waveform memory in BAR 0.
#include "engine/engine_state.h"
#include "generator/generator_channels.h"
#include "generator/waveform_design.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

namespace {
constexpr uint32_t kWaveformMemoryBar = 0;
constexpr uint64_t kBytesPerPoint = 2;
}  // namespace

void UpdateChannel(int32_t channel) {
    const GeneratorState &generator = g_engine.generator;
    const WDC_DEVICE_HANDLE handle = g_engine.discovery.DeviceHandle;
    if (!ChannelHasGenerator(channel) || handle == nullptr) return;

    const int32_t length = generator.TableLength;
    const int32_t maxCode = g_engine.model.AwgMaxCode;
    const uint16_t *table = generator.WaveformTable.get() + channel * length;
    const int32_t shift = awg::PhaseShiftPoints(length, generator.AwgPhase[channel]);
    const awg::CodeScale scale =
        awg::ScaleOf(generator.AwgAmplitude[channel], generator.AwgOffset[channel],
                     generator.AwgMidCode);
    const uint64_t address = generator.AwgMemoryAddress[channel];

    // Output point k plays designed point k + shift: a positive phase advances the waveform.
    int32_t designedPoint = shift;
    for (int32_t point = 0; point < length; ++point) {
        const uint16_t code = awg::ScaledCode(table[designedPoint], scale, maxCode);
        WDC_WriteAddr16(handle, kWaveformMemoryBar,
                        address + kBytesPerPoint * static_cast<uint64_t>(point), code);
        if (++designedPoint == length) designedPoint = 0;
    }
}

}  // namespace ostrel
