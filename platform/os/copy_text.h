// Text handed out into a caller's buffer of a given size: always terminated, cut to fit, empty for
// a null text; nothing written for a null or empty buffer.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ostrel::os {

inline void CopyText(const char *text, char *buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return;
    std::snprintf(buffer, size, "%s", text != nullptr ? text : "");
}

}  // namespace ostrel::os
