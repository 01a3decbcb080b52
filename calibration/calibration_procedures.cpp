#include "calibration/calibration_procedures.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "acquisition/acquisition_setup.h"
#include "acquisition/acquisition_thread.h"
#include "calibration/card_data.h"
#include "calibration/delay_seconds.h"
#include "calibration/frame_wait.h"
#include "calibration/front_end_settings.h"
#include "calibration/offset_table.h"
#include "calibration/signal_measurement.h"
#include "engine/engine_state.h"
#include "engine/register_map.h"
#include "frontend/front_end_settings.h"
#include "frontend/timing_settings.h"

namespace ostrel {
namespace {

constexpr int32_t kAcquiringIndicator = 1;  // indicator code of a board that acquires
constexpr int32_t kCardDataNotSaved = -2;   // offsets measured and in force, file not written

// A board that a calibration can run on: open, its DMA buffer locked, a recognised model with a
// lane count the readout splits. Nothing is touched when this does not hold, so no acquisition
// is ever started without buffers.
bool CalibrationPossible() {
    const BoardModelState &model = g_engine.model;
    if (g_engine.discovery.DeviceHandle == nullptr) return false;
    if (!g_engine.acquisition.DmaBufferLocked) return false;
    if (model.ModelType < kFirstModel || model.ModelType > kLastModel) return false;
    if (model.ADCNumber != 1 && model.ADCNumber != 2 && model.ADCNumber != 4) return false;
    return model.MaxRecordLength > 0;
}

// Samples per lane of a calibration frame: the readout writes record length x record count.
std::size_t CalibrationSamplesPerLane() {
    return static_cast<std::size_t>(g_engine.model.MaxRecordLength) * kCalibrationRecords;
}

// Stops the acquisition as DAQ_StopAcquisition does: the thread, then indicator code 0.
void StopAcquisition() {
    StopAcquisitionThread();
    SetIndicator(0);
}

// The caller's acquisition geometry, put back however a calibration ends. The caller's lane
// buffers are sized for it: a readout after a calibration must fill exactly them, not the
// calibration's longer frames. The acquisition stays stopped. A caller who had configured nothing
// gets nothing configured back, so a readout then copies nothing.
class CallerGeometry {
public:
    CallerGeometry()
        : recordLength_(g_engine.acquisition.RecordLength),
          recordNumber_(g_engine.acquisition.RecordNumber) {}
    CallerGeometry(const CallerGeometry &) = delete;
    CallerGeometry &operator=(const CallerGeometry &) = delete;
    ~CallerGeometry() {
        AcquisitionState &acquisition = g_engine.acquisition;
        if (recordLength_ != 0 && ConfigureAcquisition(recordLength_, recordNumber_) == 0) return;
        // Nothing to put back, or the set-up for it failed: no host buffers stay, so the readout
        // copies nothing, and the next configuration of the caller's request is never skipped.
        if (StopAcquisitionThread() == 0) ReleaseHostBuffers();
        acquisition.RecordLength = recordLength_;
        acquisition.RecordNumber = recordNumber_;
    }

private:
    uint32_t recordLength_;
    uint32_t recordNumber_;
};

// Stops any acquisition and configures the calibration geometry. False when the configuration is
// refused; nothing has been started then.
bool ConfigureCalibrationAcquisition() {
    StopAcquisition();
    return ConfigureAcquisition(g_engine.model.MaxRecordLength, kCalibrationRecords) == 0;
}

// Starts an acquisition of the calibration geometry afresh and reads its first announced frame.
// The set-up runs again even though the geometry is configured already: it marks the board's
// record slots empty, so every record of the frame is acquired after this call, never before a
// setting change.
bool MeasureFreshFrame(LaneBuffers &buffers, double frameWaitSeconds) {
    if (ConfigureAndStartAcquisition(g_engine.model.MaxRecordLength, kCalibrationRecords) != 0) {
        return false;
    }
    SetIndicator(kAcquiringIndicator);  // as a start by DAQ_StartAcquisition shows it
    return WaitForFrame(buffers, frameWaitSeconds);
}

// Entries the DC-offset sweep fills: the product of the lane and setting counts, or 0 when a
// count is not positive or the product would reach past the table.
int32_t SweepSpan() {
    const BoardModelState &model = g_engine.model;
    const int64_t counts[] = {static_cast<int64_t>(model.ADCNumber), model.CouplingNumber,
                              model.TerminationNumber, model.GainNumber, model.AttenuationNumber};
    int64_t span = 1;
    for (const int64_t count : counts) {
        if (count <= 0) return 0;
        span *= count;
        if (span > kOffsetTableEntries) return 0;
    }
    return static_cast<int32_t>(span);
}

// Steps through every combination, attenuation slowest and lane fastest, so that the entries are
// measured in ascending index order, and stores each lane's truncated mean into the working
// table. False as soon as a frame does not come in time.
bool SweepZeroOffsets(LaneBuffers &buffers, double frameWaitSeconds,
                      int16_t (&table)[kOffsetTableEntries]) {
    const BoardModelState &model = g_engine.model;
    const auto lanes = static_cast<int32_t>(model.ADCNumber);
    for (int32_t attenuation = 0; attenuation < model.AttenuationNumber; ++attenuation) {
        for (int32_t gain = 0; gain < model.GainNumber; ++gain) {
            for (int32_t termination = 0; termination < model.TerminationNumber; ++termination) {
                for (int32_t coupling = 0; coupling < model.CouplingNumber; ++coupling) {
                    for (int32_t lane = 0; lane < lanes; ++lane) {
                        // No record may straddle the change of setting. The settings are only
                        // written: the offsets in force stay at mid-scale for the whole sweep.
                        StopAcquisition();
                        WriteFrontEndSetting(FrontEndSetting::Gain, lane, gain);
                        WriteFrontEndSetting(FrontEndSetting::Coupling, lane, coupling);
                        // The lane doubles as the input selection: single-lane boards with an
                        // input selector are calibrated on input channel 0.
                        WriteFrontEndSetting(FrontEndSetting::InputChannel, 0, lane);
                        WriteFrontEndSetting(FrontEndSetting::Termination, lane, termination);
                        WriteFrontEndSetting(FrontEndSetting::Attenuation, lane, attenuation);
                        DelaySeconds(kSettleTime);
                        if (!MeasureFreshFrame(buffers, frameWaitSeconds)) return false;
                        const std::optional<int32_t> index =
                            OffsetIndex(lane, coupling, termination, gain, attenuation);
                        if (!index) return false;  // cannot happen within the sweep's span
                        table[*index] =
                            ZeroOffsetOfSamples(buffers.Lane(lane), buffers.SamplesPerLane());
                    }
                }
            }
        }
    }
    return true;
}

}  // namespace

int32_t CalibrateDcOffset() {
    if (!CalibrationPossible() || SweepSpan() == 0) return -1;
    LaneBuffers buffers;
    if (!buffers.Allocate(CalibrationSamplesPerLane())) return -1;
    const CallerGeometry callerGeometry;
    if (!ConfigureCalibrationAcquisition()) return -1;

    CalibrationState &calibration = g_engine.calibration;
    const int16_t singleLaneOffsetBefore = calibration.ChannelOffsets[kSingleLaneOffset];
    // The sweep fills a copy; the table changes only when every entry has been measured, so a
    // sweep cut short never leaves a half-new table behind.
    int16_t measured[kOffsetTableEntries];
    std::copy(std::begin(calibration.OffsetTable), std::end(calibration.OffsetTable), measured);

    const int32_t triggerBefore = ReadTrigger().value_or(0);
    WriteTrigger(0);
    SaveFrontEndSettings();
    calibration.CalibrationActive = true;
    UpdateChannelOffset(0);  // every offset in force is now mid-scale: samples are raw - 8192

    const bool complete = SweepZeroOffsets(buffers, FrameWaitBoundSeconds(), measured);
    if (complete) {
        std::copy(std::begin(measured), std::end(measured), calibration.OffsetTable);
    }

    StopAcquisition();
    buffers.Release();
    WriteTrigger(triggerBefore);
    calibration.CalibrationActive = false;
    RestoreFrontEndSettings();
    // No lane may keep the mid-scale offset of the sweep.
    for (int32_t lane = 0; lane < static_cast<int32_t>(g_engine.model.ADCNumber); ++lane) {
        UpdateChannelOffset(lane);
    }
    if (!complete) {
        // A single-lane board has all its settings back, so the offset it had (perhaps from a
        // single self-calibration) is the right one again.
        calibration.ChannelOffsets[kSingleLaneOffset] = singleLaneOffsetBefore;
        return -1;
    }
    // The new offsets are in force either way; the caller learns whether they will outlast the
    // process.
    return SaveCardData() == 0 ? 0 : kCardDataNotSaved;
}

int32_t CalibrateVerticalScale() {
    if (!CalibrationPossible()) return -1;
    LaneBuffers buffers;
    if (!buffers.Allocate(CalibrationSamplesPerLane())) return -1;
    const CallerGeometry callerGeometry;
    if (!ConfigureCalibrationAcquisition()) return -1;

    const int32_t triggerBefore = ReadTrigger().value_or(0);
    WriteTrigger(0);
    SaveFrontEndSettings();
    // The offsets in force stay: the span does not depend on them.
    const bool read = MeasureFreshFrame(buffers, FrameWaitBoundSeconds());

    int32_t span = 0;
    if (read) {
        const int16_t *lane0 = buffers.Lane(0);
        int32_t maximum = lane0[0];
        int32_t minimum = lane0[0];
        for (std::size_t i = 0; i < buffers.SamplesPerLane(); ++i) {
            if (lane0[i] > maximum) maximum = lane0[i];
            if (lane0[i] < minimum) minimum = lane0[i];
        }
        span = maximum - minimum;
        // A flat lane gives no scale; the one in force stays.
        if (span != 0) {
            g_engine.model.VoltsPerCode =
                static_cast<float>(kReferenceSpanVolts / static_cast<double>(span));
        }
    }

    StopAcquisition();
    buffers.Release();
    WriteTrigger(triggerBefore);
    RestoreFrontEndSettings();
    return (read && span != 0) ? 0 : -1;
}

int32_t SelfCalibrateOnce() {
    if (!CalibrationPossible()) return -1;
    LaneBuffers buffers;
    if (!buffers.Allocate(CalibrationSamplesPerLane())) return -1;
    const CallerGeometry callerGeometry;
    if (!ConfigureCalibrationAcquisition()) return -1;

    int16_t &singleLaneOffset = g_engine.calibration.ChannelOffsets[kSingleLaneOffset];
    const int16_t offsetBefore = singleLaneOffset;
    singleLaneOffset = kMidScaleCode;  // lane 0 of a single-lane board then reads raw - 8192

    const bool read = MeasureFreshFrame(buffers, FrameWaitBoundSeconds());
    StopAcquisition();
    singleLaneOffset =
        read ? SingleLaneOffsetOfSamples(buffers.Lane(0), buffers.SamplesPerLane()) : offsetBefore;
    return read ? 0 : -1;
}

}  // namespace ostrel
