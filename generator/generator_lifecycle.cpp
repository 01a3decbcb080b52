// Generator start-up at open and release at close.
#include "generator/generator_lifecycle.h"

#include <new>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/register_window.h"
#include "generator/generator_channels.h"

namespace ostrel {

namespace {

// The board's phase steps right after open: channel 0 at 1536 and channel 1 at 1792 points per
// clock (56.25 MHz and 65.625 MHz with a 300 MHz clock and 8192 points).
constexpr uint32_t kDefaultStepInt0 = 0x600;
constexpr uint32_t kDefaultStepInt1 = 0x700;

// Zeroed heap array; null when the heap refuses.
template <typename Element>
std::unique_ptr<Element[]> ZeroedArray(size_t count) {
    return std::unique_ptr<Element[]>(new (std::nothrow) Element[count]());
}

// DAQ_OK, or DAQ_ERROR when any array could not be had (the others are kept until released).
int32_t AllocateChannelState(GeneratorState &generator, int32_t tableLength) {
    generator.AwgWaveformType = ZeroedArray<int32_t>(kAwgChannelSlots);
    generator.AwgAmplitude = ZeroedArray<float>(kAwgChannelSlots);
    generator.AwgOffset = ZeroedArray<float>(kAwgChannelSlots);
    generator.AwgPhase = ZeroedArray<float>(kAwgChannelSlots);
    generator.AwgDutyCycle = ZeroedArray<float>(kAwgChannelSlots);
    generator.AwgFrequency = ZeroedArray<double>(kAwgChannelSlots);
    generator.AwgMemoryAddress = ZeroedArray<uint64_t>(kAwgChannelSlots);
    generator.WaveformTable =
        ZeroedArray<uint16_t>(static_cast<size_t>(kAwgTableChannels) * tableLength);
    generator.TableLength = tableLength;
    const bool complete = generator.AwgWaveformType && generator.AwgAmplitude &&
                          generator.AwgOffset && generator.AwgPhase && generator.AwgDutyCycle &&
                          generator.AwgFrequency && generator.AwgMemoryAddress &&
                          generator.WaveformTable;
    return complete ? DAQ_OK : DAQ_ERROR;
}

}  // namespace

void AwgStartUp() {
    GeneratorState &generator = g_engine.generator;
    const BoardModelState &model = g_engine.model;
    generator.AwgMidCode = (model.AwgMaxCode - 1) / 2;

    // Arrays of an earlier start-up are normally gone (the open releases an earlier board first);
    // any left would be replaced here, and unique_ptr frees them.
    const int32_t tableLength = model.AwgTableLength > 0 ? model.AwgTableLength : 0;
    if (AllocateChannelState(generator, tableLength) != DAQ_OK) {
        AwgRelease();  // no half-made state: the exports then refuse instead of touching it
        return;
    }
    generator.AwgMemoryAddress[0] = model.WaveformMemory[0];
    generator.AwgMemoryAddress[1] = model.WaveformMemory[1];

    // Every channel starts as a sine with amplitude, offset, phase, duty cycle and frequency 0
    // (the arrays are zeroed), so every point written is the mid code.
    for (int32_t channel = 0; channel < model.AwgChannelCount && channel < kAwgChannelSlots;
         ++channel) {
        DesignChannel(channel, 0);
        UpdateChannel(channel);
    }

    // The phase-step indices are model parameters that a board without a generator keeps from an
    // earlier generator board (or 0); on such a board those indices are other registers (-2030 is
    // the attenuation of model 10), so the default steps go only to a board with a generator.
    if (model.AwgChannelCount > 0) {
        WriteControlRegister(model.RegAwgStepInt0, kDefaultStepInt0);
        WriteControlRegister(model.RegAwgStepFrac0, 0);
        WriteControlRegister(model.RegAwgStepInt1, kDefaultStepInt1);
        WriteControlRegister(model.RegAwgStepFrac1, 0);
    }
    SyncAllChannels();
}

void AwgRelease() {
    // Resetting the owners frees each array once; a second release finds nothing to free.
    GeneratorState &generator = g_engine.generator;
    generator.AwgWaveformType.reset();
    generator.AwgAmplitude.reset();
    generator.AwgOffset.reset();
    generator.AwgPhase.reset();
    generator.AwgDutyCycle.reset();
    generator.AwgFrequency.reset();
    generator.AwgMemoryAddress.reset();
    generator.WaveformTable.reset();
    generator.TableLength = 0;
}

}  // namespace ostrel
