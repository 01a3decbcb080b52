// Calibration and measurement exports: thin wrappers over the procedures and the sample
// arithmetic.
#include "OstrelDAQEngine.h"
#include "calibration/calibration_procedures.h"
#include "calibration/signal_measurement.h"
#include "engine/engine_state.h"

using ostrel::g_engine;

extern "C" {

OSTREL_API int32_t DAQ_Calibration_DCOffset(void) noexcept { return ostrel::CalibrateDcOffset(); }

OSTREL_API int32_t DAQ_Calibration_VerticalScale(void) noexcept {
    return ostrel::CalibrateVerticalScale();
}

OSTREL_API int32_t DAQ_SelfCalibrationOnce(void) noexcept { return ostrel::SelfCalibrateOnce(); }

OSTREL_API int32_t DAQ_MeasureSignal(const int16_t *samples, int32_t count, float *peakToPeak,
                                     float *mean, float *rms) noexcept {
    if (samples == nullptr || count < 1 || peakToPeak == nullptr || mean == nullptr ||
        rms == nullptr) {
        return DAQ_ERROR;
    }
    const ostrel::SignalMeasurement result =
        ostrel::MeasureSignal(samples, count, g_engine.model.VoltsPerCode);
    *peakToPeak = result.PeakToPeak;
    *mean = result.Mean;
    *rms = result.Rms;
    return 0;
}

OSTREL_API int32_t DAQ_GetVerticalInfo(float *fullScaleMillivolts, int32_t *adcMaxCode) noexcept {
    if (fullScaleMillivolts == nullptr || adcMaxCode == nullptr) return DAQ_ERROR;
    *fullScaleMillivolts =
        ostrel::FullScaleMillivolts(g_engine.model.AdcMaxCode, g_engine.model.VoltsPerCode);
    *adcMaxCode = static_cast<int32_t>(g_engine.model.AdcMaxCode);
    return 0;
}

}  // extern "C"
