// Dynamic libraries and environment variables on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>

#include "platform/os/copy_text.h"
#include "platform/os/os_services.h"

namespace ostrel::os {

LibraryHandle LoadSharedLibrary(const char *nameOrPath, char *error, size_t errorSize) {
    CopyText("", error, errorSize);
    if (nameOrPath == nullptr || nameOrPath[0] == '\0') {
        CopyText("no library named", error, errorSize);
        return nullptr;
    }
    // No "cannot find the DLL" dialog box in the middle of an application: a failure is a result.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE library = LoadLibraryA(nameOrPath);
    const DWORD failure = GetLastError();
    SetErrorMode(previousMode);
    if (library == nullptr) {
        char reason[256] = {};
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           failure, 0, reason, sizeof reason, nullptr);
        // The system's text ends with a line break; the caller's message goes on after it.
        DWORD end = length;
        while (end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n' ||
                           reason[end - 1] == ' ' || reason[end - 1] == '.')) {
            reason[--end] = '\0';
        }
        if (error != nullptr && errorSize > 0) {
            std::snprintf(error, errorSize, "%s: %s (error %lu)", nameOrPath,
                          end > 0 ? reason : "cannot be loaded", static_cast<unsigned long>(failure));
        }
    }
    return reinterpret_cast<LibraryHandle>(library);
}

LibraryHandle LoadSharedLibraryOnOwnPath(const char *fileName, char *error, size_t errorSize) {
    // A DLL has no search path of its own: the caller tries the engine's folder first.
    return LoadSharedLibrary(fileName, error, errorSize);
}

LibraryHandle FindLoadedLibrary(const char *fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return nullptr;
    return reinterpret_cast<LibraryHandle>(GetModuleHandleA(fileName));
}

void *LibrarySymbol(LibraryHandle library, const char *name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool LibraryPathOf(const void *address, char *path, size_t pathSize) {
    CopyText("", path, pathSize);
    HMODULE module = nullptr;
    if (address == nullptr ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return false;
    }
    char full[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, full, sizeof full);
    if (length == 0 || length >= sizeof full) return false;
    CopyText(full, path, pathSize);
    return path != nullptr && pathSize > 0;
}

size_t EnvironmentValue(const char *name, char *value, size_t valueSize) {
    CopyText("", value, valueSize);
    if (name == nullptr || value == nullptr || valueSize == 0) return 0;
    const DWORD capacity = valueSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(valueSize);
    const DWORD length = GetEnvironmentVariableA(name, value, capacity);
    if (length >= capacity) {  // too long: the system wrote nothing and says what it needs
        value[0] = '\0';
        return length;
    }
    return length;
}

}  // namespace ostrel::os
