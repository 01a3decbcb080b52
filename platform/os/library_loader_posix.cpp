// Dynamic libraries and environment variables on POSIX.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/copy_text.h"
#include "platform/os/os_services.h"

namespace ostrel::os {

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

LibraryHandle LoadSharedLibraryOnOwnPath(const char *fileName, char *error, size_t errorSize) {
    if (fileName == nullptr || fileName[0] == '\0') return LoadSharedLibrary(fileName, error, errorSize);
#if defined(__GLIBC__)
    Dl_info info{};
    void *self = nullptr;
    if (dladdr(reinterpret_cast<const void *>(&LoadSharedLibraryOnOwnPath), &info) != 0 &&
        info.dli_fname != nullptr) {
        self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    }
    if (self == nullptr) self = dlopen(nullptr, RTLD_NOW);  // linked into the program itself
    Dl_serinfo size{};
    if (self != nullptr && dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 &&
        size.dls_size >= sizeof(Dl_serinfo)) {
        // Dl_serinfo ends in an array of its entries followed by their names: one block.
        auto *search = static_cast<Dl_serinfo *>(std::malloc(size.dls_size));
        if (search != nullptr) {
            search->dls_size = size.dls_size;
            search->dls_cnt = size.dls_cnt;
            if (dlinfo(self, RTLD_DI_SERINFO, search) == 0) {
                const Dl_serpath *folders = &search->dls_serpath[0];
                for (unsigned int entry = 0; entry < search->dls_cnt; ++entry) {
                    const char *folder = folders[entry].dls_name;
                    if (folder == nullptr || folder[0] == '\0') continue;
                    char path[4096];
                    const int length = std::snprintf(path, sizeof path, "%s/%s", folder, fileName);
                    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) continue;
                    if (void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
                        std::free(search);
                        dlclose(self);
                        return library;
                    }
                }
            }
            std::free(search);
        }
    }
    if (self != nullptr) dlclose(self);
#endif
    return LoadSharedLibrary(fileName, error, errorSize);
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
