// Win32: hand the rest of the time slice to another ready thread. Sleep would wait for a whole
// timer tick (1 to 15.6 ms), longer than the board's descriptor buffer lasts at its fastest rate.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/os/os_services.h"

namespace ostrel::os {

void PauseBriefly() { SwitchToThread(); }

}  // namespace ostrel::os
