#include "calibration/front_end_settings.h"

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"

namespace ostrel {

void SaveFrontEndSettings() {
    SavedFrontEndSettings &saved = g_engine.calibration.SavedSettings;
    DAQ_GetInputChannel(&saved.InputChannel);
    const int32_t channel = saved.InputChannel;
    DAQ_GetCoupling(channel, &saved.Coupling);
    DAQ_GetTermination(channel, &saved.Termination);
    DAQ_GetGain(channel, &saved.Gain);
    DAQ_GetAttenuation(channel, &saved.Attenuation);
    saved.RecordLength = g_engine.acquisition.RecordLength;
    saved.RecordNumber = g_engine.acquisition.RecordNumber;
}

void RestoreFrontEndSettings() {
    const SavedFrontEndSettings saved = g_engine.calibration.SavedSettings;
    const int32_t channel = saved.InputChannel;
    DAQ_SetInputChannel(channel);
    DAQ_SetCoupling(channel, saved.Coupling);
    DAQ_SetTermination(channel, saved.Termination);
    DAQ_SetGain(channel, saved.Gain);
    DAQ_SetAttenuation(channel, saved.Attenuation);
    DAQ_ConfigAcquisition(saved.RecordLength, saved.RecordNumber);
}

}  // namespace ostrel
