// Small helpers for tests that set up a simulated bus and look at the engine's texts.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "OstrelBoardSim.h"
#include "engine/engine_state.h"

namespace ostrel::test {

// Puts exactly these boards on the simulated bus, in scan order.
inline void UseBoards(const std::vector<uint32_t> &deviceIds) {
    ASSERT_EQ(SIM_SetBoards(deviceIds.data(), static_cast<int>(deviceIds.size())), 0);
}

inline std::string ErrorText() { return g_engine.discovery.ErrorText; }
inline std::string StatusText() { return g_engine.discovery.StatusText; }

// printf into a std::string, to build the expected message from the library's own status text.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string Format(const char *format, ...) {
    char text[4096];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

// Accesses the engine made while the log was on.
inline std::vector<SimAccess> AccessLog() {
    std::vector<SimAccess> entries(4096);
    const int count = SIM_GetAccessLog(entries.data(), static_cast<int>(entries.size()));
    entries.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return entries;
}

}  // namespace ostrel::test
