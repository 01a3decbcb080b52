// Frames written to .csv (one row per point, one column per lane, frame index first) or .npy
// (int16 array of shape (frames, lanes, points)).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ostrel_daq {

class FrameFile {
public:
    // Throws std::invalid_argument for an unknown extension, std::runtime_error when the file
    // cannot be created.
    FrameFile(const std::string &path, int frames, int lanes, long points);
    ~FrameFile();
    FrameFile(const FrameFile &) = delete;
    FrameFile &operator=(const FrameFile &) = delete;

    // lanes[l] holds the points of lane l. Throws std::runtime_error on a write error.
    void Write(int frameIndex, const int16_t *const *lanes);
    void Close();

private:
    std::FILE *file_ = nullptr;
    bool numpy_ = false;
    int lanes_;
    long points_;
};

}  // namespace ostrel_daq
