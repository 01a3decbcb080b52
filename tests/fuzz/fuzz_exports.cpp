// Fuzz target over the exports: the input bytes become a sequence of export calls on a simulated
// bus of any boards (the six models, the 0xE001 board and IDs the engine does not know), with
// simulator faults and pacing switched between calls. Every buffer the engine receives is sized
// exactly as the public header promises for the state the caller knows at that moment and ends
// flush against a protected page. After each input the engine is closed and every simulator
// resource must be given back.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "fuzz_support.h"

namespace {

// Entered for each input; removed at exit.
std::optional<ostrel_fuzz::PrivateDirectory> g_directory;

using ostrel_fuzz::ByteReader;
using ostrel_fuzz::Fail;
using ostrel_fuzz::GuardedBuffer;
using ostrel_fuzz::GuardedValue;

using Clock = std::chrono::steady_clock;

// Export calls made by this process, printed at exit: the figure a fuzz run reports.
uint64_t g_exportCalls = 0;
Clock::time_point g_firstInput;
bool g_started = false;

// With OSTREL_FUZZ_TRACE set, every call and its result is printed: the way to read a finding.
bool g_trace = false;

template <typename Result>
Result Traced(const char *call, Result result) {
    if (g_trace) std::fprintf(stderr, "  %s = %lld\n", call, static_cast<long long>(result));
    return result;
}

#define EXPORT_CALL(call) (++g_exportCalls, Traced(#call, (call)))

constexpr uint32_t kDeviceIds[] = {0xA001, 0xA002, 0xA004, 0xA005, 0xA006,
                                   0xA007, 0xE001, 0xA003, 0x0000, 0xFFFF};
constexpr uint32_t kLengths[] = {0,    1,    31,    32,    33,    99,    100,   101,  1000,
                                 1001, 1024, 4095,  4096,  8192,  16383, 16384, 16385, 32768,
                                 32769, 0x80000, 0x7FFFFFFF, 0xFFFFFFFF};
constexpr uint32_t kNumbers[] = {0, 1, 2, 3, 4, 16, 17, 64, 128, 1000, 4096, 0x10000,
                                 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

// The most samples per lane a readout buffer is given; a larger promise (a request the engine
// refused as too large) skips the readout rather than mapping gigabytes.
constexpr uint64_t kMaxLaneSamples = 16u << 20;
constexpr std::size_t kPoolBytesModel5 = 16u * 0xA000u * 2u;
constexpr std::size_t kPoolBytesOther = 16u * 0x22000u * 2u;
constexpr int kMaxOperations = 256;
// Past this much time in one input, operations that wait (frame waits, calibrations, the
// bandwidth test) are passed over, so that no input runs longer than a few seconds even with
// the DMA stalled.
constexpr auto kWaitingBudget = std::chrono::milliseconds(250);

// What the caller knows from the header about the state the engine is in.
struct CallerView {
    uint32_t boardCount = 0;
    uint32_t deviceIds[4] = {};
    uint64_t laneSamples = 0;  // record length x record number of the last configuration
    int pacing = SIM_DMA_MAXRATE;
    bool calibrated = false;
    Clock::time_point start;
    bool Budget() const { return Clock::now() - start < kWaitingBudget; }
};

uint32_t PickLength(ByteReader &in) {
    const uint8_t choice = in.Byte();
    if (choice < 200) return kLengths[choice % std::size(kLengths)];
    return in.U32();
}

uint32_t PickNumber(ByteReader &in) {
    const uint8_t choice = in.Byte();
    if (choice < 200) return kNumbers[choice % std::size(kNumbers)];
    return in.U32();
}

bool Running() {
    return !ostrel::g_engine.acquisition.ThreadStopped.load(std::memory_order_acquire);
}

void SetUpBus(ByteReader &in, CallerView &view) {
    view.boardCount = 1 + in.Below(4);
    for (uint32_t board = 0; board < view.boardCount; ++board) {
        const uint8_t choice = in.Byte();
        view.deviceIds[board] = choice < 240 ? kDeviceIds[choice % std::size(kDeviceIds)]
                                             : 0xA000u + (choice & 0xFu);
    }
    if (SIM_SetBoards(view.deviceIds, static_cast<int>(view.boardCount)) != 0) {
        Fail("SIM_SetBoards refused with nothing open");
    }
    const uint8_t pacing = in.Byte();
    // The board's real-time pace is the slowest (seconds per frame on a slow clock): rarer.
    view.pacing = pacing < 16   ? SIM_DMA_REALTIME
                  : pacing < 96 ? SIM_DMA_IMMEDIATE
                                : SIM_DMA_MAXRATE;
    SIM_SetDmaPacing(view.pacing);
}

void Configure(ByteReader &in, CallerView &view, bool start) {
    const uint32_t length = PickLength(in);
    const uint32_t number = PickNumber(in);
    const int32_t result = start ? EXPORT_CALL(DAQ_ConfigAcquisition_and_Start(length, number))
                                 : EXPORT_CALL(DAQ_ConfigAcquisition(length, number));
    const uint64_t requested = static_cast<uint64_t>(length) * number;
    if (result == 0) {
        view.laneSamples = requested;
    } else {
        // A refusal may come before anything changed (the old geometry stays) or after the new
        // request was recorded (a failed set-up copies nothing): either fits the larger one.
        view.laneSamples = std::max(view.laneSamples, requested);
    }
}

void ReadFrame(ByteReader &in, CallerView &view) {
    if (view.laneSamples > kMaxLaneSamples) return;
    const std::size_t bytes = static_cast<std::size_t>(view.laneSamples) * sizeof(int16_t);
    int32_t lanes = 4;
    GuardedValue<int32_t> laneCount;
    if (EXPORT_CALL(DAQ_GetADCNumber(laneCount.Pointer())) == 0) lanes = laneCount.Value();
    const bool nullUnused = in.Bool();
    GuardedBuffer lane0(bytes), lane1(bytes), lane2(bytes), lane3(bytes);
    int16_t *pointers[4] = {lane0.As<int16_t>(), lane1.As<int16_t>(), lane2.As<int16_t>(),
                            lane3.As<int16_t>()};
    if (nullUnused) {
        for (int lane = std::max(lanes, 1); lane < 4; ++lane) pointers[lane] = nullptr;
    }
    EXPORT_CALL(DAQ_GetLatestFrame(pointers[0], pointers[1], pointers[2], pointers[3]));
}

void WaitAndRead(ByteReader &in, CallerView &view) {
    const int waitMilliseconds = in.Below(20);
    if (!view.Budget()) return;
    for (int waited = 0; waited < waitMilliseconds; ++waited) {
        if (EXPORT_CALL(DAQ_NewDataFrameAvailable()) != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ReadFrame(in, view);
}

// The stream: starts with any queue and policy, reads into lanes sized exactly as promised (the
// capacity given is the buffers' size) with an info of any claimed size, stops, and asks for the
// latest frame's info. Queues are kept small enough for the fuzzer's memory limit.
void StreamCall(ByteReader &in, CallerView &view) {
    constexpr int32_t kRings[] = {2, 3, 4, 16, 1, 0, -1, 1024, 1025};
    switch (in.Below(5)) {
        case 0: {
            const int32_t ring =
                in.Byte() < 240 ? kRings[in.Below(std::size(kRings))] : in.Int();
            const int32_t policy = in.Byte() < 240 ? static_cast<int32_t>(in.Below(4)) - 1 : in.Int();
            // laneSamples covers every lane of the largest board frame the engine may have.
            const uint64_t frameBytes = std::max<uint64_t>(view.laneSamples, 1) * 4 * 2;
            if (ring >= 2 && ring <= 1024 && frameBytes * static_cast<uint64_t>(ring + 5) >
                                                  (256u << 20)) {
                return;
            }
            EXPORT_CALL(DAQ_StreamStart(ring, policy));
            break;
        }
        case 1:
        case 2: {
            if (view.laneSamples > kMaxLaneSamples) return;
            const uint8_t shape = in.Byte();
            uint64_t capacity = view.laneSamples;
            if (shape % 4 == 1 && capacity > 0) capacity -= 1;
            if (shape % 4 == 2) capacity = in.Below(64);
            const std::size_t bytes = static_cast<std::size_t>(capacity) * sizeof(int16_t);
            GuardedBuffer lane0(bytes), lane1(bytes), lane2(bytes), lane3(bytes);
            int16_t *pointers[4] = {lane0.As<int16_t>(), lane1.As<int16_t>(),
                                    lane2.As<int16_t>(), lane3.As<int16_t>()};
            const uint8_t nulls = in.Byte();
            for (int lane = 0; lane < 4; ++lane) {
                if (nulls & (1u << lane)) pointers[lane] = nullptr;
            }
            GuardedValue<DAQ_FrameInfo> info;
            const uint8_t infoShape = in.Byte();
            // The size field says what the caller has; the buffer is exactly the header's struct.
            uint32_t claimed = sizeof(DAQ_FrameInfo);
            if (infoShape % 4 == 1) claimed = in.Below(sizeof(DAQ_FrameInfo));
            if (infoShape % 4 == 2) claimed = in.U32();
            std::memcpy(info.Pointer(), &claimed, sizeof claimed);
            int32_t timeout = static_cast<int32_t>(in.Below(4));
            if (in.Byte() >= 250) timeout = in.Int();
            if (!view.Budget() || timeout > 5) timeout = timeout > 0 ? 0 : timeout;
            EXPORT_CALL(DAQ_StreamRead(pointers[0], pointers[1], pointers[2], pointers[3],
                                       static_cast<uint32_t>(capacity),
                                       infoShape % 4 == 3 ? nullptr : info.Pointer(), timeout));
            break;
        }
        case 3: EXPORT_CALL(DAQ_StreamStop()); break;
        default: {
            GuardedValue<DAQ_FrameInfo> info;
            const uint32_t claimed = in.Bool() ? sizeof(DAQ_FrameInfo) : in.U32();
            std::memcpy(info.Pointer(), &claimed, sizeof claimed);
            EXPORT_CALL(DAQ_GetLatestFrameInfo(in.Bool() ? nullptr : info.Pointer()));
            break;
        }
    }
}

std::size_t PoolBytes() {
    return ostrel::g_engine.model.ModelType == 5 ? kPoolBytesModel5 : kPoolBytesOther;
}

// The status exports a caller polls while the thread runs, polled back to back as a tight
// application loop would, so that the reads meet the thread's writes.
void Status(ByteReader &in) {
    GuardedValue<int32_t> records, frame;
    GuardedValue<float> rate;
    GuardedBuffer debug(9 * sizeof(int32_t));
    const uint32_t polls = 1 + in.Below(64);
    for (uint32_t poll = 0; poll < polls; ++poll) {
        EXPORT_CALL(DAQ_CheckDMA(records.Pointer(), frame.Pointer(), rate.Pointer()));
        EXPORT_CALL(DAQ_GetDebugValue(debug.As<int32_t>()));
        EXPORT_CALL(DAQ_NewDataFrameAvailable());
    }
}

void DmaDiagnostics(ByteReader &in, CallerView &view) {
    switch (in.Below(3)) {
        case 0: {
            if (!view.Budget()) return;
            GuardedBuffer destination(PoolBytes());
            GuardedValue<float> rate;
            EXPORT_CALL(DAQ_DMABandwidthTest(destination.As<uint8_t>(), rate.Pointer()));
            break;
        }
        case 1: {
            GuardedBuffer destination(PoolBytes());
            EXPORT_CALL(DAQ_CopyDMAPool(destination.As<uint8_t>()));
            break;
        }
        default: {
            GuardedBuffer unused(0);
            GuardedValue<int32_t> first, count;
            const int32_t length = in.Int();
            const int32_t perFrame = in.Int();
            EXPORT_CALL(DAQ_ProcessDMAPool(unused.As<uint8_t>(), first.Pointer(), count.Pointer(),
                                           length, perFrame));
            break;
        }
    }
}

void RecordSettings(ByteReader &in) {
    switch (in.Below(7)) {
        case 0: EXPORT_CALL(DAQ_SetRecordLength(PickLength(in))); break;
        case 1: EXPORT_CALL(DAQ_SetRecordNumber(static_cast<int32_t>(PickNumber(in)))); break;
        case 2: {
            // Arguments are read one statement at a time: the order in which a compiler evaluates
            // function arguments differs (clang and gcc), and an input must mean the same calls
            // under the fuzzer and under the replay driver.
            const int32_t c0 = in.Int(), c1 = in.Int(), c2 = in.Int(), c3 = in.Int();
            EXPORT_CALL(DAQ_SetRecordCounters(c0, c1, c2, c3));
            break;
        }
        case 3: EXPORT_CALL(DAQ_SetTrigger(in.Int())); break;
        case 4: EXPORT_CALL(DAQ_SetSamplingRate(in.Int())); break;
        case 5: EXPORT_CALL(DAQ_SetLEDCode(in.Int())); break;
        default: {
            GuardedValue<float> rate;
            GuardedValue<int32_t> count;
            EXPORT_CALL(DAQ_CheckSamplingRates(in.Int(), rate.Pointer(), count.Pointer()));
            break;
        }
    }
}

void RecordGetters() {
    GuardedValue<int32_t> a, b, c, d, e, f, g;
    GuardedValue<uint32_t> divider;
    GuardedValue<float> rate;
    GuardedValue<int16_t> trailer, info, chunks;
    EXPORT_CALL(DAQ_GetRecordLength(a.Pointer()));
    EXPORT_CALL(DAQ_GetRecordNumber(b.Pointer()));
    EXPORT_CALL(DAQ_GetTrigger(c.Pointer()));
    EXPORT_CALL(DAQ_GetSamplingRate(divider.Pointer(), rate.Pointer()));
    EXPORT_CALL(DAQ_GetClockDivider(d.Pointer()));
    EXPORT_CALL(DAQ_GetMaxRecordLength(e.Pointer()));
    EXPORT_CALL(DAQ_GetRecordNumInMem(f.Pointer()));
    EXPORT_CALL(DAQ_GetDMATransferPoints(g.Pointer()));
    EXPORT_CALL(DAQ_GetDMAInfo(trailer.Pointer(), info.Pointer(), chunks.Pointer()));
}

void ChannelInputs(ByteReader &in) {
    const int32_t lane = in.Int();
    const int32_t value = in.Int();
    GuardedValue<int32_t> out;
    switch (in.Below(14)) {
        case 0: EXPORT_CALL(DAQ_SetGain(lane, value)); break;
        case 1: EXPORT_CALL(DAQ_SetAttenuation(lane, value)); break;
        case 2: EXPORT_CALL(DAQ_SetCoupling(lane, value)); break;
        case 3: EXPORT_CALL(DAQ_SetTermination(lane, value)); break;
        case 4: EXPORT_CALL(DAQ_SetInputChannel(value)); break;
        case 5: EXPORT_CALL(DAQ_GetGain(lane, out.Pointer())); break;
        case 6: EXPORT_CALL(DAQ_GetAttenuation(lane, out.Pointer())); break;
        case 7: EXPORT_CALL(DAQ_GetCoupling(lane, out.Pointer())); break;
        case 8: EXPORT_CALL(DAQ_GetTermination(lane, out.Pointer())); break;
        case 9: EXPORT_CALL(DAQ_GetInputChannel(out.Pointer())); break;
        case 10: EXPORT_CALL(DAQ_GetGainNumber(out.Pointer())); break;
        case 11: EXPORT_CALL(DAQ_GetAttenuationNumber(out.Pointer())); break;
        case 12: EXPORT_CALL(DAQ_GetCouplingNumber(out.Pointer())); break;
        default: EXPORT_CALL(DAQ_GetTerminationNumber(out.Pointer())); break;
    }
}

void Calibration(ByteReader &in, CallerView &view) {
    const uint32_t which = in.Below(3);
    // A calibration waits for frames of its own geometry; at the board's real-time pace on a slow
    // clock that is many seconds, so the input's time bound gets the fast pace for it.
    if (!view.Budget() || view.calibrated) return;
    view.calibrated = true;
    if (view.pacing == SIM_DMA_REALTIME) {
        view.pacing = SIM_DMA_MAXRATE;
        SIM_SetDmaPacing(view.pacing);
    }
    switch (which) {
        case 0:
            // The offset sweep settles 50 ms at each of up to 32 settings: seconds per call, so
            // it runs only behind a marker byte (which the fuzzer's comparison tracing finds).
            if (in.Byte() == 0xDC) {
                EXPORT_CALL(DAQ_Calibration_DCOffset());
            } else {
                EXPORT_CALL(DAQ_SelfCalibrationOnce());
            }
            break;
        case 1: EXPORT_CALL(DAQ_Calibration_VerticalScale()); break;
        default: EXPORT_CALL(DAQ_SelfCalibrationOnce()); break;
    }
}

void Measurement(ByteReader &in) {
    if (in.Bool()) {
        GuardedValue<float> fullScale;
        GuardedValue<int32_t> maxCode;
        EXPORT_CALL(DAQ_GetVerticalInfo(fullScale.Pointer(), maxCode.Pointer()));
        return;
    }
    const int32_t count = in.Bool() ? static_cast<int32_t>(in.U16() % 5000) : in.Int();
    const std::size_t samples = count > 0 && count <= 5000 ? static_cast<std::size_t>(count) : 0;
    GuardedBuffer buffer(samples * sizeof(int16_t));
    int16_t *values = buffer.As<int16_t>();
    for (std::size_t i = 0; i < samples; ++i) values[i] = static_cast<int16_t>(in.U16());
    GuardedValue<float> peak, mean, rms;
    // A count beyond the buffer is the caller's fault, not the engine's: such counts go with a
    // null sample pointer, which the engine must refuse.
    const int16_t *pointer = count > 5000 ? nullptr : values;
    EXPORT_CALL(DAQ_MeasureSignal(pointer, count, peak.Pointer(), mean.Pointer(), rms.Pointer()));
}

using FloatSetter = int32_t (*)(int32_t, float);
using FloatGetter = int32_t (*)(int32_t, float *);

// A generator parameter set and read back: a non-finite value is refused, a refusal changes
// nothing, and an accepted value reads back as set (a duty cycle outside 0..1 too: only the
// design limits it).
void GeneratorParameter(const char *name, FloatSetter set, FloatGetter get, int32_t channel,
                        float requested) {
    GuardedValue<float> before, after;
    const int32_t readBefore = EXPORT_CALL(get(channel, before.Pointer()));
    const int32_t result = EXPORT_CALL(set(channel, requested));
    const int32_t readAfter = EXPORT_CALL(get(channel, after.Pointer()));
    if (!std::isfinite(requested) && result != -1) Fail(name, result);
    if (readBefore != 0 || readAfter != 0) return;
    const float expected = result != 0 ? before.Value() : requested;
    const float value = after.Value();
    if (std::memcmp(&value, &expected, sizeof(value)) != 0 && !(value == expected)) {
        std::fprintf(stderr, "%s(%d, %g) = %d reads back %g, expected %g\n", name, channel,
                     static_cast<double>(requested), result, static_cast<double>(value),
                     static_cast<double>(expected));
        Fail("generator parameter does not read back");
    }
}

void Generator(ByteReader &in) {
    const int32_t channel = in.Byte() < 200 ? static_cast<int32_t>(in.Byte() % 10) - 1 : in.Int();
    GuardedValue<int32_t> type;
    GuardedValue<float> value;
    GuardedValue<double> frequency;
    switch (in.Below(16)) {
        case 0: EXPORT_CALL(AWG_DesignWaveform(channel, in.Int())); break;
        case 1: EXPORT_CALL(AWG_UpdateWaveform(channel)); break;
        case 2: EXPORT_CALL(AWG_SetWaveformType(channel, in.Int())); break;
        case 3: EXPORT_CALL(AWG_GetWaveformType(channel, type.Pointer())); break;
        case 4:
            GeneratorParameter("AWG_SetAmplitude", AWG_SetAmplitude, AWG_GetAmplitude, channel,
                               in.Float());
            break;
        case 5: EXPORT_CALL(AWG_GetAmplitude(channel, value.Pointer())); break;
        case 6:
            GeneratorParameter("AWG_SetOffset", AWG_SetOffset, AWG_GetOffset, channel,
                               in.Float());
            break;
        case 7: EXPORT_CALL(AWG_GetOffset(channel, value.Pointer())); break;
        case 8:
            GeneratorParameter("AWG_SetPhase", AWG_SetPhase, AWG_GetPhase, channel,
                               in.Float());
            break;
        case 9: EXPORT_CALL(AWG_GetPhase(channel, value.Pointer())); break;
        case 10:
            GeneratorParameter("AWG_SetDutycycle", AWG_SetDutycycle, AWG_GetDutycycle, channel,
                               in.Float());
            break;
        case 11: EXPORT_CALL(AWG_GetDutycycle(channel, value.Pointer())); break;
        case 12: {
            const double requested = in.Double();
            const int32_t result = EXPORT_CALL(AWG_SetFrequency(channel, requested));
            if ((!std::isfinite(requested) || requested < 0.0) && result != -1) {
                Fail("AWG_SetFrequency took a negative or non-finite frequency", result);
            }
            if (result == 0 && EXPORT_CALL(AWG_GetFrequency(channel, frequency.Pointer())) == 0 &&
                !(frequency.Value() == requested)) {
                Fail("AWG_GetFrequency does not read back the frequency set");
            }
            break;
        }
        case 13: EXPORT_CALL(AWG_GetFrequency(channel, frequency.Pointer())); break;
        case 14: EXPORT_CALL(AWG_EnableOutput(channel, in.Byte())); break;
        default:
            if (in.Bool()) {
                EXPORT_CALL(AWG_SyncAllChannels());
            } else {
                EXPORT_CALL(AWG_GetnelNum(type.Pointer()));
            }
            break;
    }
}

void DeviceInformation(ByteReader &in) {
    GuardedValue<int32_t> count, model;
    GuardedValue<uint32_t> v0, v1, v2, v3, v4, v5;
    const int32_t index = in.Byte() < 200 ? static_cast<int32_t>(in.Byte() % 6) - 1 : in.Int();
    switch (in.Below(8)) {
        case 0: EXPORT_CALL(DAQ_CheckSystem(count.Pointer())); break;
        case 1: EXPORT_CALL(DAQ_GetDeviceNum(count.Pointer())); break;
        case 2:
            EXPORT_CALL(DAQ_GetDeviceInfo(index, v0.Pointer(), v1.Pointer(), v2.Pointer(),
                                          v3.Pointer(), v4.Pointer(), v5.Pointer()));
            break;
        case 3: EXPORT_CALL(DAQ_GetDeviceModel(index, model.Pointer())); break;
        case 4:
            EXPORT_CALL(GetDeviceResource(v0.Pointer(), v1.Pointer(), v2.Pointer(), v3.Pointer()));
            break;
        case 5: EXPORT_CALL(ReadConfigurationRegister()); break;
        case 6: EXPORT_CALL(ReadMemory32(in.Int(), v0.Pointer())); break;
        default: EXPORT_CALL(TestFunction(in.U32())); break;
    }
}

void SimulatorControl(ByteReader &in, CallerView &view) {
    switch (in.Below(6)) {
        case 0: {
            // Faults on and off between calls; a few statuses the library's callers know.
            const int fault = static_cast<int>(1 + in.Below(SIM_FAULT_EVENT_UNREGISTER));
            const uint32_t statuses[] = {0, 0x20000015, 0x2000001F, 0xC000001A};
            const uint32_t choice = in.Below(5);
            SIM_SetFault(fault, choice < 4 ? statuses[choice] : in.U32());
            break;
        }
        case 1:
            view.pacing = static_cast<int>(in.Below(3));
            SIM_SetDmaPacing(view.pacing);
            break;
        case 2: {
            const int board = static_cast<int>(in.Below(4));
            SIM_SkipRecords(board, static_cast<int>(in.U16()));
            break;
        }
        case 3: {
            // A model switch: the simulator takes a new bus only while nothing is open, as a real
            // bus does not change under an open handle.
            uint32_t ids[4] = {view.deviceIds[0], view.deviceIds[1], view.deviceIds[2],
                               view.deviceIds[3]};
            const uint32_t board = in.Below(4);
            ids[board] = kDeviceIds[in.Below(std::size(kDeviceIds))];
            const uint32_t count = std::max(view.boardCount, board + 1);
            if (SIM_SetBoards(ids, static_cast<int>(count)) == 0) {
                std::copy(std::begin(ids), std::end(ids), view.deviceIds);
                view.boardCount = count;
            }
            break;
        }
        case 4: {
            const int board = static_cast<int>(in.Below(4));
            const int input = static_cast<int>(in.Below(4));
            const double dc = in.Double(), amplitude = in.Double();
            const double frequency = in.Double(), noise = in.Double();
            SIM_SetInputSignal(board, input, dc, amplitude, frequency, noise);
            break;
        }
        default:
            if (in.Bool()) {
                const int board = static_cast<int>(in.Below(4));
                SIM_SetLoopback(board, in.Byte() & 1);
            } else {
                const uint32_t word = in.Bool() ? 0x11800009u : in.U32();
                SIM_SetConfigWord(static_cast<int>(in.Below(4)), word);
            }
            break;
    }
}

void OpenDevice(ByteReader &in, CallerView &view) {
    const int32_t index = in.Byte() < 220 ? static_cast<int32_t>(in.Byte() % 6) - 1 : in.Int();
    const bool wasRunning = Running();
    EXPORT_CALL(DAQ_OpenDevice(index));
    // An open while the acquisition runs leaves everything as it is; any other open forgets the
    // record request of the board before.
    if (!wasRunning) view.laneSamples = 0;
}

void RunOperation(ByteReader &in, CallerView &view) {
    switch (in.Below(24)) {
        case 0: case 1: OpenDevice(in, view); break;
        case 2:
            EXPORT_CALL(DAQ_CloseDevice());
            view.laneSamples = 0;
            break;
        case 3: case 4: Configure(in, view, false); break;
        case 5: Configure(in, view, true); break;
        case 6: EXPORT_CALL(DAQ_StartAcquisition()); break;
        case 7:
            if (in.Bool()) {
                EXPORT_CALL(DAQ_StopAcquisition());
            } else {
                EXPORT_CALL(DAQ_FinalizeAcquisition());
            }
            break;
        case 8: WaitAndRead(in, view); break;
        case 9: ReadFrame(in, view); break;
        case 10: Status(in); break;
        case 11: DmaDiagnostics(in, view); break;
        case 12: RecordSettings(in); break;
        case 13: RecordGetters(); break;
        case 14: case 15: ChannelInputs(in); break;
        case 16: Calibration(in, view); break;
        case 17: Measurement(in); break;
        case 18: case 19: Generator(in); break;
        case 20: DeviceInformation(in); break;
        case 23: StreamCall(in, view); break;
        default: SimulatorControl(in, view); break;
    }
}

void PrintCallCount() {
    const double seconds =
        g_started ? std::chrono::duration<double>(Clock::now() - g_firstInput).count() : 0.0;
    std::fprintf(stderr, "export calls: %llu in %.1f s (%.0f per second)\n",
                 static_cast<unsigned long long>(g_exportCalls), seconds,
                 seconds > 0.0 ? static_cast<double>(g_exportCalls) / seconds : 0.0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_directory.emplace("ostrel-fuzz-exports");
    std::atexit(PrintCallCount);
    g_trace = std::getenv("OSTREL_FUZZ_TRACE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Clock::time_point lastReport;
    if (!g_started) {
        g_started = true;
        g_firstInput = Clock::now();
        lastReport = g_firstInput;
    }
    // The count also shows while the run goes on: a run stopped by a signal prints no exit line.
    if (Clock::now() - lastReport > std::chrono::seconds(30)) {
        lastReport = Clock::now();
        PrintCallCount();
    }
    ByteReader in(data, size);
    CallerView view;
    view.start = Clock::now();

    // Every input starts at the simulator's power-on state with no card-data file around.
    g_directory->Enter();
    SIM_Reset();
    ostrel_fuzz::RemoveCardDataFiles();
    SetUpBus(in, view);

    for (int operation = 0; operation < kMaxOperations && !in.Empty(); ++operation) {
        RunOperation(in, view);
    }

    // Whatever happened, a close with the faults cleared gives everything back and leaves no
    // acquisition thread behind.
    ostrel_fuzz::ClearAllFaults();
    EXPORT_CALL(DAQ_CloseDevice());
    if (Running()) Fail("acquisition thread still running after DAQ_CloseDevice");
    ostrel_fuzz::ExpectNoResourcesHeld("after DAQ_CloseDevice");
    g_directory->Leave();
    return 0;
}
