// Shared pieces of the fuzz targets: buffers that end flush against a protected page, a reader
// that turns input bytes into arguments, a private working directory, and the simulator's
// resource counts that must read 0 once the engine is closed.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "../support/guarded_buffer.h"
#include "OstrelBoardSim.h"

namespace ostrel_fuzz {

// Stops the run with a message; a fuzz finding is a crash, so abort() is the report.
[[noreturn]] inline void Fail(const char *what, long long detail = 0) {
    std::fprintf(stderr, "FUZZ FINDING: %s (%lld)\n", what, detail);
    std::fflush(stderr);
    std::abort();
}

// A caller buffer of exactly `bytes` bytes whose last byte is followed by a page that may not be
// read or written (the tests' guarded buffer), so that an overrun of even one byte is a crash at
// the faulting access. Zero bytes gives a valid pointer to the protected page itself.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t bytes) : buffer_(bytes) {
        if (buffer_.data() == nullptr) Fail("guarded buffer", static_cast<long long>(bytes));
    }

    template <typename T>
    T *As() {
        return reinterpret_cast<T *>(buffer_.data());
    }
    std::size_t Bytes() const { return buffer_.size(); }

private:
    ostrel_test::GuardedBuffer<unsigned char> buffer_;
};

// One value of type T in a guarded buffer: the pointer a getter receives.
template <typename T>
class GuardedValue {
public:
    GuardedValue() : buffer_(sizeof(T)) {}
    T *Pointer() { return buffer_.As<T>(); }
    T Value() {
        T value;
        std::memcpy(&value, buffer_.As<unsigned char>(), sizeof(T));
        return value;
    }

private:
    GuardedBuffer buffer_;
};

// Reads arguments from the input bytes front to back; past the end every read gives 0.
class ByteReader {
public:
    ByteReader(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return position_ >= size_; }
    std::size_t Remaining() const { return size_ - position_; }

    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
    uint64_t U64() { return static_cast<uint64_t>(U32()) | (static_cast<uint64_t>(U32()) << 32); }
    bool Bool() { return (Byte() & 1) != 0; }
    // A value below count (count > 0).
    uint32_t Below(uint32_t count) { return Byte() % count; }

    // Integers that matter more often than a uniform draw would give them: small values, the
    // edges of the signed and unsigned ranges, and anything else.
    int32_t Int() {
        switch (Byte() % 8) {
            case 0: return static_cast<int32_t>(Byte() % 8);
            case 1: return -1 - static_cast<int32_t>(Byte() % 4);
            case 2: return std::numeric_limits<int32_t>::min() + static_cast<int32_t>(Byte() % 4);
            case 3: return std::numeric_limits<int32_t>::max() - static_cast<int32_t>(Byte() % 4);
            case 4: return static_cast<int32_t>(Byte()) + 0x8000 * static_cast<int32_t>(Byte() % 3);
            default: return static_cast<int32_t>(U32());
        }
    }

    // Floats including the ones a careful caller never passes.
    float Float() {
        switch (Byte() % 12) {
            case 0: return std::numeric_limits<float>::quiet_NaN();
            case 1: return std::numeric_limits<float>::infinity();
            case 2: return -std::numeric_limits<float>::infinity();
            case 3: return std::numeric_limits<float>::max();
            case 4: return -std::numeric_limits<float>::max();
            case 5: return std::numeric_limits<float>::denorm_min();
            case 6: return -0.0f;
            case 7: return static_cast<float>(static_cast<int8_t>(Byte())) / 16.0f;
            default: {
                const uint32_t bits = U32();
                float value;
                std::memcpy(&value, &bits, sizeof(value));
                return value;
            }
        }
    }

    double Double() {
        switch (Byte() % 12) {
            case 0: return std::numeric_limits<double>::quiet_NaN();
            case 1: return std::numeric_limits<double>::infinity();
            case 2: return -std::numeric_limits<double>::infinity();
            case 3: return std::numeric_limits<double>::max();
            case 4: return -1.0 * static_cast<double>(U16());
            case 5: return std::numeric_limits<double>::denorm_min();
            case 6: return 300.0e6 * static_cast<double>(Byte() % 4);  // around the step limit
            case 7: return static_cast<double>(U32());
            default: {
                const uint64_t bits = U64();
                double value;
                std::memcpy(&value, &bits, sizeof(value));
                return value;
            }
        }
    }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The simulator's resource counts; each must read 0 once the engine has closed.
inline void ExpectNoResourcesHeld(const char *when) {
    const int resources[] = {SIM_RESOURCE_DRIVER_OPEN, SIM_RESOURCE_DEVICE_HANDLES,
                             SIM_RESOURCE_DMA_BUFFERS, SIM_RESOURCE_CONTROL_DEVICE};
    for (const int resource : resources) {
        const int count = SIM_GetResourceCount(resource);
        if (count != 0) {
            std::fprintf(stderr, "resource %d still held %s\n", resource, when);
            Fail("simulator resource count not back to 0", count);
        }
    }
}

inline void ClearAllFaults() {
    for (int fault = SIM_FAULT_DEBUG_OPTIONS; fault <= SIM_FAULT_EVENT_UNREGISTER; ++fault) {
        SIM_SetFault(fault, 0);
    }
}

// A fresh directory of the process's own, entered for the length of each input: the card-data
// file lives in the current directory, and a fuzz run must neither read a stray one nor leave
// files behind in the tree. The caller's directory is entered again after each input, so that
// relative corpus and artifact paths keep their meaning for the fuzzer.
class PrivateDirectory {
public:
    explicit PrivateDirectory(const char *prefix) {
        namespace fs = std::filesystem;
        std::random_device random;
        for (unsigned attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(random()));
            std::error_code error;
            if (fs::create_directory(candidate, error)) path_ = candidate;
        }
        if (path_.empty()) Fail("no private working directory");
    }
    ~PrivateDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    void Enter() {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    void Leave() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline void RemoveCardDataFiles() {
    std::error_code error;
    std::filesystem::remove_all("CardData_K9T3A.dat", error);
    std::filesystem::remove_all("CardData_P2W8B.dat", error);
}

}  // namespace ostrel_fuzz
