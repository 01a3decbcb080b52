// The application's front-end settings and record geometry, saved before a calibration changes
// them and restored afterwards (SavedSettings in the engine state).
#pragma once

namespace ostrel {

// Reads the input channel, then the coupling, termination, gain and attenuation of that channel
// from the board. A setting the model lacks leaves its field as it was. (The record geometry is
// the calibrations' own business: they put the caller's back themselves.)
void SaveFrontEndSettings();

// Sets the saved input channel, then its coupling, termination, gain and attenuation, each
// re-choosing the offset in force as the setters do. On boards with two or four lanes only the lane
// named by the saved input channel gets its settings back; the others keep what the calibration
// gave them last.
void RestoreFrontEndSettings();

}  // namespace ostrel
