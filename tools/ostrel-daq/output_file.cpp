#include "output_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#define OSTREL_GETPID _getpid
#define OSTREL_UNLINK _unlink
#else
#include <unistd.h>
#define OSTREL_GETPID getpid
#define OSTREL_UNLINK unlink
#endif

namespace ostrel_daq {

namespace {

std::string Reason(int error) { return std::strerror(error); }

// Temporary files of this process, removed also when an interrupt or termination ends it (the
// handler then lets the signal end the process as it would have).
constexpr int kMaxTemporaries = 4;
char g_temporaries[kMaxTemporaries][4096];
volatile std::sig_atomic_t g_temporaryUsed[kMaxTemporaries];

extern "C" void RemoveTemporariesAndEnd(int signalNumber) {
    for (int slot = 0; slot < kMaxTemporaries; ++slot)
        if (g_temporaryUsed[slot]) OSTREL_UNLINK(g_temporaries[slot]);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

int RememberTemporary(const std::string &path) {
    static const bool installed = [] {
        std::signal(SIGINT, RemoveTemporariesAndEnd);
        std::signal(SIGTERM, RemoveTemporariesAndEnd);
        return true;
    }();
    (void)installed;
    for (int slot = 0; slot < kMaxTemporaries; ++slot) {
        if (g_temporaryUsed[slot] || path.size() >= sizeof g_temporaries[slot]) continue;
        std::memcpy(g_temporaries[slot], path.c_str(), path.size() + 1);
        g_temporaryUsed[slot] = 1;
        return slot;
    }
    return -1;
}

void ForgetTemporary(int slot) {
    if (slot >= 0) g_temporaryUsed[slot] = 0;
}

}  // namespace

std::string NumpyHeader(uint64_t frames, int lanes, long points, size_t totalBytes) {
    std::string dict = "{'descr': '<i2', 'fortran_order': False, 'shape': (" +
                       std::to_string(frames) + ", " + std::to_string(lanes) + ", " +
                       std::to_string(points) + "), }";
    // Magic and version (8 bytes), the dictionary's length (2), the dictionary, a line end.
    const size_t unpadded = 10 + dict.size() + 1;
    const size_t size = totalBytes != 0 ? totalBytes : unpadded + (64 - unpadded % 64) % 64;
    if (size < unpadded || size - 10 > 0xFFFF)
        throw std::logic_error("a .npy header of " + std::to_string(unpadded) +
                               " bytes does not fit in " + std::to_string(size));
    dict.append(size - unpadded, ' ');
    dict.push_back('\n');
    std::string header("\x93NUMPY\x01\x00", 8);
    header.push_back(static_cast<char>(dict.size() & 0xFF));
    header.push_back(static_cast<char>(dict.size() >> 8));
    return header + dict;
}

bool EndsWith(const std::string &text, const std::string &suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    temporary_ = path_ + ".partial-" + std::to_string(OSTREL_GETPID());
    std::error_code error;
    if (std::filesystem::is_directory(path_, error))
        throw std::invalid_argument("cannot write '" + path_ + "': it is a directory");
    errno = 0;
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (file_ == nullptr)
        throw std::invalid_argument("cannot write '" + path_ + "': " + Reason(errno));
    signalSlot_ = RememberTemporary(temporary_);
}

AtomicFile::~AtomicFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) std::remove(temporary_.c_str());
    ForgetTemporary(signalSlot_);
}

void AtomicFile::CheckWrites() {
    if (file_ != nullptr && std::ferror(file_))
        throw std::runtime_error("cannot write '" + path_ + "': " + Reason(errno));
}

void AtomicFile::Commit() {
    CheckWrites();
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed)
        throw std::runtime_error("cannot write '" + path_ + "': " +
                                 Reason(flushError != 0 ? flushError : errno));
#ifdef _WIN32
    std::remove(path_.c_str());  // rename does not replace an existing file there
#endif
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        throw std::runtime_error("cannot rename '" + temporary_ + "' to '" + path_ + "': " +
                                 Reason(errno));
    committed_ = true;
    ForgetTemporary(signalSlot_);
    signalSlot_ = -1;
}

FrameFile::FrameFile(const std::string &path)
    : file_((EndsWith(path, ".npy") || EndsWith(path, ".csv"))
                ? path
                : throw std::invalid_argument("--output must end in .csv or .npy: '" + path +
                                              "'")),
      numpy_(EndsWith(path, ".npy")) {}

void FrameFile::Begin(int frames, int lanes, long points) {
    lanes_ = lanes;
    points_ = points;
    if (numpy_) {
        const std::string header = NumpyHeader(frames, lanes, points);
        std::fwrite(header.data(), 1, header.size(), file_.Stream());
    } else {
        std::fprintf(file_.Stream(), "frame,point");
        for (int lane = 0; lane < lanes; ++lane) std::fprintf(file_.Stream(), ",lane%d", lane);
        std::fprintf(file_.Stream(), "\n");
    }
    file_.CheckWrites();
}

void FrameFile::Write(int frameIndex, const int16_t *const *lanes) {
    std::FILE *stream = file_.Stream();
    if (numpy_) {
        for (int lane = 0; lane < lanes_; ++lane) {
            // int16 little-endian on every platform we build for.
            if (std::fwrite(lanes[lane], sizeof(int16_t), static_cast<size_t>(points_), stream) !=
                static_cast<size_t>(points_))
                file_.CheckWrites();
        }
        file_.CheckWrites();
        return;
    }
    for (long point = 0; point < points_; ++point) {
        std::fprintf(stream, "%d,%ld", frameIndex, point);
        for (int lane = 0; lane < lanes_; ++lane) std::fprintf(stream, ",%d", lanes[lane][point]);
        std::fputc('\n', stream);
    }
    file_.CheckWrites();
}

}  // namespace ostrel_daq
