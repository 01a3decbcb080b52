#include "frame_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace ostrel_daq {

namespace {

constexpr size_t kBatchBytes = 16u << 20;  // one write: large enough that the call costs nothing
constexpr size_t kMaxFramesPerBatch = 256;
// Room for the header of any frame count: format 1.0 with a 20-digit count fits in 128 bytes,
// which also keeps the samples 64-byte aligned in the file.
constexpr size_t kHeaderBytes = 128;

}  // namespace

FrameRecorder::FrameRecorder(AtomicFile &file, int lanes, long points)
    : file_(file), lanes_(lanes), points_(points),
      frameBytes_(static_cast<size_t>(lanes) * static_cast<size_t>(points) * sizeof(int16_t)) {
    framesPerBatch_ = std::clamp<size_t>(kBatchBytes / std::max<size_t>(frameBytes_, 1), 1,
                                         kMaxFramesPerBatch);
    // Three batches: one filling, one being written, one spare for a write that is slow for a
    // moment. Frames above 64 MiB have two, a frame each.
    const int count = frameBytes_ > (64u << 20) ? 2 : 3;
    for (int index = 0; index < count; ++index) {
        Batch batch;
        // Zeroed, so that its pages are had now rather than while the first frames come in.
        batch.samples.reset(new int16_t[framesPerBatch_ * static_cast<size_t>(lanes) *
                                        static_cast<size_t>(points)]());
        batches_.push_back(std::move(batch));
        free_.push_back(index);
    }
    const std::string header = NumpyHeader(0, lanes, points, kHeaderBytes);
    if (std::fwrite(header.data(), 1, header.size(), file_.Stream()) != header.size())
        file_.CheckWrites();
    file_.CheckWrites();
    writer_ = std::thread([this] { WriteBatches(); });
}

FrameRecorder::~FrameRecorder() {
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finishing_ = true;
            discard_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
}

void FrameRecorder::ThrowIfFailed() {
    if (writeError_ != 0)
        throw std::runtime_error("cannot write '" + file_.Path() + "': " +
                                 std::strerror(writeError_));
}

int16_t *const *FrameRecorder::NextFrame() {
    if (filling_ < 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || writeError_ != 0; });
        ThrowIfFailed();
        filling_ = free_.front();
        free_.pop_front();
        batches_[static_cast<size_t>(filling_)].frames = 0;
    }
    Batch &batch = batches_[static_cast<size_t>(filling_)];
    int16_t *frame = batch.samples.get() + batch.frames * static_cast<size_t>(lanes_) *
                                               static_cast<size_t>(points_);
    for (int lane = 0; lane < 4; ++lane)
        lanePointers_[lane] =
            lane < lanes_ ? frame + static_cast<size_t>(lane) * static_cast<size_t>(points_)
                          : nullptr;
    return lanePointers_;
}

void FrameRecorder::KeepFrame() {
    Batch &batch = batches_[static_cast<size_t>(filling_)];
    ++batch.frames;
    ++frames_;
    if (batch.frames == framesPerBatch_) Submit();
}

void FrameRecorder::Submit() {
    if (filling_ < 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (batches_[static_cast<size_t>(filling_)].frames > 0) full_.push_back(filling_);
        else free_.push_back(filling_);
    }
    filling_ = -1;
    changed_.notify_all();
}

void FrameRecorder::WriteBatches() {
    std::FILE *stream = file_.Stream();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !full_.empty() || finishing_; });
        if (full_.empty() || discard_) return;
        const int index = full_.front();
        full_.pop_front();
        const bool failed = writeError_ != 0;
        lock.unlock();
        const Batch &batch = batches_[static_cast<size_t>(index)];
        const size_t bytes = batch.frames * frameBytes_;
        int error = 0;
        if (!failed) {
            errno = 0;
            if (std::fwrite(batch.samples.get(), 1, bytes, stream) != bytes)
                error = errno != 0 ? errno : EIO;
        }
        lock.lock();
        if (error != 0 && writeError_ == 0) writeError_ = error;
        free_.push_back(index);
        changed_.notify_all();
    }
}

void FrameRecorder::Finish() {
    Submit();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    writer_.join();
    ThrowIfFailed();
    std::FILE *stream = file_.Stream();
    const std::string header = NumpyHeader(frames_, lanes_, points_, kHeaderBytes);
    errno = 0;
    if (std::fflush(stream) != 0 || std::fseek(stream, 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), stream) != header.size())
        throw std::runtime_error("cannot write '" + file_.Path() + "': " +
                                 std::strerror(errno != 0 ? errno : EIO));
    file_.CheckWrites();
}

}  // namespace ostrel_daq
