#include "calibration/front_end_settings.h"

#include "calibration/offset_table.h"
#include "engine/engine_state.h"
#include "frontend/front_end_settings.h"

namespace ostrel {

void SaveFrontEndSettings() {
    SavedFrontEndSettings &saved = g_engine.calibration.SavedSettings;
    ReadFrontEndSetting(FrontEndSetting::InputChannel, 0, saved.InputChannel);
    const int32_t channel = saved.InputChannel;
    ReadFrontEndSetting(FrontEndSetting::Coupling, channel, saved.Coupling);
    ReadFrontEndSetting(FrontEndSetting::Termination, channel, saved.Termination);
    ReadFrontEndSetting(FrontEndSetting::Gain, channel, saved.Gain);
    ReadFrontEndSetting(FrontEndSetting::Attenuation, channel, saved.Attenuation);
}

void RestoreFrontEndSettings() {
    const SavedFrontEndSettings saved = g_engine.calibration.SavedSettings;
    const int32_t channel = saved.InputChannel;
    WriteFrontEndSetting(FrontEndSetting::InputChannel, 0, channel);
    SetLaneSetting(FrontEndSetting::Coupling, channel, saved.Coupling);
    SetLaneSetting(FrontEndSetting::Termination, channel, saved.Termination);
    SetLaneSetting(FrontEndSetting::Gain, channel, saved.Gain);
    SetLaneSetting(FrontEndSetting::Attenuation, channel, saved.Attenuation);
}

}  // namespace ostrel
