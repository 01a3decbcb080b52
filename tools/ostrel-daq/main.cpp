// ostrel-daq: list boards, show a board, acquire frames to a file, calibrate, test the DMA path
// and drive the waveform generator, from a shell.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "OstrelBoardSim.h"
#include "commands.h"
#include "options.h"

namespace {

using namespace ostrel_daq;

struct Command {
    int (*run)(const CommandLine &);
    const char *usage;
    const char *help;
};

const std::map<std::string, Command> &Commands() {
    static const std::map<std::string, Command> commands = {
        {"list", {ListBoards, "list", "Lists the boards on the bus."}},
        {"info",
         {ShowInfo, "info N",
          "Shows board N: model, parameters, sampling-rate table and the front-end settings in "
          "force."}},
        {"acquire",
         {Acquire,
          "acquire N --frames K --output FILE [--record-length L] [--records R] [--clock CODE] "
          "[--timeout S]",
          "Acquires K frames (default 1) of R records (default 64) of L points per lane (default "
          "1024) from board N into FILE (.csv: one row per point; .npy: int16 array (frames, "
          "lanes, points)). --clock selects a clock-divider code; --timeout bounds the wait for "
          "each frame (default 5 s)."}},
        {"calibrate",
         {Calibrate, "calibrate N",
          "Runs the DC-offset calibration of board N over every front-end setting and prints "
          "the offset table it wrote to the card-data file."}},
        {"bandwidth", {Bandwidth, "bandwidth N", "Measures the DMA transfer rate of board N."}},
        {"awg",
         {Generate,
          "awg N [--channel C] [--shape sine|square|triangle] [--frequency HZ] [--amplitude A] "
          "[--offset O] [--phase RAD] [--duty D]",
          "Sets generator channel C (default 0) of board N (models 6 and 9) and enables its "
          "output. Amplitude 4.75 spans the full range (default 1.0); frequency default 1 MHz."}},
    };
    return commands;
}

void PrintUsage(std::FILE *stream) {
    std::fprintf(stream,
                 "usage: ostrel-daq [--simulate ID,ID,...] COMMAND [arguments]\n\n"
                 "commands:\n");
    for (const auto &[name, command] : Commands())
        std::fprintf(stream, "  %-10s %s\n", name.c_str(), command.help);
    std::fprintf(stream,
                 "\n--simulate A006,A001 puts simulated boards with these device IDs on the bus.\n"
                 "'ostrel-daq COMMAND --help' shows a command's arguments.\n");
}

void Simulate(const std::string &list) {
    std::vector<uint32_t> ids;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        char *end = nullptr;
        const unsigned long id = std::strtoul(item.c_str(), &end, 16);
        if (item.empty() || *end != '\0' || id > 0xFFFF)
            throw std::invalid_argument("--simulate takes hexadecimal device IDs such as "
                                        "A006,A001: '" + item + "'");
        ids.push_back(static_cast<uint32_t>(id));
    }
    if (ids.empty() || SIM_SetBoards(ids.data(), static_cast<int>(ids.size())) != 0)
        throw std::invalid_argument("--simulate: between 1 and 64 boards");
}

}  // namespace

int main(int argc, char **argv) {
    try {
        CommandLine line = ParseCommandLine(argc, argv);
        if (line.command.empty()) {
            PrintUsage(line.help ? stdout : stderr);
            return line.help ? 0 : 2;
        }
        const auto found = Commands().find(line.command);
        if (found == Commands().end()) {
            std::fprintf(stderr, "ostrel-daq: unknown command '%s'\n\n", line.command.c_str());
            PrintUsage(stderr);
            return 2;
        }
        if (line.help) {
            std::printf("usage: ostrel-daq %s\n\n%s\n", found->second.usage, found->second.help);
            return 0;
        }
        const std::string usage = found->second.usage;
        for (const auto &[name, value] : line.options)
            if (name != "--simulate" && usage.find(name + " ") == std::string::npos &&
                usage.find(name + "]") == std::string::npos)
                throw std::invalid_argument("unknown option '" + name + "' for " + line.command +
                                            " (see 'ostrel-daq " + line.command + " --help')");
        if (auto simulate = line.options.find("--simulate"); simulate != line.options.end()) {
            Simulate(simulate->second);
            line.options.erase(simulate);
        }
        return found->second.run(line);
    } catch (const std::invalid_argument &error) {
        std::fprintf(stderr, "ostrel-daq: %s\n", error.what());
        return 2;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "ostrel-daq: %s\n", error.what());
        return 1;
    }
}
