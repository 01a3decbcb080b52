#include "commands.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "OstrelDAQEngine.h"
#include "output_file.h"
#include "progress_bar.h"

namespace ostrel_daq {

EngineError::EngineError(const std::string &function, int result)
    : std::runtime_error(function + " returned " + std::to_string(result)) {}

namespace {

int Check(const char *function, int result) {
    if (result < 0) throw EngineError(function, result);
    return result;
}

// Opens one board for the lifetime of a command and always closes it.
class OpenBoard {
public:
    explicit OpenBoard(int index) {
        int32_t found = 0;
        Check("DAQ_CheckSystem", DAQ_CheckSystem(&found));
        int32_t count = 0;
        DAQ_GetDeviceNum(&count);
        if (index >= count) {
            DAQ_CloseDevice();
            throw std::invalid_argument("no board " + std::to_string(index) + " (" +
                                        std::to_string(count) + " on the bus)");
        }
        const int result = DAQ_OpenDevice(index);
        if (result != 0) {
            DAQ_CloseDevice();
            throw EngineError("DAQ_OpenDevice", result);
        }
    }
    ~OpenBoard() { DAQ_CloseDevice(); }
    OpenBoard(const OpenBoard &) = delete;
    OpenBoard &operator=(const OpenBoard &) = delete;
};

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

bool WaitForFrame(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (DAQ_NewDataFrameAvailable() != 1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace

int ListBoards(const CommandLine &) {
    int32_t found = 0;
    Check("DAQ_CheckSystem", DAQ_CheckSystem(&found));
    int32_t count = 0;
    DAQ_GetDeviceNum(&count);
    std::printf("%d board%s on the bus\n", count, count == 1 ? "" : "s");
    for (int index = 0; index < count; ++index) {
        uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
        int32_t model = -1;
        DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource);
        DAQ_GetDeviceModel(index, &model);
        std::printf("  %d: vendor 0x%04X device 0x%04X  bus %u slot %u function %u  model %d\n",
                    index, vendor, device, bus, slot, function, model);
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
    std::printf("board %d: device 0x%04X, model %d, bus %u slot %u function %u, interrupt %u\n",
                index, device, model, bus, slot, function, resource);
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

int Acquire(const CommandLine &line) {
    const int index = BoardArgument(line);
    const long frames = OptionInteger(line, "--frames", 1, 1, 1000000);
    const long length = OptionInteger(line, "--record-length", 1024, 32, 1 << 20);
    const long records = OptionInteger(line, "--records", 64, 1, 1 << 20);
    const double timeout = OptionNumber(line, "--timeout", 5.0);
    const std::string output = OptionText(line, "--output", "");
    if (output.empty()) throw std::invalid_argument("acquire needs --output FILE (.csv or .npy)");
    OpenBoard board(index);
    if (line.options.count("--clock"))
        Check("DAQ_SetSamplingRate",
              DAQ_SetSamplingRate(static_cast<int32_t>(OptionInteger(line, "--clock", 0, 0, 20))));
    Check("DAQ_ConfigAcquisition", DAQ_ConfigAcquisition(static_cast<uint32_t>(length),
                                                         static_cast<uint32_t>(records)));
    const int lanes = Get(DAQ_GetADCNumber);
    const long points = length * records;
    std::vector<std::vector<int16_t>> buffers(4, std::vector<int16_t>(static_cast<size_t>(points)));
    int16_t *pointers[4];
    for (int lane = 0; lane < 4; ++lane) pointers[lane] = buffers[lane].data();
    FrameFile file(output, static_cast<int>(frames), lanes, points);
    ProgressBar progress("acquire");
    Check("DAQ_StartAcquisition", DAQ_StartAcquisition());
    for (long frame = 0; frame < frames; ++frame) {
        if (!WaitForFrame(timeout)) {
            DAQ_StopAcquisition();
            throw std::runtime_error("no frame within " + std::to_string(timeout) + " s");
        }
        Check("DAQ_GetLatestFrame",
              DAQ_GetLatestFrame(pointers[0], pointers[1], pointers[2], pointers[3]));
        file.Write(static_cast<int>(frame), pointers);
        progress.Update(static_cast<double>(frame + 1) / static_cast<double>(frames),
                        std::to_string(frame + 1) + "/" + std::to_string(frames));
    }
    DAQ_StopAcquisition();
    file.Close();
    progress.Finish();
    int32_t received = 0, counter = 0;
    float rate = 0;
    DAQ_CheckDMA(&received, &counter, &rate);
    std::printf("%ld frames of %d lane%s x %ld points written to %s (%d records, %.1f MB/s)\n",
                frames, lanes, lanes == 1 ? "" : "s", points, output.c_str(), received, rate);
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
    const std::string shape = OptionText(line, "--shape", "sine");
    int type = -1;
    if (shape == "sine") type = 0;
    if (shape == "square") type = 1;
    if (shape == "triangle") type = 2;
    if (type < 0) throw std::invalid_argument("--shape must be sine, square or triangle");
    const double frequency = OptionNumber(line, "--frequency", 1e6);
    if (frequency < 0) throw std::invalid_argument("--frequency must not be negative");
    const double amplitude = OptionNumber(line, "--amplitude", 1.0);
    OpenBoard board(index);
    const long channels = Get(AWG_GetnelNum);
    if (channels == 0) throw std::invalid_argument("this board has no waveform generator");
    const int channel = static_cast<int>(OptionInteger(line, "--channel", 0, 0, channels - 1));
    if (auto duty = OptionalNumber(line, "--duty"))
        Check("AWG_SetDutycycle", AWG_SetDutycycle(channel, static_cast<float>(*duty)));
    Check("AWG_SetWaveformType", AWG_SetWaveformType(channel, type));
    Check("AWG_SetAmplitude", AWG_SetAmplitude(channel, static_cast<float>(amplitude)));
    if (auto offset = OptionalNumber(line, "--offset"))
        Check("AWG_SetOffset", AWG_SetOffset(channel, static_cast<float>(*offset)));
    if (auto phase = OptionalNumber(line, "--phase"))
        Check("AWG_SetPhase", AWG_SetPhase(channel, static_cast<float>(*phase)));
    Check("AWG_SetFrequency", AWG_SetFrequency(channel, frequency));
    Check("AWG_EnableOutput", AWG_EnableOutput(channel, 1));
    std::printf("generator channel %d: %s, %g Hz, amplitude %g\n", channel, shape.c_str(),
                frequency, amplitude);
    return 0;
}

}  // namespace ostrel_daq
