// Output control: synchronisation of all channels, output enable per channel, channel count.
// Both controls live in one register, the output mask: bit c holds channel c off while set.
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"
#include "engine/register_map.h"
#include "generator/generator_channels.h"
#include "platform/os/os_services.h"

namespace ostrel {

namespace {
constexpr uint32_t kSyncHoldMilliseconds = 1;
constexpr int32_t kMaskBits = 32;
}  // namespace

int32_t SyncAllChannels() {
    if (!g_engine.generator.ChannelStateExists() || g_engine.discovery.DeviceHandle == nullptr) {
        return DAQ_ERROR;
    }
    uint32_t channelBits = 0;
    for (int32_t channel = 0; channel < g_engine.model.AwgChannelCount && channel < kMaskBits;
         ++channel) {
        channelBits |= 1u << channel;
    }
    // The whole register is written: holding and releasing together restarts every channel at
    // the same instant, and also lets play any channel that was held off.
    uint32_t mask = channelBits;
    WriteControlRegister(kAwgOutputMaskIndex, mask);
    os::SleepMilliseconds(kSyncHoldMilliseconds);
    mask &= ~channelBits;
    WriteControlRegister(kAwgOutputMaskIndex, mask);
    return DAQ_OK;
}

}  // namespace ostrel

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t AWG_SyncAllChannels(void) noexcept { return ostrel::SyncAllChannels(); }

OSTREL_API int32_t AWG_EnableOutput(int32_t channel, uint8_t enable) noexcept {
    // Only a generator channel of the open board has an output bit to change.
    if (!ostrel::ChannelHasGenerator(channel) || g_engine.discovery.DeviceHandle == nullptr) {
        return DAQ_ERROR;
    }
    uint32_t commandWord = 0;
    ostrel::ReadControlRegister(ostrel::kAwgOutputMaskIndex, &commandWord);
    const uint32_t channelBit = 1u << (static_cast<uint32_t>(channel) % 32u);
    if (enable != 0) {
        commandWord &= ~channelBit;
    } else {
        commandWord |= channelBit;
    }
    ostrel::WriteControlRegister(ostrel::kAwgOutputMaskIndex, commandWord);
    return 0;
}

// The count of the model parameters in force, readable with or without channel state.
OSTREL_API int32_t AWG_GetnelNum(int32_t *channelCount) noexcept {
    if (channelCount == nullptr) return DAQ_ERROR;
    *channelCount = g_engine.model.AwgChannelCount;
    return 0;
}

}  // extern "C"
