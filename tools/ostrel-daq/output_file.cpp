#include "output_file.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel_daq {

namespace {

bool EndsWith(const std::string &text, const std::string &suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// NPY format version 1.0: magic, version, header length, a Python dict padded to 64 bytes.
std::string NumpyHeader(int frames, int lanes, long points) {
    std::string dict = "{'descr': '<i2', 'fortran_order': False, 'shape': (" +
                       std::to_string(frames) + ", " + std::to_string(lanes) + ", " +
                       std::to_string(points) + "), }";
    const size_t unpadded = 10 + dict.size() + 1;
    dict.append((64 - unpadded % 64) % 64, ' ');
    dict.push_back('\n');
    std::string header("\x93NUMPY\x01\x00", 8);
    header.push_back(static_cast<char>(dict.size() & 0xFF));
    header.push_back(static_cast<char>(dict.size() >> 8));
    return header + dict;
}

}  // namespace

FrameFile::FrameFile(const std::string &path, int frames, int lanes, long points)
    : lanes_(lanes), points_(points) {
    if (EndsWith(path, ".npy")) {
        numpy_ = true;
    } else if (!EndsWith(path, ".csv")) {
        throw std::invalid_argument("--output must end in .csv or .npy: '" + path + "'");
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) throw std::runtime_error("cannot create '" + path + "'");
    if (numpy_) {
        const std::string header = NumpyHeader(frames, lanes, points);
        std::fwrite(header.data(), 1, header.size(), file_);
    } else {
        std::fprintf(file_, "frame,point");
        for (int lane = 0; lane < lanes; ++lane) std::fprintf(file_, ",lane%d", lane);
        std::fprintf(file_, "\n");
    }
}

FrameFile::~FrameFile() {
    if (file_ != nullptr) std::fclose(file_);
}

void FrameFile::Write(int frameIndex, const int16_t *const *lanes) {
    if (numpy_) {
        for (int lane = 0; lane < lanes_; ++lane) {
            // int16 little-endian on every platform we build for.
            if (std::fwrite(lanes[lane], sizeof(int16_t), static_cast<size_t>(points_), file_) !=
                static_cast<size_t>(points_))
                throw std::runtime_error("write error");
        }
        return;
    }
    for (long point = 0; point < points_; ++point) {
        std::fprintf(file_, "%d,%ld", frameIndex, point);
        for (int lane = 0; lane < lanes_; ++lane) std::fprintf(file_, ",%d", lanes[lane][point]);
        std::fputc('\n', file_);
    }
    if (std::ferror(file_)) throw std::runtime_error("write error");
}

void FrameFile::Close() {
    if (file_ != nullptr) {
        const bool failed = std::fclose(file_) != 0;
        file_ = nullptr;
        if (failed) throw std::runtime_error("write error on close");
    }
}

}  // namespace ostrel_daq
