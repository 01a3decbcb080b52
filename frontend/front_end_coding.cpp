#include "frontend/front_end_coding.h"

#include <array>
#include <iterator>

namespace ostrel {
namespace {

constexpr uint32_t LowHalf(int32_t value) { return static_cast<uint32_t>(value) & 0xFFFFu; }

// The value as it stands; the board keeps it (low 16 bits) and returns it.
uint32_t PlainCode(int32_t value) { return LowHalf(value); }
std::optional<int32_t> AsValue(uint32_t code) { return static_cast<int32_t>(code); }

// Gain codes of the single-lane boards (models 5 and 10): gains 0, 1, 2 are codes 3, 2, 4; any
// other value goes to the board as it is and reads back as nothing.
constexpr uint32_t kGainCodes[] = {3, 2, 4};
static_assert(std::size(kGainCodes) == 3, "one code per gain 0, 1, 2");
uint32_t GainCode(int32_t gain) {
    if (gain >= 0 && gain < 3) return kGainCodes[gain];
    return LowHalf(gain);
}
std::optional<int32_t> GainFromCode(uint32_t code) {
    for (int32_t gain = 0; gain < 3; ++gain) {
        if (kGainCodes[gain] == code) return gain;
    }
    return std::nullopt;
}

// Model 6 keeps one gain bit per lane, set for gain 0 and clear for gain 1.
uint32_t InvertedGainBit(int32_t gain) {
    if (gain == 0) return 1;
    if (gain == 1) return 0;
    return LowHalf(gain) != 0 ? 1 : 0;
}
std::optional<int32_t> GainFromInvertedBit(uint32_t bit) { return bit != 0 ? 0 : 1; }

// Lane bits of the other settings: set for any non-zero value. The gain of model 8 is tested on
// its low 16 bits only, coupling and termination on the whole value.
uint32_t BitFromLowHalf(int32_t value) { return LowHalf(value) != 0 ? 1 : 0; }
uint32_t BitFromValue(int32_t value) { return value != 0 ? 1 : 0; }

// Model 5 selects input channels 0..3 by their number; anything else selects channel 0.
uint32_t ChannelOrFirst(int32_t channel) {
    return channel >= 0 && channel <= 3 ? static_cast<uint32_t>(channel) : 0;
}

// Model 10 codes its input channels 0, 1, 2, 3 as 3, 2, 0, 1; anything else selects channel 0.
constexpr uint32_t kChannelCodes[] = {3, 2, 0, 1};
static_assert(std::size(kChannelCodes) == 4, "one code per input channel 0..3");
uint32_t ChannelCode(int32_t channel) {
    return channel >= 0 && channel <= 3 ? kChannelCodes[channel] : kChannelCodes[0];
}
std::optional<int32_t> ChannelFromCode(uint32_t code) {
    for (int32_t channel = 0; channel < 4; ++channel) {
        if (kChannelCodes[channel] == code) return channel;
    }
    return std::nullopt;
}

using L = RegisterLayout;
constexpr FrontEndCoding kNone{};
constexpr FrontEndCoding kWholePlain{L::WholeRegister, PlainCode, AsValue};
constexpr FrontEndCoding kWholeGain{L::WholeRegister, GainCode, GainFromCode};
constexpr FrontEndCoding kLaneBitInvertedGain{L::LaneBit, InvertedGainBit, GainFromInvertedBit};
constexpr FrontEndCoding kLaneBitLowHalf{L::LaneBit, BitFromLowHalf, AsValue};
constexpr FrontEndCoding kLaneBitValue{L::LaneBit, BitFromValue, AsValue};
constexpr FrontEndCoding kWholeWriteLaneBitRead{L::WholeWriteLaneBitRead, PlainCode, AsValue};
constexpr FrontEndCoding kWholeChannel{L::WholeRegister, ChannelOrFirst, AsValue};
constexpr FrontEndCoding kWholeChannelCode{L::WholeRegister, ChannelCode, ChannelFromCode};

constexpr int kModels = kModelCount;
constexpr int kSettings = static_cast<int>(FrontEndSetting::Count);

using ModelCodings = std::array<FrontEndCoding, kModels>;

// One setting's row with every model named: a missing model does not compile, where a plain
// array would quietly give it no register.
template <typename... Coding>
constexpr ModelCodings PerModel(const Coding &...coding) {
    static_assert(sizeof...(Coding) == kModels, "one coding per model 5..10");
    return ModelCodings{coding...};
}

// Rows: settings in FrontEndSetting order. Columns: models 5..10.
constexpr ModelCodings kCodings[] = {
    //       model 5      6                     7            8                9                        10
    PerModel(kWholeGain, kLaneBitInvertedGain, kWholePlain, kLaneBitLowHalf, kWholeWriteLaneBitRead, kWholeGain),  // gain
    PerModel(kWholePlain, kNone, kNone, kNone, kNone, kWholePlain),                                                // attenuation
    PerModel(kWholePlain, kLaneBitValue, kWholePlain, kLaneBitValue, kWholeWriteLaneBitRead, kWholePlain),         // coupling
    PerModel(kWholePlain, kLaneBitValue, kWholePlain, kLaneBitValue, kWholeWriteLaneBitRead, kWholePlain),         // termination
    PerModel(kWholeChannel, kNone, kNone, kNone, kNone, kWholeChannelCode),                                        // input channel
};
static_assert(std::size(kCodings) == kSettings, "one row per front-end setting");

constexpr Reg kSettingRegisters[] = {Reg::Gain, Reg::Attenuation, Reg::Coupling, Reg::Termination,
                                     Reg::InputChannel};
static_assert(std::size(kSettingRegisters) == kSettings, "one register per front-end setting");

}  // namespace

const FrontEndCoding &FrontEndCodingOf(FrontEndSetting setting, int32_t modelType) {
    const int row = static_cast<int>(setting);
    if (row < 0 || row >= kSettings) return kNone;
    if (modelType < kFirstModel || modelType > kLastModel) return kNone;
    return kCodings[row][modelType - kFirstModel];
}

Reg RegisterOfSetting(FrontEndSetting setting) {
    const int row = static_cast<int>(setting);
    if (row < 0 || row >= kSettings) return Reg::Count;
    return kSettingRegisters[row];
}

uint32_t LaneBitMask(int32_t lane) { return 1u << (static_cast<uint32_t>(lane) & 31u); }

uint32_t WithLaneBit(uint32_t registerValue, int32_t lane, uint32_t bit) {
    return bit != 0 ? (registerValue | LaneBitMask(lane)) : (registerValue & ~LaneBitMask(lane));
}

uint32_t LaneBitOf(uint32_t registerValue, int32_t lane) {
    return (registerValue & LaneBitMask(lane)) != 0 ? 1u : 0u;
}

}  // namespace ostrel
