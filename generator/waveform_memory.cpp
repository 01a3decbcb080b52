// The channel's designed table, rotated by its phase and scaled by its amplitude and offset,
// written point by point into its waveform memory in BAR 0.
#include <algorithm>
#include <cstring>

#include "engine/engine_state.h"
#include "generator/generator_channels.h"
#include "generator/waveform_design.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel {

namespace {
constexpr uint32_t kWaveformMemoryBar = 0;
constexpr uint64_t kBytesPerPoint = 2;
// Points scaled ahead of their writes, so that the scaling runs as a vector loop.
constexpr int32_t kChunkPoints = 512;
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
    // Still one 16-bit write per point, in ascending order; only the scaling is done a chunk
    // ahead, from the designed points gathered around the wrap of the table.
    uint16_t designed[kChunkPoints];
    uint16_t codes[kChunkPoints];
    int32_t designedPoint = shift;
    for (int32_t first = 0; first < length; first += kChunkPoints) {
        const int32_t count = std::min(kChunkPoints, length - first);
        for (int32_t gathered = 0; gathered < count;) {
            const int32_t run = std::min(count - gathered, length - designedPoint);
            std::memcpy(designed + gathered, table + designedPoint, sizeof(uint16_t) * run);
            gathered += run;
            designedPoint += run;
            if (designedPoint == length) designedPoint = 0;
        }
        awg::ScaledCodes(designed, codes, count, scale, maxCode);
        for (int32_t index = 0; index < count; ++index) {
            const uint64_t point = static_cast<uint64_t>(first + index);
            WDC_WriteAddr16(handle, kWaveformMemoryBar, address + kBytesPerPoint * point,
                            codes[index]);
        }
    }
}

}  // namespace ostrel
