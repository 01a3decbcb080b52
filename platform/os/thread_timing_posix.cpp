// POSIX: a sleep of microseconds, the thread's name as top -H, gdb and profilers show it, and the
// scheduling class of a thread that must answer within a millisecond.
//
// The wake-up of a short sleep comes late on a virtual machine (a 20 us request lasts about 85 us
// typically and, now and then, far longer), so the caller asks for a fraction of the time it can
// afford to be away, never for all of it. An absolute deadline on the monotonic clock keeps a
// signal that interrupts the sleep from stretching it.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

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

#if defined(__linux__)
namespace {

// The kernel's sched_attr (sched_setattr has no C library wrapper before glibc 2.41).
struct SchedulingAttributes {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;  // for SCHED_OTHER: the slice the thread asks for (kernels from 6.12 on)
    uint64_t deadline;
    uint64_t period;
};

constexpr uint64_t kShortSliceNanoseconds = 100000;
constexpr int32_t kRaisedNice = -10;

bool SetAttributes(uint32_t policy, int32_t nice, uint32_t priority, uint64_t slice) {
    SchedulingAttributes attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = policy;
    attributes.nice = nice;
    attributes.priority = priority;
    attributes.runtime = slice;
    return syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

}  // namespace

bool RaiseThreadPriority() {
    // The lowest real-time priority is above every ordinary thread, which is all that is needed;
    // it takes a privilege (CAP_SYS_NICE or an RLIMIT_RTPRIO), which a process often lacks.
    if (SetAttributes(SCHED_FIFO, 0, 1, 0)) return true;
    // Without it: a higher weight where that is allowed, and a short slice (no privilege needed),
    // so that the thread is let in at once when it wakes on a busy processor.
    if (SetAttributes(SCHED_OTHER, kRaisedNice, 0, kShortSliceNanoseconds)) return true;
    return SetAttributes(SCHED_OTHER, 0, 0, kShortSliceNanoseconds);
}

void RestoreThreadPriority() { SetAttributes(SCHED_OTHER, 0, 0, 0); }
#else
bool RaiseThreadPriority() { return false; }
void RestoreThreadPriority() {}
#endif

}  // namespace ostrel::os
