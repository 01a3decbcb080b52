// ostrel-daq: list boards, show a board, acquire or record frames to a file, calibrate, test the
// DMA path and drive the waveform generator, from a shell.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"
#include "simulator.h"

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
          "acquire N [--output FILE] [--plot FILE.svg] [--frames K] [--record-length L] "
          "[--records R] [--clock CODE] [--timeout S] [--allow-loss] [--loopback] "
          "[--awg WAVE[,WAVE]] [--skip-records C]",
          "Acquires K consecutive frames (default 1, up to 1000000) of board N. Each frame holds "
          "R records (default 64) of L points per lane (default 1024; 32 up to the board's "
          "maximum, a multiple of 4 on models 6, 9 and 10 and of 8 on model 7); below 524288 "
          "points per frame the engine raises the records per board frame and delivers the first "
          "R, so consecutive frames are not contiguous in time. A frame with records missing, or "
          "frames lost between two, ends the command with status 1 and no file; --allow-loss "
          "keeps such frames (missing records read 0) and prints what was lost. --output FILE: "
          ".csv (one row per point) or .npy (int16 array (frames, lanes, points)); --plot "
          "FILE.svg: a scope trace of the last frame. Files appear only complete. --clock selects "
          "a clock-divider code of the board's table (see 'info'); --timeout bounds the wait for "
          "each frame (default 5 s, at most 86400). --awg plays waveforms on the generator "
          "(models 6 and 9) before acquiring, channel 0 then 1, each SHAPE:FREQUENCY:AMPLITUDE"
          "[:OFFSET[:DUTY]] such as sine:1e6:2; --loopback feeds the simulated generator into "
          "the ADC lanes, e.g. 'ostrel-daq --simulate A006 --loopback acquire 0 --awg "
          "sine:1e6:2,square:2e6:1 --plot trace.svg'. --skip-records C (simulated boards) has "
          "the board leave out C records once the first frame is in, to see how a loss is "
          "reported."}},
        {"record",
         {Record,
          "record N --duration S --output FILE.npy [--ring-frames K] [--allow-loss] "
          "[--record-length L] [--records R] [--clock CODE] [--loopback] [--awg WAVE[,WAVE]] "
          "[--skip-records C]",
          "Records every frame of board N for S seconds (0.001..86400) into FILE.npy, an int16 "
          "array (frames, lanes, points), and beside it FILE.frames.csv: per frame its sequence "
          "number, completion time (ns, monotonic clock), records valid, records expected and "
          "flags (1 complete, 2 frames lost before it). Geometry, --clock, --loopback, --awg and "
          "--skip-records as for 'acquire'. Frames below 524288 points (L x R x lanes) are raised "
          "by the engine to more records per board frame, of which each frame keeps the first "
          "R: consecutive frames are then not contiguous in time (the completion times show the "
          "spacing). K frames (2..1024, default 64) wait in the engine's queue; when the file "
          "cannot keep up the oldest is dropped. Files appear only complete, shown by a progress "
          "bar of frames, MB/s and loss. Anything lost (a gap in the sequence, a frame with "
          "records missing, which read 0) gives exit status 1, with the files kept and the loss "
          "printed; --allow-loss makes it status 0."}},
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
          "output for as long as the command holds the board. Frequency 0..150e6 Hz (default "
          "1e6); amplitude 0..4.75, 4.75 spanning the whole code range (default 1.0); offset in "
          "the same unit with amplitude + 2 x |offset| <= 4.75; phase -2 pi..2 pi radians; duty "
          "0..1. To see the waveform, use 'acquire --loopback --awg'."}},
    };
    return commands;
}

std::string KnownDevices();

void PrintUsage(std::FILE *stream) {
    std::fprintf(stream,
                 "usage: ostrel-daq [--simulate ID,ID,...] COMMAND [arguments]\n\n"
                 "commands:\n");
    for (const auto &[name, command] : Commands())
        std::fprintf(stream, "  %-10s %s\n", name.c_str(), command.help);
    std::fprintf(stream,
                 "\nWithout --simulate the tool reaches real boards through the driver-access\n"
                 "library (OSTREL_DRIVER_LIBRARY names it; 'list' shows the one in use).\n"
                 "--simulate A006,A001 puts simulated boards with these device IDs on the bus\n"
                 "instead (as OSTREL_SIMULATE=A006,A001 does); known IDs: %s.\n"
                 "'ostrel-daq COMMAND --help' shows a command's arguments.\n"
                 "Exit status: 0 success, 1 the board refused or failed, 2 bad usage.\n",
                 KnownDevices().c_str());
}

// The device IDs of the boards the engine drives, with what each is.
struct KnownDevice {
    uint32_t id;
    const char *what;
};
constexpr KnownDevice kKnownDevices[] = {
    {0xA001, "model 5, 1 lane, 14 bits"},  {0xA002, "model 6, 2 lanes, generator"},
    {0xA004, "model 7, 1 lane, 12 bits"},  {0xA005, "model 8, 4 lanes"},
    {0xA006, "model 9, 2 lanes, generator"}, {0xA007, "model 10, 1 lane"},
    {0xE001, "model 7, 1 lane, 12 bits"},
};

std::string KnownDevices() {
    std::string text;
    for (const KnownDevice &device : kKnownDevices) {
        char entry[64];
        std::snprintf(entry, sizeof entry, "%s%04X (%s)", text.empty() ? "" : ", ", device.id,
                      device.what);
        text += entry;
    }
    return text;
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
                                        "A006,A001: '" + item + "'; known: " + KnownDevices());
        bool known = false;
        for (const KnownDevice &device : kKnownDevices) known = known || device.id == id;
        if (!known)
            throw std::invalid_argument("--simulate: unknown device ID '" + item +
                                        "'; known: " + KnownDevices());
        ids.push_back(static_cast<uint32_t>(id));
    }
    if (ids.empty() || ids.size() > 64)
        throw std::invalid_argument("--simulate takes 1 to 64 device IDs (got " +
                                    std::to_string(ids.size()) + ")");
    RequestSimulatedBoards(list);
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
            line.simulated = true;
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
