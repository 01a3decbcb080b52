// A board held open for the lifetime of a command, and the settings acquire and record share:
// record geometry, clock divider and generator, checked before the board is touched and against
// the board once it is open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

namespace ostrel_daq {

// DAQ_CheckSystem, with the engine's own explanation when it fails: without a driver-access
// library that names the library looked for and how to ask for simulated boards.
int32_t CheckSystem();

// Opens one board for the lifetime of a command and always closes it.
class OpenBoard {
public:
    explicit OpenBoard(int index);
    ~OpenBoard();
    OpenBoard(const OpenBoard &) = delete;
    OpenBoard &operator=(const OpenBoard &) = delete;
};

// The acquisition settings of acquire and record, as the command line gives them.
struct AcquisitionSettings {
    int board = 0;
    long recordLength = 1024;
    long records = 64;
    bool clockGiven = false;
    long clock = 0;
    bool loopback = false;
    std::vector<WaveSpec> waves;
    long skipRecords = 0;  // simulated boards: records the board leaves out after the start
};

// Checks everything that needs no board; throws std::invalid_argument with the valid range.
AcquisitionSettings ParseAcquisitionSettings(const CommandLine &line);

// The geometry in force once the board is configured.
struct ConfiguredAcquisition {
    int model = -1;
    int lanes = 0;
    long recordLength = 0;
    long records = 0;           // the configured record number: records per delivered frame
    long recordsPerFrame = 0;   // the board's records per frame, raised to the minimum frame size
    long points = 0;            // points per lane of a delivered frame
    float megasamples = 0;      // per lane
    double FrameBytes() const { return 2.0 * lanes * static_cast<double>(points); }
    bool Raised() const { return recordsPerFrame > records; }
};

// With the board open: checks the settings against it (std::invalid_argument) and returns the
// geometry they give, without changing anything (recordsPerFrame and megasamples stay 0).
ConfiguredAcquisition CheckAcquisitionSettings(const AcquisitionSettings &settings);

// CheckAcquisitionSettings, then sets the clock, the loopback and the generator and configures
// the acquisition.
ConfiguredAcquisition ConfigureAcquisition(const AcquisitionSettings &settings);

// Has a simulated board leave out settings.skipRecords records from now on.
void SkipSimulatedRecords(const AcquisitionSettings &settings);

}  // namespace ostrel_daq
