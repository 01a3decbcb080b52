#include "board_session.h"

#include <sstream>
#include <stdexcept>

#include "OstrelDAQEngine.h"
#include "simulator.h"

namespace ostrel_daq {

int32_t CheckSystem() {
    int32_t found = 0;
    const int result = DAQ_CheckSystem(&found);
    if (result < 0) {
        const std::string status = EngineStatusText();
        DAQ_CloseDevice();
        if (!status.empty()) throw std::runtime_error(status);
        throw EngineError("DAQ_CheckSystem", result);
    }
    return found;
}

OpenBoard::OpenBoard(int index) {
    CheckSystem();
    int32_t count = 0;
    DAQ_GetDeviceNum(&count);
    if (index >= count) {
        DAQ_CloseDevice();
        throw std::invalid_argument(
            "no board " + std::to_string(index) + " (" + std::to_string(count) + " on the bus" +
            (count > 0 ? ": indices 0.." + std::to_string(count - 1) : std::string()) + ")");
    }
    const int result = DAQ_OpenDevice(index);
    if (result != 0) {
        DAQ_CloseDevice();
        throw EngineError("DAQ_OpenDevice", result);
    }
}

OpenBoard::~OpenBoard() { DAQ_CloseDevice(); }

namespace {

int32_t Get(int32_t (*getter)(int32_t *)) {
    int32_t value = 0;
    getter(&value);
    return value;
}

// Points per lane a record length must be a multiple of: models 6, 9 and 10 write the length in
// groups of 4 points, model 7 (and the 0xE001 board, model code 0) in groups of 8.
long RecordLengthStep(int model) {
    switch (model) {
    case 6: case 9: case 10: return 4;
    case 7: case 0: return 8;
    default: return 1;
    }
}

std::string RatesText() {
    float rate = 0;
    int32_t count = 0;
    DAQ_CheckSamplingRates(0, &rate, &count);
    std::string text;
    for (int code = 0; code < count; ++code) {
        DAQ_CheckSamplingRates(code, &rate, &count);
        char entry[32];
        std::snprintf(entry, sizeof entry, "%s%d: %g", code ? ", " : "", code, rate);
        text += entry;
    }
    return text + " MS/s";
}

}  // namespace

AcquisitionSettings ParseAcquisitionSettings(const CommandLine &line) {
    AcquisitionSettings settings;
    settings.board = BoardArgument(line);
    settings.recordLength = OptionInteger(line, "--record-length", 1024, 32, 1 << 20);
    settings.records = OptionInteger(line, "--records", 64, 1, 1 << 24);
    settings.clockGiven = line.options.count("--clock") != 0;
    settings.clock = OptionInteger(line, "--clock", 0, 0, 1 << 20);
    settings.loopback = OptionFlag(line, "--loopback");
    if (line.options.count("--awg")) {
        std::stringstream stream(line.options.at("--awg"));
        std::string item;
        while (std::getline(stream, item, ','))
            settings.waves.push_back(ParseWaveSpec(item, "--awg"));
        if (settings.waves.empty() || settings.waves.size() > 2)
            throw std::invalid_argument("--awg takes one or two waveforms (channels 0 and 1)");
    }
    settings.skipRecords = OptionInteger(line, "--skip-records", 0, 0, 1 << 30);
    if (settings.skipRecords > 0 && !line.simulated)
        throw std::invalid_argument("--skip-records needs simulated boards (--simulate)");
    return settings;
}

ConfiguredAcquisition CheckAcquisitionSettings(const AcquisitionSettings &settings) {
    ConfiguredAcquisition configured;
    DAQ_GetDeviceModel(settings.board, &configured.model);
    configured.lanes = Get(DAQ_GetADCNumber);
    const long length = settings.recordLength;
    const long maximum = Get(DAQ_GetMaxRecordLength);
    const long step = RecordLengthStep(configured.model);
    if (length > maximum || length % step != 0) {
        throw std::invalid_argument(
            "--record-length must lie in 32.." + std::to_string(maximum) +
            (step > 1 ? " and be a multiple of " + std::to_string(step) : std::string()) +
            " on this board (got " + std::to_string(length) + ")");
    }
    // The engine's ring of four frames must stay within 2 GiB.
    const long mostRecords = (1L << 28) / (static_cast<long>(configured.lanes) * length);
    if (settings.records > mostRecords)
        throw std::invalid_argument("--records must lie in 1.." + std::to_string(mostRecords) +
                                    " for a record length of " + std::to_string(length) +
                                    " on this board (got " + std::to_string(settings.records) +
                                    ")");
    if (settings.clockGiven) {
        float rate = 0;
        int32_t count = 0;
        DAQ_CheckSamplingRates(0, &rate, &count);
        if (settings.clock >= count)
            throw std::invalid_argument("--clock must lie in 0.." + std::to_string(count - 1) +
                                        " on this board (got " + std::to_string(settings.clock) +
                                        "); its rates by divider code: " + RatesText());
    }
    const int channels = Get(AWG_GetnelNum);
    if ((settings.loopback || !settings.waves.empty()) && channels == 0)
        throw std::invalid_argument(std::string(settings.loopback ? "--loopback" : "--awg") +
                                    " needs a board with a waveform generator (models 6 and 9: "
                                    "device IDs A002 and A006)");
    configured.recordLength = length;
    configured.records = settings.records;
    configured.points = length * settings.records;
    return configured;
}

ConfiguredAcquisition ConfigureAcquisition(const AcquisitionSettings &settings) {
    ConfiguredAcquisition configured = CheckAcquisitionSettings(settings);
    const long length = settings.recordLength;
    if (settings.clockGiven)
        Check("DAQ_SetSamplingRate", DAQ_SetSamplingRate(static_cast<int32_t>(settings.clock)));
    if (settings.loopback && SimulatedLoopback(settings.board, 1) != 0)
        throw std::invalid_argument("--loopback needs simulated boards (--simulate)");
    for (size_t channel = 0; channel < settings.waves.size(); ++channel)
        PlayWave(static_cast<int>(channel), settings.waves[channel]);
    Check("DAQ_ConfigAcquisition",
          DAQ_ConfigAcquisition(static_cast<uint32_t>(length),
                                static_cast<uint32_t>(settings.records)));
    // The frame in force, as the engine reports it: the board's records per frame are raised so
    // that a frame holds at least 524288 points; a delivered frame holds the first R of them.
    int32_t lengthInForce = 0, recordsInForce = 0;
    DAQ_GetRecordLength(&lengthInForce);
    DAQ_GetRecordNumber(&recordsInForce);
    if (lengthInForce != length || recordsInForce < settings.records)
        throw std::runtime_error("the engine reports another frame geometry after configuring (" +
                                 std::to_string(lengthInForce) + " x " +
                                 std::to_string(recordsInForce) + " records)");
    configured.recordsPerFrame = recordsInForce;
    uint32_t divider = 0;
    DAQ_GetSamplingRate(&divider, &configured.megasamples);
    return configured;
}

void SkipSimulatedRecords(const AcquisitionSettings &settings) {
    if (settings.skipRecords > 0 &&
        SimulatedSkipRecords(settings.board, static_cast<int>(settings.skipRecords)) != 0)
        throw std::runtime_error("the simulated board refused to skip records");
}

}  // namespace ostrel_daq
