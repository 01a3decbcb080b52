// The application's front-end settings and record geometry, saved before a calibration changes
// them and restored afterwards (SavedSettings in the engine state).
#pragma once

namespace ostrel {

// Reads the input channel, then the coupling, termination, gain and attenuation of that channel,
// through the getters, and copies the record length and count of the last configuration. A getter
// with nothing to report on the model leaves its field as it was.
void SaveFrontEndSettings();

// Sets the saved input channel, then its coupling, termination, gain and attenuation, and
// configures the saved record length and count. On boards with two or four lanes only the lane
// named by the saved input channel gets its settings back; the others keep what the calibration
// gave them last.
void RestoreFrontEndSettings();

}  // namespace ostrel
