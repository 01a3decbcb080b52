#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace ostrel_daq {

namespace {

// Options that take no value.
bool IsFlag(const std::string &name) { return name == "--help" || name == "-h"; }

long ParseInteger(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE)
        throw std::invalid_argument(what + ": not a whole number: '" + text + "'");
    return value;
}

double ParseNumber(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw std::invalid_argument(what + ": not a number: '" + text + "'");
    return value;
}

}  // namespace

CommandLine ParseCommandLine(int argc, char **argv) {
    CommandLine line;
    for (int index = 1; index < argc; ++index) {
        std::string word = argv[index];
        if (word.rfind("-", 0) == 0 && word.size() > 1 && !std::isdigit(static_cast<unsigned char>(word[1]))) {
            if (IsFlag(word)) {
                line.help = true;
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
                                    std::to_string(maximum));
    return value;
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
