// Offset table, choice of the offsets in force, and the open-time step that loads the card data
// and sets the initial inputs.
#pragma once

#include <cstdint>
#include <optional>

#include "calibration/card_data.h"
#include "frontend/front_end_settings.h"

namespace ostrel {

// Entry of the offset table for a lane and a front-end setting, with the lane varying fastest,
// then coupling, termination, gain and attenuation, scaled by the opened model's setting counts.
// nullopt when the setting reaches outside the table (a register holding a value no setter
// meant), so no caller ever reads outside it.
std::optional<int32_t> OffsetIndex(int32_t lane, int32_t coupling, int32_t termination,
                                   int32_t gain, int32_t attenuation);

// The offset in force for a table entry: the entry plus mid-scale, kept as a 16-bit value.
int16_t OffsetInForce(int16_t tableEntry);

// Re-chooses the offset in force of a lane from the settings read back from the board (all five
// to mid-scale while a DC-offset calibration runs). A setting outside the table leaves the offset
// in force as it was. Returns 0.
int32_t UpdateChannelOffset(int32_t lane);

// Writes one front-end setting of a lane (gain, attenuation, coupling or termination) and
// re-chooses the lane's offset in force, since the readout subtracts the offset of the setting in
// force. The write's result (see WriteFrontEndSetting).
int32_t SetLaneSetting(FrontEndSetting setting, int32_t lane, int32_t value);

// Open-time step, before the board model is applied: a table that holds the offsets of a board
// with another device ID is cleared, as they mean nothing on this board; a board with the same
// device ID keeps the table (a calibration made in this process survives a failed save).
void AdoptOffsetTable(uint32_t deviceId);

// Open-time step: card data, the model's initial inputs, offsets of every lane. Returns 0.
int32_t ApplyInitialInputs();

}  // namespace ostrel
