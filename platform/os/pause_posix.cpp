// POSIX: a sleep of microseconds, and the thread's name as top -H, gdb and profilers show it.
//
// The wake-up of a short sleep comes late on a virtual machine (a 20 us request lasts about 85 us
// typically and, now and then, far longer), so the caller asks for a fraction of the time it can
// afford to be away, never for all of it. An absolute deadline on the monotonic clock keeps a
// signal that interrupts the sleep from stretching it.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <cstring>

#include "platform/os/os_services.h"

namespace ostrel::os {

void SleepMicroseconds(uint32_t microseconds) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const uint64_t nanoseconds =
        static_cast<uint64_t>(deadline.tv_nsec) + static_cast<uint64_t>(microseconds) * 1000u;
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1000000000u);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void NameCurrentThread(const char *name) {
    if (name == nullptr) return;
    // Linux keeps 15 characters and the terminator; a longer name would be refused whole.
    char shortName[16] = {};
    std::strncpy(shortName, name, sizeof shortName - 1);
#if defined(__APPLE__)
    pthread_setname_np(shortName);
#else
    pthread_setname_np(pthread_self(), shortName);
#endif
}

}  // namespace ostrel::os
