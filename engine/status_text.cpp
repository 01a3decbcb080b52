#include "engine/status_text.h"

#include <cstdarg>
#include <cstdio>

#include "engine/engine_state.h"

namespace ostrel {

void SetStatusText(const char *format, ...) {
    char *text = g_engine.discovery.StatusText;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text, kStatusTextSize, format, arguments);
    va_end(arguments);
    if (written < 0) text[0] = '\0';
}

}  // namespace ostrel
