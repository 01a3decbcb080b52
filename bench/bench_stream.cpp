// Streaming at each model's fastest rate on the simulated board in real time, read by a reader
// that keeps up, against the plain acquisition of the same geometry in the same run; beside a
// same-run memcpy of the same bytes.
//
//   BM_Stream/model:M   OSTREL_STREAM_SECONDS (default 3) of DAQ_StreamRead after a 0.5 s start,
//                       record length 1024, the record number at which a frame holds the minimum
//                       524288 points (nothing raised: every record the board makes is
//                       delivered), divider code 0, a queue of 16 frames dropping the oldest;
//                       then as long of the plain acquisition of the same geometry. Counters:
//     frames           frames delivered in the window
//     frames_lost      frames the sequence skipped (dropped or lost whole)
//     partial_frames   frames delivered with records missing
//     records_lost     records lost in the window, whatever the cause (DAQ_FrameInfo)
//     nominal_pct      records delivered over the records the sampling rate makes in the window
//     acq_cpu_pct      CPU time of the thread named ostrel-acq over wall time, streaming
//     reader_cpu_pct   CPU time of the reading thread over wall time
//     process_cpu_pct  CPU time of the whole process (engine, simulated board, reader)
//     plain_nominal_pct, plain_acq_cpu_pct, plain_process_cpu_pct   the same for the plain
//                      acquisition (records received; nobody reads the frames)
//     acq_cpu_ratio    acq_cpu_pct / plain_acq_cpu_pct: what the queue costs the thread
//   BM_StreamMemcpyReference/model:M   one second of the model's samples at its fastest rate,
//                       copied frame by frame with memcpy from a DMA-buffer-sized source into a
//                       queue of 16 frames, then out of it into lane-sized buffers: the two
//                       copies a streamed record takes at least. copy_core_pct: the share of a
//                       core those copies take at the board's rate.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <pthread.h>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "realtime_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using ostrel_bench::DeviceIdOf;
using ostrel_bench::ProcessCpuSeconds;
using ostrel_bench::Seconds;
using ostrel_bench::ThreadCpuNow;
using ostrel_bench::ThreadCpuSeconds;

constexpr uint32_t kRecordLength = 1024;
constexpr uint32_t kFramePoints = 524288;
constexpr int32_t kQueueFrames = 16;
constexpr auto kStartUp = std::chrono::milliseconds(500);
constexpr char kReaderThreadName[] = "ostrel-reader";

double WindowSeconds() {
    const char *text = std::getenv("OSTREL_STREAM_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 3.0;
    return seconds > 0.0 ? seconds : 3.0;
}

// What the reader has seen so far; written by the reader, read by the benchmark's thread.
struct ReaderCounts {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> framesLost{0};
    std::atomic<uint64_t> partialFrames{0};
    std::atomic<uint64_t> recordsValid{0};
    std::atomic<uint64_t> recordsLost{0};
};

struct Sample {
    uint64_t frames = 0, framesLost = 0, partialFrames = 0, recordsValid = 0, recordsLost = 0;
    int32_t plainRecords = 0;
    double acquisitionCpu = 0.0, readerCpu = 0.0, processCpu = 0.0;
    Clock::time_point when;
};

Sample Take(const ReaderCounts *counts) {
    Sample sample;
    if (counts != nullptr) {
        sample.frames = counts->frames.load();
        sample.framesLost = counts->framesLost.load();
        sample.partialFrames = counts->partialFrames.load();
        sample.recordsValid = counts->recordsValid.load();
        sample.recordsLost = counts->recordsLost.load();
        sample.readerCpu = ThreadCpuSeconds(kReaderThreadName);
    } else {
        int32_t frames = 0;
        float rate = 0.0f;
        DAQ_CheckDMA(&sample.plainRecords, &frames, &rate);
    }
    sample.acquisitionCpu = ThreadCpuSeconds(ostrel::kAcquisitionThreadName);
    sample.processCpu = ProcessCpuSeconds();
    sample.when = Clock::now();
    return sample;
}

// Reads every frame into the caller's lane buffers until asked to stop or the stream ends.
void ReadStream(uint32_t samplesPerLane, ReaderCounts &counts, const std::atomic<bool> &stop) {
    pthread_setname_np(pthread_self(), kReaderThreadName);
    std::vector<int16_t> lanes[4];
    for (auto &lane : lanes) lane.assign(samplesPerLane, 0);
    while (!stop.load(std::memory_order_relaxed)) {
        DAQ_FrameInfo info{};
        info.size = sizeof(info);
        const int32_t result =
            DAQ_StreamRead(lanes[0].data(), lanes[1].data(), lanes[2].data(), lanes[3].data(),
                           samplesPerLane, &info, 100);
        if (result == DAQ_TIMEOUT) continue;
        if (result != 0) break;
        counts.frames.fetch_add(1, std::memory_order_relaxed);
        counts.framesLost.fetch_add(info.framesLostBefore, std::memory_order_relaxed);
        counts.partialFrames.fetch_add(info.recordsValid < info.recordsExpected ? 1 : 0,
                                       std::memory_order_relaxed);
        counts.recordsValid.fetch_add(info.recordsValid, std::memory_order_relaxed);
        counts.recordsLost.store(info.recordsLostTotal, std::memory_order_relaxed);
    }
}

double NominalRecords(double seconds) {
    uint32_t divider = 0;
    float megasamples = 0.0f;
    DAQ_GetSamplingRate(&divider, &megasamples);
    return megasamples * 1e6 * seconds / kRecordLength;
}

void BM_Stream(benchmark::State &state) {
    const int model = static_cast<int>(state.range(0));
    const double window = WindowSeconds();
    for (auto _ : state) {
        SIM_Reset();
        const uint32_t id = DeviceIdOf(model);
        int32_t lanes = 0;
        if (SIM_SetBoards(&id, 1) != 0 || DAQ_OpenDevice(0) != 0 || DAQ_GetADCNumber(&lanes) != 0) {
            state.SkipWithError("no simulated board");
            return;
        }
        SIM_SetDmaPacing(SIM_DMA_REALTIME);
        DAQ_SetSamplingRate(0);
        for (int input = 0; input < 4; ++input) {
            SIM_SetInputSignal(0, input, 0.0, 3000.0, 1.0e6, 2.0);
        }
        const uint32_t number = kFramePoints / (kRecordLength * static_cast<uint32_t>(lanes));
        const uint32_t samplesPerLane = kRecordLength * number;
        if (DAQ_ConfigAcquisition(kRecordLength, number) != 0 ||
            DAQ_StreamStart(kQueueFrames, DAQ_STREAM_DROP_OLDEST) != 0) {
            state.SkipWithError("no stream from the simulated board");
            DAQ_CloseDevice();
            return;
        }
        ReaderCounts counts;
        std::atomic<bool> stop{false};
        std::thread reader(ReadStream, samplesPerLane, std::ref(counts), std::cref(stop));
        // Whatever the board acquired before its first descriptor is lost, as on a real board.
        std::this_thread::sleep_for(kStartUp);
        const Sample begin = Take(&counts);
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        const Sample end = Take(&counts);
        DAQ_StreamStop();
        stop.store(true);
        reader.join();
        const double seconds = Seconds(end.when - begin.when);

        // The plain acquisition of the same geometry, as long, in the same process.
        DAQ_StartAcquisition();
        std::this_thread::sleep_for(kStartUp);
        const Sample plainBegin = Take(nullptr);
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        const Sample plainEnd = Take(nullptr);
        DAQ_StopAcquisition();
        const double plainSeconds = Seconds(plainEnd.when - plainBegin.when);
        state.SetIterationTime(seconds);

        const double streamAcq = 100.0 * (end.acquisitionCpu - begin.acquisitionCpu) / seconds;
        const double plainAcq =
            100.0 * (plainEnd.acquisitionCpu - plainBegin.acquisitionCpu) / plainSeconds;
        state.counters["frames"] = static_cast<double>(end.frames - begin.frames);
        state.counters["frames_lost"] = static_cast<double>(end.framesLost - begin.framesLost);
        state.counters["partial_frames"] =
            static_cast<double>(end.partialFrames - begin.partialFrames);
        state.counters["records_lost"] = static_cast<double>(end.recordsLost - begin.recordsLost);
        state.counters["nominal_pct"] =
            100.0 * static_cast<double>(end.recordsValid - begin.recordsValid) /
            NominalRecords(seconds);
        state.counters["acq_cpu_pct"] = streamAcq;
        state.counters["reader_cpu_pct"] = 100.0 * (end.readerCpu - begin.readerCpu) / seconds;
        state.counters["process_cpu_pct"] = 100.0 * (end.processCpu - begin.processCpu) / seconds;
        state.counters["plain_nominal_pct"] =
            100.0 * (plainEnd.plainRecords - plainBegin.plainRecords) /
            NominalRecords(plainSeconds);
        state.counters["plain_acq_cpu_pct"] = plainAcq;
        state.counters["plain_process_cpu_pct"] =
            100.0 * (plainEnd.processCpu - plainBegin.processCpu) / plainSeconds;
        state.counters["acq_cpu_ratio"] = plainAcq > 0.0 ? streamAcq / plainAcq : 0.0;
        DAQ_CloseDevice();
    }
}
BENCHMARK(BM_Stream)
    ->DenseRange(5, 10)
    ->ArgName("model")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Per-lane rate (MS/s) and lane count of each model at divider code 0.
struct ModelRate {
    double megasamples;
    uint32_t lanes;
};
ModelRate RateOf(int model) {
    static const ModelRate rates[] = {{50, 1}, {150, 2}, {500, 1}, {75, 4}, {250, 2}, {250, 1}};
    return rates[model - 5];
}

// One second of the model's samples, frame by frame: DMA buffer -> queue slot (the thread's copy),
// then queue slot -> lane buffer (the reader's copy; one lane's worth per lane, without the
// split, which only the engine's own benchmark of the readout measures).
void BM_StreamMemcpyReference(benchmark::State &state) {
    const ModelRate rate = RateOf(static_cast<int>(state.range(0)));
    const size_t frameBytes = size_t{kFramePoints} * 2;
    const size_t bytesPerSecond = static_cast<size_t>(rate.megasamples * 1e6) * rate.lanes * 2;
    const size_t frames = bytesPerSecond / frameBytes;
    std::vector<uint8_t> dma(16u << 20, 1), queue(kQueueFrames * frameBytes, 2),
        lanes(frameBytes, 3);
    const size_t dmaFrames = dma.size() / frameBytes;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        const double cpuStart = ThreadCpuNow();
        for (size_t frame = 0; frame < frames; ++frame) {
            uint8_t *slot = queue.data() + (frame % kQueueFrames) * frameBytes;
            std::memcpy(slot, dma.data() + (frame % dmaFrames) * frameBytes, frameBytes);
            std::memcpy(lanes.data(), slot, frameBytes);
            benchmark::ClobberMemory();
        }
        cpuSeconds += ThreadCpuNow() - cpuStart;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frames * frameBytes));
    // CPU seconds for one second of the board's data, as a share of one core.
    state.counters["copy_core_pct"] = 100.0 * cpuSeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_StreamMemcpyReference)
    ->DenseRange(5, 10)
    ->ArgName("model")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
