// Frames streamed into a .npy file whose frame count is known only at the end. The engine reads
// each frame straight into a batch of frames in memory; a writer thread writes full batches with
// one large write each while the next batch fills, and the header, written first with room for
// any count, gets the count once the last frame is in.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "output_file.h"

namespace ostrel_daq {

class FrameRecorder {
public:
    // Writes the header into file (at its start) and starts the writer thread. Frames are int16
    // (lanes, points); a batch holds about 16 MiB of them.
    FrameRecorder(AtomicFile &file, int lanes, long points);
    ~FrameRecorder();  // stops the writer; frames not yet written are dropped
    FrameRecorder(const FrameRecorder &) = delete;
    FrameRecorder &operator=(const FrameRecorder &) = delete;

    // The lane buffers of the next frame (points each; lanes beyond the frame's are null). Waits
    // while every batch is being written. Throws std::runtime_error once a write has failed.
    int16_t *const *NextFrame();
    // Keeps the frame just read into NextFrame()'s buffers.
    void KeepFrame();
    // Writes every kept frame, then the header with their count; throws std::runtime_error
    // naming the file and the reason on a write error.
    void Finish();

    uint64_t Frames() const { return frames_; }
    size_t FrameBytes() const { return frameBytes_; }

private:
    struct Batch {
        std::unique_ptr<int16_t[]> samples;
        size_t frames = 0;
    };
    void Submit();
    void WriteBatches();
    void ThrowIfFailed();

    AtomicFile &file_;
    const int lanes_;
    const long points_;
    const size_t frameBytes_;
    size_t framesPerBatch_ = 1;
    std::vector<Batch> batches_;
    int filling_ = -1;         // batch being filled by the reader, -1 for none
    int16_t *lanePointers_[4] = {nullptr, nullptr, nullptr, nullptr};
    uint64_t frames_ = 0;

    // Shared between the reader and the writer thread, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> free_;     // batches the reader may fill
    std::deque<int> full_;     // batches waiting for the writer
    bool finishing_ = false;   // no batch will come any more
    bool discard_ = false;     // drop what is waiting (the recording is abandoned)
    int writeError_ = 0;       // errno of the first failed write
    std::thread writer_;
};

}  // namespace ostrel_daq
