// A caller's buffer of exactly the promised size whose last byte sits against a page that cannot be
// touched: a write (or read) one element past the end is a crash in the test, not a silent
// corruption of some neighbouring allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace ostrel_test {

template <typename T>
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t count) : count_(count) {
        const std::size_t page = PageBytes();
        const std::size_t bytes = count * sizeof(T);
        dataPages_ = (bytes + page - 1) / page * page;
        mappedBytes_ = dataPages_ + page;
#if defined(_WIN32)
        base_ = static_cast<uint8_t *>(
            VirtualAlloc(nullptr, mappedBytes_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        if (base_ != nullptr) VirtualProtect(base_ + dataPages_, page, PAGE_NOACCESS, &previous);
#else
        void *mapped = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t *>(mapped);
        if (base_ != nullptr) mprotect(base_ + dataPages_, page, PROT_NONE);
#endif
        data_ = base_ == nullptr ? nullptr : reinterpret_cast<T *>(base_ + dataPages_ - bytes);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;
    ~GuardedBuffer() {
        if (base_ == nullptr) return;
#if defined(_WIN32)
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, mappedBytes_);
#endif
    }

    T *data() { return data_; }
    std::size_t size() const { return count_; }
    void Fill(T value) {
        for (std::size_t i = 0; i < count_; ++i) data_[i] = value;
    }
    // Elements still holding value (never written since a Fill with it).
    std::size_t CountOf(T value) const {
        std::size_t found = 0;
        for (std::size_t i = 0; i < count_; ++i) found += data_[i] == value ? 1 : 0;
        return found;
    }

private:
    static std::size_t PageBytes() {
#if defined(_WIN32)
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
#else
        return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
    }

    std::size_t count_;
    std::size_t dataPages_ = 0;
    std::size_t mappedBytes_ = 0;
    uint8_t *base_ = nullptr;
    T *data_ = nullptr;
};

}  // namespace ostrel_test
