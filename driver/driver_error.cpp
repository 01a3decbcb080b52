// ErrorText: the driver layer's one message buffer. Nothing of this layer is printed or logged
// anywhere else.
#include <cstdarg>
#include <cstdio>

#include "driver/driver_layer.h"
#include "engine/engine_state.h"

namespace ostrel {

void DriverError(const char *format, ...) {
    char *text = g_engine.discovery.ErrorText;
    // vsnprintf keeps at most size - 1 characters and always terminates, so a long message
    // keeps its first 255 characters.
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text, kErrorTextSize, format, arguments);
    va_end(arguments);
    if (written < 0) text[0] = '\0';  // an encoding failure leaves an empty message, not garbage
}

void DriverTrace(const char *, ...) {}

const char *DriverLastError() { return g_engine.discovery.ErrorText; }

}  // namespace ostrel
