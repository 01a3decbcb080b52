// What the real-time benchmarks share: the simulated board of a model, the CPU time of a named
// thread and of the process, and a competing busy process. Linux only (/proc, fork).
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace ostrel_bench {

inline uint32_t DeviceIdOf(int model) {
    static const uint32_t ids[] = {0xA001, 0xA002, 0xA004, 0xA005, 0xA006, 0xA007};
    return ids[model - 5];
}

inline double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// CPU seconds of the process's thread with the given name (first field of schedstat, in ns);
// negative when there is none.
inline double ThreadCpuSeconds(const char *name) {
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return -1.0;
    double seconds = -1.0;
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm != name) continue;
        unsigned long long nanoseconds = 0;
        if (std::ifstream(task + "/schedstat") >> nanoseconds) seconds = nanoseconds / 1e9;
        break;
    }
    closedir(tasks);
    return seconds;
}

inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// CPU seconds of the calling thread.
inline double ThreadCpuNow() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// One competing busy process for the life of the object.
class BusyProcess {
public:
    explicit BusyProcess(bool wanted) {
        if (!wanted) return;
        pid_ = fork();
        if (pid_ == 0) {
            volatile uint64_t spin = 0;
            for (;;) spin = spin + 1;
        }
    }
    ~BusyProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    BusyProcess(const BusyProcess &) = delete;
    BusyProcess &operator=(const BusyProcess &) = delete;

private:
    pid_t pid_ = -1;
};

}  // namespace ostrel_bench
