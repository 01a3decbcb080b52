// StatusText: the last message of discovery, opening and closing (and of the DMA bandwidth test).
// DAQ_GetStatusText hands it to programs: above all the reason no driver-access library was found.
#pragma once

#include "engine/printf_format.h"

namespace ostrel {

// Formats into StatusText, replacing what was there; long messages are cut, never overrun.
void SetStatusText(const char *format, ...) OSTREL_PRINTF_FORMAT(1, 2);

}  // namespace ostrel
