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
    bool help = false;
};

// Throws std::invalid_argument with a message for the user.
CommandLine ParseCommandLine(int argc, char **argv);

// Option accessors that check the value; each throws std::invalid_argument on a bad value.
long OptionInteger(const CommandLine &line, const std::string &name, long fallback, long minimum,
                   long maximum);
double OptionNumber(const CommandLine &line, const std::string &name, double fallback);
std::optional<double> OptionalNumber(const CommandLine &line, const std::string &name);
std::string OptionText(const CommandLine &line, const std::string &name,
                       const std::string &fallback);
int BoardArgument(const CommandLine &line);  // the N of "info N"

}  // namespace ostrel_daq
