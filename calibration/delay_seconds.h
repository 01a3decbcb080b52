// The settle delay of the DC-offset sweep.
#pragma once

#include <cstdint>

namespace ostrel {

// Empty iterations between two readings of the counter.
constexpr uint32_t kDelaySpinCount = 100000;

// Busy-waits until at least the given seconds have passed on the high-resolution counter, reading
// the counter before each run of kDelaySpinCount empty iterations, and returns 0. A request of 0
// or less (or not a number) returns at once. Spinning rather than sleeping keeps the delay free of
// the scheduler's tick, which on some systems is 15 ms, a third of the settle time.
int32_t DelaySeconds(float seconds);

}  // namespace ostrel
