// The ostrel-daq commands. Each returns the process exit code; bad arguments throw
// std::invalid_argument, engine refusals throw EngineError.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "options.h"

namespace ostrel_daq {

struct EngineError : std::runtime_error {
    EngineError(const std::string &function, int result);
};

int Check(const char *function, int result);  // throws EngineError for a negative result

// Limits the tool checks before it touches a board.
constexpr double kMaxTimeout = 86400.0;      // seconds of waiting for one frame
constexpr double kFullScale = 4.75;          // generator amplitude spanning the whole code range
constexpr double kMaxGeneratorHz = 150e6;    // half the 300 MHz generator clock

// A generator waveform: SHAPE:FREQUENCY:AMPLITUDE[:OFFSET[:DUTY]].
struct WaveSpec {
    std::string shape;
    int type = 0;
    double frequency = 0, amplitude = 0, offset = 0;
    std::optional<double> duty;
};
int ShapeCode(const std::string &shape, const std::string &what);
void CheckWave(const WaveSpec &wave, const std::string &what);
WaveSpec ParseWaveSpec(const std::string &text, const std::string &what);
void PlayWave(int channel, const WaveSpec &wave);

int ListBoards(const CommandLine &line);
int ShowInfo(const CommandLine &line);
int Acquire(const CommandLine &line);
int Record(const CommandLine &line);
int Calibrate(const CommandLine &line);
int Bandwidth(const CommandLine &line);
int Generate(const CommandLine &line);

}  // namespace ostrel_daq
