// Internal operations shared by the generator exports: which channel numbers are usable, which
// channels reach the board, and the design and update of one channel.
#pragma once

#include <cstdint>

namespace ostrel {

// The channel state exists (between start-up and release) and the channel lies in 0..7, the room
// of the channel arrays. Exports refuse anything else with -1 before touching any state.
bool GeneratorChannelUsable(int32_t channel);

// The open board has a generator channel with this number: below AwgChannelCount and one of the
// two waveform memories. Other usable channels keep their parameters but never reach the board.
bool ChannelHasGenerator(int32_t channel);

// Stores the type and designs the channel's host table (channels with a table part only).
void DesignChannel(int32_t channel, int32_t waveformType);

// Rotates, scales and writes the channel's designed table into its waveform memory (generator
// channels of an open board only).
void UpdateChannel(int32_t channel);

// Holds every generator channel, waits 1 ms and releases them together. DAQ_OK, or DAQ_ERROR when
// no board is open or no channel state exists (then nothing is written).
int32_t SyncAllChannels();

}  // namespace ostrel
