// What stands behind the driver-access contract, and the engine's last status message: how a
// program tells simulated boards from real ones and learns why no board could be reached.
#include <algorithm>
#include <cstring>

#include "OstrelDAQEngine.h"
#include "driver/driver_binding.h"
#include "engine/engine_state.h"

namespace {

// Copies text into a caller's buffer of size bytes, cut and always terminated.
void CopyCut(const char *text, char *buffer, int32_t size) {
    const size_t capacity = static_cast<size_t>(size) - 1;
    const size_t length = std::min(std::strlen(text), capacity);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

}  // namespace

extern "C" {

OSTREL_API int32_t DAQ_GetDriverLibrary(char *path, int32_t pathSize,
                                        int32_t *simulated) noexcept {
    if (path == nullptr || pathSize < 1 || simulated == nullptr) return DAQ_ERROR;
    if (!ostrel::DriverLibraryBound()) return DAQ_ERROR;
    CopyCut(ostrel::DriverLibraryPath(), path, pathSize);
    *simulated = ostrel::DriverLibrarySimulated() ? 1 : 0;
    return DAQ_OK;
}

OSTREL_API int32_t DAQ_GetStatusText(char *text, int32_t textSize) noexcept {
    if (text == nullptr || textSize < 1) return DAQ_ERROR;
    CopyCut(ostrel::g_engine.discovery.StatusText, text, textSize);
    return DAQ_OK;
}

}  // extern "C"
