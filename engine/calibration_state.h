// Offset table, offsets in force and card-data file, and the settings a calibration saves.
#pragma once

#include <cstdint>

namespace ostrel {

constexpr int kOffsetTableEntries = 128;
constexpr int16_t kMidScaleCode = 8192;

// Indices into ChannelOffsets.
constexpr int kSingleLaneOffset = 0;
constexpr int kLaneOffset0 = 1;  // lanes 0..3 at 1..4
constexpr int kChannelOffsetCount = 5;

// Indices into FrontEndReadback.
constexpr int kReadbackInputChannel = 0;
constexpr int kReadbackCoupling = 1;
constexpr int kReadbackTermination = 2;
constexpr int kReadbackGain = 3;
constexpr int kReadbackAttenuation = 4;
constexpr int kReadbackCount = 5;

constexpr int kCardDataFileNameSize = 256;

struct SavedFrontEndSettings {
    int32_t InputChannel = 0;
    int32_t Coupling = 0;
    int32_t Termination = 0;
    int32_t Gain = 0;
    int32_t Attenuation = 0;
};

struct CalibrationState {
    int16_t OffsetTable[kOffsetTableEntries] = {};
    // The device ID of the board whose offsets OffsetTable holds; 0 before the first open.
    uint32_t OffsetTableDeviceID = 0;
    // The single-lane offset, then lanes 0..3; each a table entry plus 8192.
    int16_t ChannelOffsets[kChannelOffsetCount] = {kMidScaleCode, kMidScaleCode, kMidScaleCode,
                                                   kMidScaleCode, kMidScaleCode};
    // The settings last read back from the board to choose an offset; a getter with nothing to
    // report on the model leaves its field as it was.
    int32_t FrontEndReadback[kReadbackCount] = {};
    bool CalibrationActive = false;  // set while the DC-offset calibration runs
    char CardDataFileName[kCardDataFileNameSize] = {};  // chosen by model at each load
    SavedFrontEndSettings SavedSettings;
};

// Zero offsets a model-5 board brings, copied into OffsetTable[0..23] when one is opened: one per
// combination of its 1 lane, 2 couplings, 2 terminations, 3 gains and 2 attenuations.
inline constexpr int16_t BuiltInOffsets[] = {134, 134, 134, 134, 314,  314,  313,  313,
                                             1014, 1016, 1012, 1013, 128, 128, 128, 128,
                                             301, 301, 300, 300, 1006, 1003, 1000, 1000};
static_assert(sizeof BuiltInOffsets / sizeof BuiltInOffsets[0] == 1 * 2 * 2 * 3 * 2,
              "one built-in offset per model-5 combination");

}  // namespace ostrel
