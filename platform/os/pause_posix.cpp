// POSIX: a short sleep. Its wake-up is late by the timer slack (about 85 us in all for 20 us) and,
// on a loaded machine, now and then by milliseconds; sched_yield looks faster but is worse here:
// a thread that keeps yielding stays runnable, the scheduler charges it like a busy loop and
// pre-empts it for whole time slices, and on the simulator it also takes the processor from the
// board's own thread. Measured over 10 s per model at the fastest rate, the yielding loop lost
// several times more records (partial frames) than this sleep, idle and under load alike.
#include <time.h>

#include "platform/os/os_services.h"

namespace ostrel::os {

void PauseBriefly() {
    timespec pause{0, 20000L};
    nanosleep(&pause, nullptr);
}

}  // namespace ostrel::os
