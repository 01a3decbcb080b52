#include "calibration/delay_seconds.h"

#include "platform/os/os_services.h"

namespace ostrel {
namespace {

// The stores keep the compiler from removing the loop; nothing reads them.
void SpinEmpty(uint32_t iterations) {
    volatile uint32_t sink = 0;
    for (uint32_t i = 0; i < iterations; ++i) sink = i;
    (void)sink;
}

}  // namespace

int32_t DelaySeconds(float seconds) {
    const double requested = seconds;
    const int64_t frequency = os::PerformanceFrequency();
    if (frequency <= 0) return 0;
    const int64_t start = os::PerformanceCounter();
    double elapsed = 0.0;
    while (requested > elapsed) {
        const int64_t now = os::PerformanceCounter();
        elapsed = static_cast<double>(now - start) / static_cast<double>(frequency);
        SpinEmpty(kDelaySpinCount);
    }
    return 0;
}

}  // namespace ostrel
