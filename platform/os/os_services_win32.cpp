// Win32 implementation of the OS services: Sleep, the performance counter and the C runtime's
// _beginthread / _endthread pair for the acquisition thread.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>
#include <process.h>

#include <cstdint>
#include <cstdio>
#include <new>

#include "platform/os/os_services.h"

namespace ostrel::os {

void SleepMilliseconds(uint32_t milliseconds) {
    // Sleep(INFINITE) never returns; the largest finite request is one below it.
    Sleep(milliseconds == INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds));
}

int64_t PerformanceCounter() {
    LARGE_INTEGER count;
    // Cannot fail on Windows XP and later.
    QueryPerformanceCounter(&count);
    return static_cast<int64_t>(count.QuadPart);
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(frequency.QuadPart);
}

uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return static_cast<uint64_t>(status.ullTotalPhys);
}

namespace {

struct ThreadStart {
    ThreadBody body;
    void *argument;
};

// Entry point given to _beginthread. The start record is freed before the body runs, and no
// object with a destructor is alive when _endthread ends the thread.
void __cdecl RunThread(void *start) {
    const ThreadStart copy = *static_cast<ThreadStart *>(start);
    delete static_cast<ThreadStart *>(start);
    copy.body(copy.argument);
    // The exit that pairs with _beginthread: it also closes the thread handle, which the caller
    // never sees.
    _endthread();
}

}  // namespace

bool StartThread(ThreadBody body, void *argument) {
    if (body == nullptr) return false;
    auto *start = new (std::nothrow) ThreadStart{body, argument};
    if (start == nullptr) return false;
    // Default stack size (0). _beginthread reports failure as all bits set.
    const uintptr_t thread = _beginthread(RunThread, 0, start);
    if (thread == static_cast<uintptr_t>(-1)) {
        delete start;
        return false;
    }
    return true;
}

bool FlushFileToDisk(std::FILE *file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    const int descriptor = _fileno(file);
    if (descriptor < 0) return false;
    // _commit hands the file's OS handle to FlushFileBuffers.
    return _commit(descriptor) == 0;
}

// NTFS journals its directory entries; a rename is on the disk once MoveFileEx returns with the
// write-through flag the runtime does not use, and there is no portable directory handle to flush.
bool FlushDirectoryToDisk(const char *) { return true; }

void CallInForkChild(void (*)()) {}

namespace {
// Set by the library's entry point when the process ends: Windows has ended every other thread of
// the process by then, so nothing may wait for one of them.
bool g_processEnding = false;
}  // namespace

bool OtherThreadsEnded() { return g_processEnding; }

}  // namespace ostrel::os

// The loader calls this before the runtime runs the library's static destructors. A non-null
// reserved argument on detach means the process is ending rather than the library being freed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) ostrel::os::g_processEnding = true;
    return TRUE;
}
