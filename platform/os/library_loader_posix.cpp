// Dynamic libraries and environment variables on POSIX.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/os_services.h"

namespace ostrel::os {

namespace {

void CopyText(const char *text, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return;
    std::snprintf(buffer, size, "%s", text != nullptr ? text : "");
}

}  // namespace

LibraryHandle LoadSharedLibrary(const char *nameOrPath, char *error, size_t errorSize) {
    CopyText("", error, errorSize);
    if (nameOrPath == nullptr || nameOrPath[0] == '\0') {
        CopyText("no library named", error, errorSize);
        return nullptr;
    }
    // Local binding: the library's symbols must not stand in for anyone else's.
    void *library = dlopen(nameOrPath, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) CopyText(dlerror(), error, errorSize);
    return library;
}

LibraryHandle FindLoadedLibrary(const char *fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return nullptr;
    // The loader matches a bare name against the file and SONAME of every library loaded.
    return dlopen(fileName, RTLD_NOW | RTLD_NOLOAD);
}

void *LibrarySymbol(LibraryHandle library, const char *name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

bool LibraryPathOf(const void *address, char *path, size_t pathSize) {
    CopyText("", path, pathSize);
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
    CopyText(info.dli_fname, path, pathSize);
    return path != nullptr && pathSize > 0 && path[0] != '\0';
}

size_t EnvironmentValue(const char *name, char *value, size_t valueSize) {
    CopyText("", value, valueSize);
    const char *found = name != nullptr ? std::getenv(name) : nullptr;
    if (found == nullptr) return 0;
    CopyText(found, value, valueSize);
    return std::strlen(found);
}

}  // namespace ostrel::os
