// ostrel-daq record: every frame of a board for a while, into a .npy file and a side file that
// tells, frame by frame, what the engine knows about it.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "OstrelDAQEngine.h"
#include "board_session.h"
#include "commands.h"
#include "frame_recorder.h"
#include "output_file.h"
#include "progress_bar.h"
#include "stream_loss.h"

namespace ostrel_daq {

namespace {

using Clock = std::chrono::steady_clock;

// The engine's queue of frames stays within this much memory.
constexpr double kMaxQueueBytes = 2.0 * 1024 * 1024 * 1024;
// A read waits at most this long before the command looks at the clock again.
constexpr int32_t kReadSliceMs = 50;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

std::string SideFilePath(const std::string &output) {
    return output.substr(0, output.size() - 4) + ".frames.csv";
}

}  // namespace

int Record(const CommandLine &line) {
    // Everything that needs no board is checked first.
    const AcquisitionSettings settings = ParseAcquisitionSettings(line);
    if (!line.options.count("--duration"))
        throw std::invalid_argument("record needs --duration S (0.001..86400 s)");
    const double duration = OptionNumberIn(line, "--duration", 1.0, 0.001, kMaxTimeout, "s");
    const long ringFrames = OptionInteger(line, "--ring-frames", 64, 2, 1024);
    const bool allowLoss = OptionFlag(line, "--allow-loss");
    const std::string output = OptionText(line, "--output", "");
    if (output.empty()) throw std::invalid_argument("record needs --output FILE.npy");
    if (!EndsWith(output, ".npy"))
        throw std::invalid_argument("record writes .npy files: --output must end in .npy: '" +
                                    output + "'");
    // Both files exist under temporary names from here on and replace their targets only once
    // complete: an unwritable path is refused now, before the board is touched.
    AtomicFile data(output);
    AtomicFile side(SideFilePath(output));

    OpenBoard board(settings.board);
    // The queue's size is checked with the rest, before anything is configured (and allocated).
    const double frameBytes = CheckAcquisitionSettings(settings).FrameBytes();
    if (ringFrames * frameBytes > kMaxQueueBytes) {
        const long most = std::max(2L, static_cast<long>(kMaxQueueBytes / frameBytes));
        throw std::invalid_argument(
            "--ring-frames must lie in 2.." + std::to_string(most) + " for frames of " +
            std::to_string(static_cast<long long>(frameBytes)) +
            " bytes (the queue stays within 2 GiB; got " + std::to_string(ringFrames) + ")");
    }
    const ConfiguredAcquisition acquisition = ConfigureAcquisition(settings);

    FrameRecorder recorder(data, acquisition.lanes, acquisition.points);
    std::fprintf(side.Stream(), "sequence,completed_ns,records_valid,records_expected,flags\n");
    StreamLoss loss;
    ProgressBar progress("record");
    Check("DAQ_StreamStart",
          DAQ_StreamStart(static_cast<int32_t>(ringFrames), DAQ_STREAM_DROP_OLDEST));
    const Clock::time_point started = Clock::now();
    const Clock::time_point end = started + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(duration));
    // From here on the stream has to be stopped on every way out.
    struct StopStream {
        ~StopStream() { DAQ_StreamStop(); }
    } stopStream;

    bool stopped = false;
    int32_t ending = 0;
    Clock::time_point shown{};
    auto progressText = [&](Clock::time_point now) {
        const double elapsed = std::max(Seconds(now - started), 1e-9);
        char detail[160];
        std::snprintf(detail, sizeof detail, "%" PRIu64 " frames, %.1f MB/s, lost %s",
                      recorder.Frames(), recorder.Frames() * frameBytes / elapsed / 1e6,
                      loss.Brief().c_str());
        return std::string(detail);
    };
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (!stopped && now >= end) {
            // Frames queued before the stop are still delivered, then DAQ_ENDED.
            Check("DAQ_StreamStop", DAQ_StreamStop());
            stopped = true;
        }
        int16_t *const *lanes = recorder.NextFrame();
        DAQ_FrameInfo info{};
        info.size = sizeof info;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        const int32_t waitMs = stopped ? 0 : static_cast<int32_t>(std::clamp<long long>(
                                                 left, 1, kReadSliceMs));
        const int32_t result = DAQ_StreamRead(lanes[0], lanes[1], lanes[2], lanes[3],
                                              static_cast<uint32_t>(acquisition.points), &info,
                                              waitMs);
        if (result == DAQ_TIMEOUT) continue;
        if (result == DAQ_ENDED || result == DAQ_OVERFLOW) {
            ending = result;
            break;
        }
        Check("DAQ_StreamRead", result);
        recorder.KeepFrame();
        // Once the run is under way (a loss at its very start goes unnoticed).
        if (recorder.Frames() == 1) SkipSimulatedRecords(settings);
        loss.Add(info);
        std::fprintf(side.Stream(), "%" PRIu64 ",%" PRId64 ",%" PRIu32 ",%" PRIu32 ",%" PRIu32 "\n",
                     info.frameSequence, info.completedNs, info.recordsValid,
                     info.recordsExpected, info.flags);
        if (now - shown > std::chrono::milliseconds(100)) {
            shown = now;
            progress.Update(std::min(1.0, Seconds(now - started) / duration), progressText(now));
        }
    }
    const Clock::time_point finished = Clock::now();
    const double seconds = std::max(Seconds(finished - started), 1e-9);
    progress.Finish(progressText(finished));
    if (ending == DAQ_ENDED && !stopped)
        throw std::runtime_error("the stream ended before the duration was over");
    if (recorder.Frames() == 0) {
        char text[128];
        std::snprintf(text, sizeof text, "no frame completed within %g s", duration);
        throw std::runtime_error(text);
    }
    recorder.Finish();
    side.Commit();
    data.Commit();

    const uint64_t frames = recorder.Frames();
    const double boardMBps = acquisition.megasamples * acquisition.lanes * 2.0;
    std::printf("%" PRIu64 " frame%s of %d lane%s x %ld points (%ld records of %ld) in %.3f s: "
                "%.1f frames/s, %.1f MB/s written (the board produces %.1f MB/s at %g MS/s)\n",
                frames, frames == 1 ? "" : "s", acquisition.lanes,
                acquisition.lanes == 1 ? "" : "s", acquisition.points, acquisition.records,
                acquisition.recordLength, seconds, frames / seconds,
                frames * frameBytes / seconds / 1e6, boardMBps, acquisition.megasamples);
    if (acquisition.Raised())
        std::printf("frames of %ld records were raised to %ld by the engine: consecutive frames "
                    "are not contiguous in time\n",
                    acquisition.records, acquisition.recordsPerFrame);
    std::printf("lost: %s\n", loss.Text().c_str());
    std::printf("written to %s, frame by frame information in %s\n", output.c_str(),
                side.Path().c_str());
    if (ending == DAQ_OVERFLOW)
        throw std::runtime_error("the stream stopped on a full queue");
    if (loss.Any() && !allowLoss) {
        std::fprintf(stderr, "ostrel-daq: frames or records were lost (kept in the files, see "
                             "the flags of %s); --allow-loss accepts a recording with loss\n",
                     side.Path().c_str());
        return 1;
    }
    return 0;
}

}  // namespace ostrel_daq
