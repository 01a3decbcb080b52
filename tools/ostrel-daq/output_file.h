// Output files written whole or not at all: the data goes to a temporary file beside the target,
// renamed over it only once everything is written. A failed or interrupted command leaves no
// partial file (the temporary one is removed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ostrel_daq {

// A file being written under a temporary name. Throws std::invalid_argument naming the path and
// the reason when it cannot be created (a bad path is a usage error, found before anything runs).
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();  // removes the temporary file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    std::FILE *Stream() { return file_; }
    const std::string &Path() const { return path_; }
    // Throws std::runtime_error (path and reason) when a write failed.
    void CheckWrites();
    // Closes and renames over the target; throws std::runtime_error with path and reason.
    void Commit();

private:
    std::string path_;
    std::string temporary_;
    std::FILE *file_ = nullptr;
    bool committed_ = false;
    int signalSlot_ = -1;  // where the interrupt handler finds the temporary name
};

// Frames written to .csv (one row per point, one column per lane, frame index first) or .npy
// (int16 array of shape (frames, lanes, points)).
class FrameFile {
public:
    // Throws std::invalid_argument for an unknown extension or a path that cannot be written.
    explicit FrameFile(const std::string &path);
    // The shape, once the board's geometry is known; writes the header.
    void Begin(int frames, int lanes, long points);
    // lanes[l] holds the points of lane l. Throws std::runtime_error on a write error.
    void Write(int frameIndex, const int16_t *const *lanes);
    void Commit() { file_.Commit(); }

private:
    AtomicFile file_;
    bool numpy_ = false;
    int lanes_ = 0;
    long points_ = 0;
};

// The header of a .npy file (format 1.0) of int16 frames (frames, lanes, points): totalBytes long
// (a multiple of 64 keeps the data aligned), or the shortest multiple of 64 when 0. Throws
// std::logic_error when the shape does not fit in totalBytes.
std::string NumpyHeader(uint64_t frames, int lanes, long points, size_t totalBytes = 0);

bool EndsWith(const std::string &text, const std::string &suffix);

}  // namespace ostrel_daq
