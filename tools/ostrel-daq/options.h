// Command-line parsing of ostrel-daq: a command, positional arguments and --name value options.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel_daq {

struct CommandLine {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--frames" -> "10"; flags map to ""
    bool simulated = false;  // --simulate was given
    bool help = false;
};

// Throws std::invalid_argument with a message for the user.
CommandLine ParseCommandLine(int argc, char **argv);

// Option accessors that check the value; each throws std::invalid_argument with the valid range
// on a bad value.
long OptionInteger(const CommandLine &line, const std::string &name, long fallback, long minimum,
                   long maximum);
double OptionNumber(const CommandLine &line, const std::string &name, double fallback);
std::optional<double> OptionalNumber(const CommandLine &line, const std::string &name);
// A finite number within minimum..maximum (unit names what it counts, e.g. "s" or "Hz").
double OptionNumberIn(const CommandLine &line, const std::string &name, double fallback,
                      double minimum, double maximum, const std::string &unit = "");
bool OptionFlag(const CommandLine &line, const std::string &name);
// "name must lie in minimum..maximum unit (got text)", the message of a value out of range.
std::string RangeMessage(const std::string &name, double minimum, double maximum,
                         const std::string &unit, const std::string &got);
double ParseNumber(const std::string &text, const std::string &what);
std::string OptionText(const CommandLine &line, const std::string &name,
                       const std::string &fallback);
int BoardArgument(const CommandLine &line);  // the N of "info N"

}  // namespace ostrel_daq
