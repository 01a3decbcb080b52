// The ostrel-daq commands. Each returns the process exit code; bad arguments throw
// std::invalid_argument, engine refusals throw EngineError.
#pragma once

#include <stdexcept>
#include <string>

#include "options.h"

namespace ostrel_daq {

struct EngineError : std::runtime_error {
    EngineError(const std::string &function, int result);
};

int ListBoards(const CommandLine &line);
int ShowInfo(const CommandLine &line);
int Acquire(const CommandLine &line);
int Calibrate(const CommandLine &line);
int Bandwidth(const CommandLine &line);
int Generate(const CommandLine &line);

}  // namespace ostrel_daq
