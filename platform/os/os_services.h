// OS services the engine needs: sleep, a monotonic high-resolution counter, thread start and the
// driver control device. One POSIX and one Win32 implementation stand behind this header.
#pragma once

#include <cstddef>
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

// Bytes of physical memory of the machine (sysconf on POSIX, GlobalMemoryStatusEx on Windows); 0
// when it cannot be told.
uint64_t PhysicalMemoryBytes();

// Starts a detached thread running body(argument) (_beginthread on Windows). The body ends by
// returning. Returns false when the thread could not be created.
using ThreadBody = void (*)(void *argument);
bool StartThread(ThreadBody body, void *argument);

// The driver control device "\\.\windrvr6". A handle of -1 is invalid. The driver-access
// library provides it when it offers the control-device operations (the simulator does);
// otherwise, and always with OSTREL_KERNEL_DRIVER, the kernel driver's own device is used.
using ControlHandle = intptr_t;
constexpr ControlHandle kInvalidControlHandle = -1;

// Opens the device for read access, shared read and write, open-existing, overlapped.
ControlHandle OpenControlDevice();
// Sends one control request; *output receives the device's result word. Returns false when the
// request could not be sent.
bool ControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                          uint32_t inputBytes, uint32_t *output);
void CloseControlDevice(ControlHandle handle);

// The kernel driver's own device: "\\.\windrvr6" through CreateFileA and DeviceIoControl on
// Windows, /dev/windrvr6 on POSIX. A POSIX driver takes no Windows control code, so there the
// request is not sent and reports false (its result is not looked at).
ControlHandle OpenKernelControlDevice();
bool KernelControlDeviceRequest(ControlHandle handle, uint32_t controlCode, const void *input,
                                uint32_t inputBytes, uint32_t *output);
void CloseKernelControlDevice(ControlHandle handle);

// Dynamic libraries (dlopen and dlsym on POSIX, LoadLibraryA and GetProcAddress on Windows). A
// loaded library is never unloaded: the engine keeps pointers into it for the rest of the process.
using LibraryHandle = void *;
// Loads a library by path or by file name (then through the system's search path); null on
// failure, with the loader's reason in error (always terminated).
LibraryHandle LoadSharedLibrary(const char *nameOrPath, char *error, size_t errorSize);
// Loads a library by file name from the folders the engine's own file is searched with (its run
// path among them), then as LoadSharedLibrary does. (A sanitizer that intercepts dlopen makes
// the loader search the sanitizer's folders instead of the engine's.)
LibraryHandle LoadSharedLibraryOnOwnPath(const char *fileName, char *error, size_t errorSize);
// The library of that file name if the process has loaded it already, else null; loads nothing.
LibraryHandle FindLoadedLibrary(const char *fileName);
void *LibrarySymbol(LibraryHandle library, const char *name);
// The file path of the library that holds address (a function of it), cut to pathSize bytes;
// false (path empty) when the loader cannot say.
bool LibraryPathOf(const void *address, char *path, size_t pathSize);

// The value of an environment variable as the process holds it (GetEnvironmentVariableA on
// Windows, so that a value set with SetEnvironmentVariable or _putenv is seen), cut to valueSize
// bytes. Returns the length of the whole value: 0 (value empty) when the variable is not set or
// is empty, valueSize or more when it was cut.
size_t EnvironmentValue(const char *name, char *value, size_t valueSize);

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
