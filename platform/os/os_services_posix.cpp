// POSIX implementation of the OS services.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace ostrel::os {

void SleepMilliseconds(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) == -1 && errno == EINTR) {
    }
}

int64_t PerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int64_t PerformanceFrequency() { return 1000000000LL; }

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageBytes <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes);
}

namespace {

struct ThreadStart {
    ThreadBody body;
    void *argument;
};

void *RunThread(void *start) {
    ThreadStart copy = *static_cast<ThreadStart *>(start);
    delete static_cast<ThreadStart *>(start);
    copy.body(copy.argument);
    return nullptr;
}

}  // namespace

bool StartThread(ThreadBody body, void *argument) {
    auto *start = new (std::nothrow) ThreadStart{body, argument};
    if (start == nullptr) return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, RunThread, start);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete start;
        return false;
    }
    return true;
}

bool FlushFileToDisk(std::FILE *file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    const int descriptor = fileno(file);
    if (descriptor < 0) return false;
    int result = 0;
    while ((result = fsync(descriptor)) == -1 && errno == EINTR) {
    }
    return result == 0;
}

bool FlushDirectoryToDisk(const char *directory) {
    const int descriptor = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return false;
    int result = 0;
    while ((result = fsync(descriptor)) == -1 && errno == EINTR) {
    }
    // Some file systems cannot flush a directory; the rename is then as durable as they make it.
    const bool flushed = result == 0 || errno == EINVAL || errno == ENOTSUP;
    close(descriptor);
    return flushed;
}

void CallInForkChild(void (*handler)()) { pthread_atfork(nullptr, nullptr, handler); }

bool OtherThreadsEnded() { return false; }

}  // namespace ostrel::os
