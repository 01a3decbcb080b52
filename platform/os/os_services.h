// OS services the engine needs: sleep, a monotonic high-resolution counter, thread start and the
// driver control device. One POSIX and one Win32 implementation stand behind this header.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ostrel::os {

// Sleeps for at least the given milliseconds (Sleep on Windows).
void SleepMilliseconds(uint32_t milliseconds);

// Sleeps for at least the given microseconds (clock_nanosleep on POSIX; a high-resolution
// waitable timer on Windows where there is one, otherwise yielding until the time has passed).
// The wake-up may come late on a busy or virtual machine: ask for a fraction of the time that can
// be spared.
void SleepMicroseconds(uint32_t microseconds);

// Gives the calling thread a name that top -H, debuggers and profilers show (pthread_setname_np,
// at most 15 characters; SetThreadDescription on Windows where it exists).
void NameCurrentThread(const char *name);

// Puts the calling thread ahead of ordinary threads, as far as the process may: on Linux the lowest
// real-time priority (SCHED_FIFO 1) where the process has the privilege, otherwise nice -10 where
// allowed and a short time slice (honoured from Linux 6.12 on); on Windows the time-critical
// priority of the normal class. False when nothing could be changed. A thread so raised must sleep
// between bursts of work: one that keeps its processor busy locks ordinary threads out of it.
bool RaiseThreadPriority();
// Back to the ordinary scheduling of a thread.
void RestoreThreadPriority();

// Monotonic high-resolution counter and its ticks per second (QueryPerformanceCounter and
// QueryPerformanceFrequency on Windows).
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// Starts a detached thread running body(argument) (_beginthread on Windows). The body ends by
// returning. Returns false when the thread could not be created.
using ThreadBody = void (*)(void *argument);
bool StartThread(ThreadBody body, void *argument);

// The driver control device "\\.\windrvr6". A handle of -1 is invalid.
using ControlHandle = intptr_t;
constexpr ControlHandle kInvalidControlHandle = -1;

// Opens the device for read access, shared read and write, open-existing, overlapped.
ControlHandle OpenControlDevice();
// Sends one control request; *output receives the device's result word. Returns false when the
// request could not be sent.
bool ControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                          uint32_t inputBytes, uint32_t *output);
void CloseControlDevice(ControlHandle handle);

// Flushes a file's buffered bytes and asks the OS to put them on the disk before returning, so a
// rename that follows never exposes a file whose bytes are still only in memory. False when either
// step fails. (fflush + fsync on POSIX; fflush + _commit or FlushFileBuffers on Windows.)
bool FlushFileToDisk(std::FILE *file);
// Puts a directory's entries on the disk (after a rename into it), so the new name survives a
// power loss. True where the OS offers no such flush (Windows, or a file system that refuses it).
bool FlushDirectoryToDisk(const char *directory);

// Runs handler in the child of every later fork(), before fork returns there (POSIX only; there is
// no fork on Windows). The child has none of the parent's other threads.
void CallInForkChild(void (*handler)());

// True once the process has begun to end in a way that has already ended every other thread
// (Windows ends them before it unloads a library at process exit); false on POSIX, where static
// destruction runs while other threads still do.
bool OtherThreadsEnded();

}  // namespace ostrel::os
