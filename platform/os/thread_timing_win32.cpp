// Win32: a sleep of microseconds, the thread's description as debuggers and profilers show it, and
// the priority of a thread that must answer within a millisecond.
//
// Sleep waits for whole timer ticks (1 to 15.6 ms), longer than the board's descriptor buffer lasts
// at its fastest rates. A high-resolution waitable timer (Windows 10 1803 and later) sleeps for
// the time asked; where there is none the thread gives up its time slices until the time has
// passed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "platform/os/os_services.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace ostrel::os {

namespace {

// Without a high-resolution timer: the thread gives up its time slice until the time has passed.
void YieldFor(uint32_t microseconds) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const LONGLONG ticks = frequency.QuadPart * static_cast<LONGLONG>(microseconds) / 1000000;
    do {
        SwitchToThread();
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < ticks);
}

}  // namespace

void SleepMicroseconds(uint32_t microseconds) {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        YieldFor(microseconds);
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(microseconds) * 10;  // relative, in 100 ns units
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        WaitForSingleObject(timer, INFINITE);  // the timer is due within the microseconds asked
    } else {
        YieldFor(microseconds);
    }
    CloseHandle(timer);
}

void NameCurrentThread(const char *name) {
    if (name == nullptr) return;
    // SetThreadDescription exists from Windows 10 1607 on; looked up so that older systems load.
    using SetDescription = HRESULT(WINAPI *)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto setDescription = reinterpret_cast<SetDescription>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetThreadDescription")));
    if (setDescription == nullptr) return;
    wchar_t wide[64] = {};
    for (size_t i = 0; i + 1 < sizeof wide / sizeof wide[0] && name[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    setDescription(GetCurrentThread(), wide);
}

bool RaiseThreadPriority() {
    // The highest priority of the normal class: ahead of every ordinary thread of the machine, not
    // in the real-time class, which would need the process's priority class raised.
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

void RestoreThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL); }

}  // namespace ostrel::os
