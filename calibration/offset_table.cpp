#include "calibration/offset_table.h"

#include <algorithm>
#include <iterator>

#include "engine/engine_state.h"
#include "frontend/front_end_settings.h"

namespace ostrel {
namespace {

// Setting counts above this cannot belong to a board; with them bounded the index arithmetic
// below stays far inside 64 bits whatever the registers hold.
constexpr int64_t kLargestSettingCount = kOffsetTableEntries;
// Once a partial index is this far from the table, no later term can bring it back.
constexpr int64_t kHopelessIndex = int64_t{1} << 40;

// inner + count x outer, or nullopt once the result can no longer land in the table.
std::optional<int64_t> NextIndexLevel(int64_t inner, int64_t count, int64_t outer) {
    if (count < 1 || count > kLargestSettingCount) return std::nullopt;
    const int64_t value = inner + count * outer;
    if (value > kHopelessIndex || value < -kHopelessIndex) return std::nullopt;
    return value;
}

// The steps the open takes on models whose board does not come up in a usable front-end state.
// The input channel is only written; a per-lane setting also re-chooses the lane's offset, as its
// setter export does.
struct InitialInput {
    int32_t modelType;
    FrontEndSetting setting;
    int32_t lane;
    int32_t value;
};

constexpr InitialInput kInitialInputs[] = {
    {5, FrontEndSetting::InputChannel, 0, 0},  // input channel 0
    {5, FrontEndSetting::Gain, 0, 0},          // gain 0
    {6, FrontEndSetting::Gain, 0, 1},          // gain 1 on both lanes
    {6, FrontEndSetting::Gain, 1, 1},
};

}  // namespace

std::optional<int32_t> OffsetIndex(int32_t lane, int32_t coupling, int32_t termination,
                                   int32_t gain, int32_t attenuation) {
    const BoardModelState &model = g_engine.model;
    std::optional<int64_t> index = NextIndexLevel(gain, model.GainNumber, attenuation);
    if (index) index = NextIndexLevel(termination, model.TerminationNumber, *index);
    if (index) index = NextIndexLevel(coupling, model.CouplingNumber, *index);
    if (index) index = NextIndexLevel(lane, static_cast<int64_t>(model.ADCNumber), *index);
    if (!index || *index < 0 || *index >= kOffsetTableEntries) return std::nullopt;
    return static_cast<int32_t>(*index);
}

int16_t OffsetInForce(int16_t tableEntry) {
    return static_cast<int16_t>(static_cast<uint16_t>(tableEntry + kMidScaleCode));
}

int32_t UpdateChannelOffset(int32_t lane) {
    CalibrationState &calibration = g_engine.calibration;
    if (calibration.CalibrationActive) {
        for (int16_t &offset : calibration.ChannelOffsets) offset = kMidScaleCode;
        return 0;
    }
    const uint32_t laneCount = g_engine.model.ADCNumber;
    if (laneCount != 1 && laneCount != 2 && laneCount != 4) return 0;
    // A lane the board does not have has no offset to choose.
    if (laneCount != 1 && (lane < 0 || static_cast<uint32_t>(lane) >= laneCount)) return 0;

    int32_t(&readback)[kReadbackCount] = calibration.FrontEndReadback;
    // A single-lane board's offsets are kept per input channel: the channel takes the lane's place.
    int32_t settingLane = lane;
    if (laneCount == 1) {
        ReadFrontEndSetting(FrontEndSetting::InputChannel, 0, readback[kReadbackInputChannel]);
        settingLane = readback[kReadbackInputChannel];
    }
    ReadFrontEndSetting(FrontEndSetting::Coupling, settingLane, readback[kReadbackCoupling]);
    ReadFrontEndSetting(FrontEndSetting::Termination, settingLane, readback[kReadbackTermination]);
    ReadFrontEndSetting(FrontEndSetting::Gain, settingLane, readback[kReadbackGain]);
    ReadFrontEndSetting(FrontEndSetting::Attenuation, settingLane, readback[kReadbackAttenuation]);

    const int offsetSlot = laneCount == 1 ? kSingleLaneOffset : kLaneOffset0 + lane;
    const std::optional<int32_t> index =
        OffsetIndex(settingLane, readback[kReadbackCoupling], readback[kReadbackTermination],
                    readback[kReadbackGain], readback[kReadbackAttenuation]);
    if (!index) return 0;
    calibration.ChannelOffsets[offsetSlot] = OffsetInForce(calibration.OffsetTable[*index]);
    return 0;
}

void AdoptOffsetTable(uint32_t deviceId) {
    CalibrationState &calibration = g_engine.calibration;
    if (calibration.OffsetTableDeviceID == deviceId) return;
    std::fill(std::begin(calibration.OffsetTable), std::end(calibration.OffsetTable), int16_t{0});
    calibration.OffsetTableDeviceID = deviceId;
}

int32_t SetLaneSetting(FrontEndSetting setting, int32_t lane, int32_t value) {
    const int32_t result = WriteFrontEndSetting(setting, lane, value);
    UpdateChannelOffset(lane);
    return result;
}

int32_t ApplyInitialInputs() {
    LoadCardData();
    for (const InitialInput &step : kInitialInputs) {
        if (step.modelType != g_engine.model.ModelType) continue;
        if (step.setting == FrontEndSetting::InputChannel) {
            WriteFrontEndSetting(step.setting, step.lane, step.value);
        } else {
            SetLaneSetting(step.setting, step.lane, step.value);
        }
    }
    for (uint32_t lane = 0; lane < g_engine.model.ADCNumber; ++lane) {
        UpdateChannelOffset(static_cast<int32_t>(lane));
    }
    return 0;
}

}  // namespace ostrel
