#include "commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "OstrelDAQEngine.h"
#include "board_session.h"
#include "output_file.h"
#include "progress_bar.h"
#include "simulator.h"
#include "stream_loss.h"
#include "trace_plot.h"

namespace ostrel_daq {

EngineError::EngineError(const std::string &function, int result)
    : std::runtime_error("the board refused: " + function + " returned " + std::to_string(result)) {}

int Check(const char *function, int result) {
    if (result < 0) throw EngineError(function, result);
    return result;
}

namespace {

int32_t Get(int32_t (*getter)(int32_t *)) {
    int32_t value = 0;
    getter(&value);
    return value;
}

const char *kUnset = "-";

std::string Setting(int32_t (*getter)(int32_t, int32_t *), int lane) {
    int32_t value = INT32_MIN;
    getter(lane, &value);
    return value == INT32_MIN ? kUnset : std::to_string(value);
}

}  // namespace

int ListBoards(const CommandLine &) {
    CheckSystem();
    int32_t count = 0;
    DAQ_GetDeviceNum(&count);
    bool simulated = false;
    const std::string library = DriverLibraryLine(&simulated);
    std::printf("%d board%s on the bus (%s)\n", count, count == 1 ? "" : "s", library.c_str());
    for (int index = 0; index < count; ++index) {
        uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
        int32_t model = -1;
        DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource);
        DAQ_GetDeviceModel(index, &model);
        std::printf("  %d: vendor 0x%04X device 0x%04X  bus %u slot %u function %u  model %d%s\n",
                    index, vendor, device, bus, slot, function, model,
                    simulated ? "  (simulated)" : "");
    }
    DAQ_CloseDevice();
    return 0;
}

int ShowInfo(const CommandLine &line) {
    const int index = BoardArgument(line);
    OpenBoard board(index);
    uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
    int32_t model = -1;
    DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource);
    DAQ_GetDeviceModel(index, &model);
    const int lanes = Get(DAQ_GetADCNumber);
    bool simulated = false;
    const std::string library = DriverLibraryLine(&simulated);
    std::printf("board %d%s: device 0x%04X, model %d, bus %u slot %u function %u, interrupt %u\n",
                index, simulated ? " (simulated)" : "", device, model, bus, slot, function,
                resource);
    std::printf("%s\n", library.c_str());
    std::printf("lanes %d, max record length %d, DMA chunk %d points\n", lanes,
                Get(DAQ_GetMaxRecordLength), Get(DAQ_GetDMATransferPoints));
    float fullScale = 0;
    int32_t adcMax = 0;
    DAQ_GetVerticalInfo(&fullScale, &adcMax);
    std::printf("full scale %.1f mV, largest code %d\n", fullScale, adcMax);
    float rate = 0;
    int32_t rateCount = 0;
    DAQ_CheckSamplingRates(0, &rate, &rateCount);
    std::printf("sampling rates (MS/s by divider code):");
    for (int code = 0; code < rateCount; ++code) {
        DAQ_CheckSamplingRates(code, &rate, &rateCount);
        std::printf(" %d:%g", code, rate);
    }
    uint32_t divider = 0;
    DAQ_GetSamplingRate(&divider, &rate);
    std::printf("\nclock divider %u (%g MS/s), trigger %s, record length %s, records %s\n", divider,
                rate, Setting([](int32_t, int32_t *v) { return DAQ_GetTrigger(v); }, 0).c_str(),
                Setting([](int32_t, int32_t *v) { return DAQ_GetRecordLength(v); }, 0).c_str(),
                Setting([](int32_t, int32_t *v) { return DAQ_GetRecordNumber(v); }, 0).c_str());
    std::printf("setting counts: gain %d, attenuation %d, coupling %d, termination %d\n",
                Get(DAQ_GetGainNumber), Get(DAQ_GetAttenuationNumber), Get(DAQ_GetCouplingNumber),
                Get(DAQ_GetTerminationNumber));
    std::printf("input channel %s\n",
                Setting([](int32_t, int32_t *v) { return DAQ_GetInputChannel(v); }, 0).c_str());
    for (int lane = 0; lane < lanes; ++lane)
        std::printf("  lane %d: gain %s, attenuation %s, coupling %s, termination %s\n", lane,
                    Setting(DAQ_GetGain, lane).c_str(), Setting(DAQ_GetAttenuation, lane).c_str(),
                    Setting(DAQ_GetCoupling, lane).c_str(),
                    Setting(DAQ_GetTermination, lane).c_str());
    std::printf("generator channels %d\n", Get(AWG_GetnelNum));
    return 0;
}

namespace {

constexpr size_t kPlotPoints = 2000;
// acquire queues at most this many bytes of frames in the engine while it writes them out.
constexpr double kAcquireQueueBytes = 256.0 * 1024 * 1024;

}  // namespace

WaveSpec ParseWaveSpec(const std::string &text, const std::string &what) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    std::string field;
    while (std::getline(stream, field, ':')) fields.push_back(field);
    if (fields.size() < 3 || fields.size() > 5)
        throw std::invalid_argument(what + " takes SHAPE:FREQUENCY:AMPLITUDE[:OFFSET[:DUTY]] "
                                           "such as sine:1e6:2 (got '" + text + "')");
    WaveSpec wave;
    wave.shape = fields[0];
    wave.type = ShapeCode(wave.shape, what);
    wave.frequency = ParseNumber(fields[1], what + " frequency");
    wave.amplitude = ParseNumber(fields[2], what + " amplitude");
    if (fields.size() > 3) wave.offset = ParseNumber(fields[3], what + " offset");
    if (fields.size() > 4) wave.duty = ParseNumber(fields[4], what + " duty cycle");
    else if (wave.type != 0) wave.duty = 0.5;  // a square or triangle with no duty cycle: even
    CheckWave(wave, what);
    return wave;
}

int ShapeCode(const std::string &shape, const std::string &what) {
    if (shape == "sine") return 0;
    if (shape == "square") return 1;
    if (shape == "triangle") return 2;
    throw std::invalid_argument(what + ": unknown shape '" + shape +
                                "'; known: sine, square, triangle");
}

void CheckWave(const WaveSpec &wave, const std::string &what) {
    auto within = [&](const std::string &name, double value, double low, double high,
                      const std::string &unit) {
        if (!(value >= low && value <= high)) {
            char got[32];
            std::snprintf(got, sizeof got, "%g", value);
            throw std::invalid_argument(RangeMessage(what + name, low, high, unit, got));
        }
    };
    within(" frequency", wave.frequency, 0.0, kMaxGeneratorHz, "Hz");
    within(" amplitude", wave.amplitude, 0.0, kFullScale, "(4.75 spans the whole code range)");
    // The waveform must stay within the codes: amplitude + 2 x |offset| <= 4.75.
    const double offsetLimit = (kFullScale - wave.amplitude) / 2;
    within(" offset", wave.offset, -offsetLimit, offsetLimit,
           "for that amplitude (amplitude + 2 x |offset| <= 4.75)");
    if (wave.duty) within(" duty cycle", *wave.duty, 0.0, 1.0, "");
}

void PlayWave(int channel, const WaveSpec &wave) {
    if (wave.duty)
        Check("AWG_SetDutycycle", AWG_SetDutycycle(channel, static_cast<float>(*wave.duty)));
    Check("AWG_SetWaveformType", AWG_SetWaveformType(channel, wave.type));
    // Amplitude down to 0 first, so that the waveform never leaves the codes on the way.
    Check("AWG_SetAmplitude", AWG_SetAmplitude(channel, 0.0f));
    Check("AWG_SetOffset", AWG_SetOffset(channel, static_cast<float>(wave.offset)));
    Check("AWG_SetAmplitude", AWG_SetAmplitude(channel, static_cast<float>(wave.amplitude)));
    Check("AWG_SetFrequency", AWG_SetFrequency(channel, wave.frequency));
    Check("AWG_EnableOutput", AWG_EnableOutput(channel, 1));
}

int Acquire(const CommandLine &line) {
    // Everything that needs no board is checked first.
    const AcquisitionSettings settings = ParseAcquisitionSettings(line);
    const long frames = OptionInteger(line, "--frames", 1, 1, 1000000);
    const double timeout = OptionNumberIn(line, "--timeout", 5.0, 0.001, kMaxTimeout, "s");
    const bool allowLoss = OptionFlag(line, "--allow-loss");
    const std::string output = OptionText(line, "--output", "");
    const std::string plot = OptionText(line, "--plot", "");
    if (output.empty() && plot.empty())
        throw std::invalid_argument("acquire needs --output FILE (.csv or .npy) or --plot FILE.svg");
    if (!plot.empty() && !EndsWith(plot, ".svg"))
        throw std::invalid_argument("--plot must end in .svg: '" + plot + "'");
    // The output files exist under temporary names from here on and replace their targets only
    // once complete: an unwritable path is refused now, before the board is touched.
    std::optional<FrameFile> file;
    if (!output.empty()) file.emplace(output);
    std::optional<AtomicFile> plotFile;
    if (!plot.empty()) plotFile.emplace(plot);

    OpenBoard board(settings.board);
    const ConfiguredAcquisition acquisition = ConfigureAcquisition(settings);
    const int lanes = acquisition.lanes;
    const long points = acquisition.points;
    std::vector<std::vector<int16_t>> buffers(4, std::vector<int16_t>(static_cast<size_t>(points)));
    int16_t *pointers[4];
    for (int lane = 0; lane < 4; ++lane) pointers[lane] = buffers[lane].data();
    if (file) file->Begin(static_cast<int>(frames), lanes, points);

    // Consecutive frames through the engine's queue: a frame with records missing, or a gap
    // before a frame, is a loss the command reports instead of saving it as whole.
    const double frameBytes = acquisition.FrameBytes();
    const long ringFrames = std::clamp<long>(
        std::min<long>(frames, static_cast<long>(kAcquireQueueBytes / frameBytes)), 2, 1024);
    StreamLoss loss;
    ProgressBar progress("acquire");
    const auto started = std::chrono::steady_clock::now();
    // A full queue drops the new frame: the frames queued first stay consecutive.
    Check("DAQ_StreamStart",
          DAQ_StreamStart(static_cast<int32_t>(ringFrames), DAQ_STREAM_DROP_NEWEST));
    struct StopStream {
        ~StopStream() { DAQ_StreamStop(); }
    } stopStream;
    const int32_t timeoutMs = static_cast<int32_t>(std::ceil(timeout * 1000.0));
    for (long frame = 0; frame < frames; ++frame) {
        DAQ_FrameInfo info{};
        info.size = sizeof info;
        const int32_t result =
            DAQ_StreamRead(pointers[0], pointers[1], pointers[2], pointers[3],
                           static_cast<uint32_t>(points), &info, timeoutMs);
        if (result == DAQ_TIMEOUT) {
            char text[96];
            std::snprintf(text, sizeof text, "no frame within %g s (frame %ld of %ld)", timeout,
                          frame + 1, frames);
            throw std::runtime_error(text);
        }
        Check("DAQ_StreamRead", result);
        loss.Add(info);
        if (StreamLoss::Lossy(info) && !allowLoss) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "frame %ld of %ld (sequence %llu) came with %u of %u records after %llu "
                          "lost frames; nothing was saved (--allow-loss keeps frames with loss)",
                          frame + 1, frames, static_cast<unsigned long long>(info.frameSequence),
                          info.recordsValid, info.recordsExpected,
                          static_cast<unsigned long long>(info.framesLostBefore));
            throw std::runtime_error(text);
        }
        if (file) file->Write(static_cast<int>(frame), pointers);
        // Once the run is under way (a loss at its very start goes unnoticed).
        if (frame == 0) SkipSimulatedRecords(settings);
        progress.Update(static_cast<double>(frame + 1) / static_cast<double>(frames),
                        std::to_string(frame + 1) + "/" + std::to_string(frames));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Check("DAQ_StreamStop", DAQ_StreamStop());
    progress.Finish();
    if (file) file->Commit();
    if (plotFile) {
        std::vector<const int16_t *> traces(pointers, pointers + lanes);
        // A scope's view: the first points of the frame, each one drawn.
        const size_t shown = std::min<size_t>(static_cast<size_t>(points), kPlotPoints);
        char title[192];
        std::snprintf(title, sizeof title,
                      "board %d (model %d), first %zu points of the last frame, %g MS/s%s",
                      settings.board, acquisition.model, shown, acquisition.megasamples,
                      settings.loopback ? ", generator looped back" : "");
        const std::string svg = TracePlot(traces, shown, acquisition.megasamples, title);
        std::fwrite(svg.data(), 1, svg.size(), plotFile->Stream());
        plotFile->Commit();
    }
    // Rates over the whole run, from the start to the last frame read; the frames read are
    // distinct, so they cannot outrun the board, and the board's own rate bounds what is shown.
    const double boardMBps = acquisition.megasamples * lanes * 2.0;
    const double measuredMBps =
        std::min(frames * frameBytes / std::max(seconds, 1e-9) / 1e6, boardMBps);
    std::printf("%ld frame%s of %d lane%s x %ld points (%ld records of %ld) in %.4f s: %.1f frames/s, "
                "%.1f MB/s read (the board produces %.1f MB/s at %g MS/s)\n",
                frames, frames == 1 ? "" : "s", lanes, lanes == 1 ? "" : "s", points,
                acquisition.records, acquisition.recordLength, seconds,
                frames / std::max(seconds, 1e-9), measuredMBps, boardMBps,
                acquisition.megasamples);
    if (loss.Any()) std::printf("lost: %s\n", loss.Text().c_str());
    if (file) std::printf("written to %s\n", output.c_str());
    if (plotFile)
        std::printf("scope trace of the last frame's first %zu points written to %s\n",
                    std::min<size_t>(static_cast<size_t>(points), kPlotPoints), plot.c_str());
    return 0;
}

int Calibrate(const CommandLine &line) {
    const int index = BoardArgument(line);
    OpenBoard board(index);
    const int steps = Get(DAQ_GetADCNumber) * Get(DAQ_GetGainNumber) *
                      Get(DAQ_GetAttenuationNumber) * Get(DAQ_GetCouplingNumber) *
                      Get(DAQ_GetTerminationNumber);
    // The sweep settles 50 ms per step and waits for a frame; the bar is an estimate from that.
    const double estimate = steps * 0.08 + 0.2;
    std::atomic<bool> done{false};
    int result = 0;
    std::thread worker([&] {
        result = DAQ_Calibration_DCOffset();
        done.store(true);
    });
    ProgressBar progress("calibrate");
    const auto start = std::chrono::steady_clock::now();
    while (!done.load()) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.Update(std::min(0.99, elapsed / estimate), std::to_string(steps) + " steps");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    progress.Finish();
    Check("DAQ_Calibration_DCOffset", result);
    int32_t model = -1;
    DAQ_GetDeviceModel(index, &model);
    const char *fileName = model == 8 ? "CardData_P2W8B.dat" : "CardData_K9T3A.dat";
    std::ifstream file(fileName, std::ios::binary);
    unsigned char bytes[260] = {};
    if (!file.read(reinterpret_cast<char *>(bytes), sizeof bytes))
        throw std::runtime_error(std::string("cannot read back ") + fileName);
    std::printf("offset table written to %s (device 0x%02X%02X), %d entries measured:\n", fileName,
                bytes[1], bytes[0], steps);
    for (int entry = 0; entry < steps; ++entry) {
        const int16_t value = static_cast<int16_t>(bytes[4 + 2 * entry] | (bytes[5 + 2 * entry] << 8));
        std::printf("%s[%3d] %6d", entry % 8 == 0 ? (entry ? "\n  " : "  ") : "  ", entry, value);
    }
    std::printf("\n");
    return 0;
}

int Bandwidth(const CommandLine &line) {
    const int index = BoardArgument(line);
    OpenBoard board(index);
    std::vector<uint8_t> pool(static_cast<size_t>(16) * Get(DAQ_GetDMATransferPoints) * 2);
    float rate = 0;
    Check("DAQ_DMABandwidthTest", DAQ_DMABandwidthTest(pool.data(), &rate));
    std::printf("DMA bandwidth: %.1f MB/s (%zu bytes in 16 descriptors)\n", rate, pool.size());
    return 0;
}

int Generate(const CommandLine &line) {
    const int index = BoardArgument(line);
    WaveSpec wave;
    wave.shape = OptionText(line, "--shape", "sine");
    wave.type = ShapeCode(wave.shape, "--shape");
    wave.frequency = OptionNumberIn(line, "--frequency", 1e6, 0.0, kMaxGeneratorHz, "Hz");
    wave.amplitude = OptionNumberIn(line, "--amplitude", 1.0, 0.0, kFullScale,
                                    "(4.75 spans the whole code range)");
    const double offsetLimit = (kFullScale - wave.amplitude) / 2;
    wave.offset = OptionNumberIn(line, "--offset", 0.0, -offsetLimit, offsetLimit,
                                 "for that amplitude (amplitude + 2 x |offset| <= 4.75)");
    if (line.options.count("--duty") || wave.type != 0)
        wave.duty = OptionNumberIn(line, "--duty", 0.5, 0.0, 1.0);
    const bool hasPhase = line.options.count("--phase") != 0;
    const double phase = OptionNumberIn(line, "--phase", 0.0, -2 * std::numbers::pi,
                                        2 * std::numbers::pi, "radians");
    OpenBoard board(index);
    const long channels = Get(AWG_GetnelNum);
    if (channels == 0)
        throw std::invalid_argument("this board has no waveform generator (models 6 and 9: "
                                    "device IDs A002 and A006)");
    const int channel = static_cast<int>(OptionInteger(line, "--channel", 0, 0, channels - 1));
    if (hasPhase) Check("AWG_SetPhase", AWG_SetPhase(channel, static_cast<float>(phase)));
    PlayWave(channel, wave);
    std::printf("generator channel %d: %s, %g Hz, amplitude %g, offset %g\n", channel,
                wave.shape.c_str(), wave.frequency, wave.amplitude, wave.offset);
    std::printf("(the output plays while this command holds the board; to see it, acquire it "
                "looped back: ostrel-daq --simulate A006 --loopback acquire 0 --awg %s:%g:%g "
                "--plot trace.svg)\n",
                wave.shape.c_str(), wave.frequency, wave.amplitude);
    return 0;
}

}  // namespace ostrel_daq
