// Offset table, offsets in force and card-data file, and the settings a calibration saves.
#pragma once

#include <cstdint>

namespace ostrel {

constexpr int kOffsetTableEntries = 128;
constexpr int16_t kMidScaleCode = 8192;

// Indices into ChannelOffsets.
constexpr int kSingleLaneOffset = 0;
constexpr int kLaneOffset0 = 1;  // lanes 0..3 at 1..4

struct SavedFrontEndSettings {
    int32_t InputChannel = 0;
    int32_t Coupling = 0;
    int32_t Termination = 0;
    int32_t Gain = 0;
    int32_t Attenuation = 0;
    uint32_t RecordLength = 0;
    uint32_t RecordNumber = 0;
};

struct CalibrationState {
    int16_t OffsetTable[kOffsetTableEntries] = {};
    // The single-lane offset, then lanes 0..3; each a table entry plus 8192.
    int16_t ChannelOffsets[5] = {kMidScaleCode, kMidScaleCode, kMidScaleCode, kMidScaleCode,
                                 kMidScaleCode};
    int32_t FrontEndReadback[5] = {};  // input channel, coupling, termination, gain, attenuation
    bool CalibrationActive = false;
    char CardDataFileName[256] = {};
    SavedFrontEndSettings SavedSettings;
};

// Zero offsets a model-5 board brings, copied into OffsetTable[0..23] when one is opened.
inline constexpr int16_t BuiltInOffsets[24] = {134, 134, 134, 134, 314,  314,  313,  313,
                                               1014, 1016, 1012, 1013, 128, 128, 128, 128,
                                               301, 301, 300, 300, 1006, 1003, 1000, 1000};

}  // namespace ostrel
