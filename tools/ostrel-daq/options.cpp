#include "options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace ostrel_daq {

namespace {

// Options that take no value.
bool IsHelp(const std::string &name) { return name == "--help" || name == "-h"; }
bool IsFlag(const std::string &name) { return name == "--loopback" || name == "--allow-loss"; }

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

long ParseInteger(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE)
        throw std::invalid_argument(what + ": not a whole number: '" + text + "'");
    return value;
}

}  // namespace

double ParseNumber(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw std::invalid_argument(what + ": not a finite number: '" + text + "'");
    return value;
}

std::string RangeMessage(const std::string &name, double minimum, double maximum,
                         const std::string &unit, const std::string &got) {
    return name + " must lie in " + Number(minimum) + ".." + Number(maximum) +
           (unit.empty() ? "" : " " + unit) + " (got " + got + ")";
}

CommandLine ParseCommandLine(int argc, char **argv) {
    CommandLine line;
    for (int index = 1; index < argc; ++index) {
        std::string word = argv[index];
        if (word.rfind("-", 0) == 0 && word.size() > 1 && !std::isdigit(static_cast<unsigned char>(word[1]))) {
            if (IsHelp(word)) {
                line.help = true;
                continue;
            }
            if (IsFlag(word)) {
                line.options[word] = "";
                continue;
            }
            std::string value;
            const auto equals = word.find('=');
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
                word = word.substr(0, equals);
            } else {
                if (index + 1 >= argc) throw std::invalid_argument(word + " needs a value");
                value = argv[++index];
            }
            line.options[word] = value;
        } else if (line.command.empty()) {
            line.command = word;
        } else {
            line.positional.push_back(word);
        }
    }
    return line;
}

long OptionInteger(const CommandLine &line, const std::string &name, long fallback, long minimum,
                   long maximum) {
    const auto found = line.options.find(name);
    if (found == line.options.end()) return fallback;
    const long value = ParseInteger(found->second, name);
    if (value < minimum || value > maximum)
        throw std::invalid_argument(name + " must lie in " + std::to_string(minimum) + ".." +
                                    std::to_string(maximum) + " (got " + found->second + ")");
    return value;
}

double OptionNumberIn(const CommandLine &line, const std::string &name, double fallback,
                      double minimum, double maximum, const std::string &unit) {
    const auto found = line.options.find(name);
    if (found == line.options.end()) return fallback;
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(found->second.c_str(), &end);
    const bool parsed = !found->second.empty() && end != nullptr && *end == '\0';
    if (!parsed) throw std::invalid_argument(name + ": not a number: '" + found->second + "'");
    // NaN, infinities and values that overflow land here too, with the range in the message.
    if (!(value >= minimum && value <= maximum) || errno == ERANGE)
        throw std::invalid_argument(RangeMessage(name, minimum, maximum, unit, found->second));
    return value;
}

bool OptionFlag(const CommandLine &line, const std::string &name) {
    return line.options.count(name) != 0;
}

double OptionNumber(const CommandLine &line, const std::string &name, double fallback) {
    const auto value = OptionalNumber(line, name);
    return value ? *value : fallback;
}

std::optional<double> OptionalNumber(const CommandLine &line, const std::string &name) {
    const auto found = line.options.find(name);
    if (found == line.options.end()) return std::nullopt;
    return ParseNumber(found->second, name);
}

std::string OptionText(const CommandLine &line, const std::string &name,
                       const std::string &fallback) {
    const auto found = line.options.find(name);
    return found == line.options.end() ? fallback : found->second;
}

int BoardArgument(const CommandLine &line) {
    if (line.positional.empty())
        throw std::invalid_argument(line.command + " needs a board index (see 'ostrel-daq list')");
    if (line.positional.size() > 1)
        throw std::invalid_argument("unexpected argument '" + line.positional[1] + "'");
    const long value = ParseInteger(line.positional[0], "board index");
    if (value < 0 || value > 14) throw std::invalid_argument("board index must lie in 0..14");
    return static_cast<int>(value);
}

}  // namespace ostrel_daq
