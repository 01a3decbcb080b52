// The acquisition at each model's fastest rate on the simulated board in real time, idle and beside
// one competing busy process, with what it costs the acquisition thread; beside a same-run memcpy of
// the same bytes (the least any copy of the records costs).
//
//   BM_Realtime/model:M/load:L   OSTREL_REALTIME_SECONDS (default 10) of acquisition after a 0.5 s
//                                start, record length 1024, divider code 0. Counters:
//     nominal_pct      records received over the records the sampling rate makes in the window
//     records_missing  nominal records minus records received (negative: more than nominal)
//     partial_frames   frames recycled with records missing, as the engine counts them
//     acq_cpu_pct      CPU time of the thread named ostrel-acq over wall time
//     board_cpu_pct    CPU time of the simulated board's thread (ostrel-sim-dma) over wall time
//     process_cpu_pct  CPU time of the whole process (engine, simulated board, this loop)
//     MBps             the engine's own data rate
//   BM_MemcpyReference/record_bytes:B/non_temporal:N   1 GB of records copied into a ring-sized
//                                buffer with memcpy (N 0) or non-temporal stores (N 1);
//                                core_pct_at_1GBps: the share of a core that copy takes at 1 GB/s
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/acquisition_thread.h"
#include "realtime_support.h"

namespace {

using ostrel_bench::BusyProcess;
using ostrel_bench::DeviceIdOf;
using ostrel_bench::ProcessCpuSeconds;
using ostrel_bench::Seconds;
using ostrel_bench::ThreadCpuNow;
using ostrel_bench::ThreadCpuSeconds;

constexpr uint32_t kRecordLength = 1024;
constexpr uint32_t kRecordNumber = 16;
constexpr auto kStartUp = std::chrono::milliseconds(500);

double WindowSeconds() {
    const char *text = std::getenv("OSTREL_REALTIME_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 10.0;
    return seconds > 0.0 ? seconds : 10.0;
}

struct Snapshot {
    int32_t records = 0;
    int32_t partialFrames = 0;
    float megabytesPerSecond = 0.0f;
    double acquisitionCpu = 0.0;
    double boardCpu = 0.0;
    double processCpu = 0.0;
    std::chrono::steady_clock::time_point when;
};

Snapshot Take() {
    Snapshot snapshot;
    int32_t frames = 0, statistics[9] = {};
    DAQ_CheckDMA(&snapshot.records, &frames, &snapshot.megabytesPerSecond);
    DAQ_GetDebugValue(statistics);
    snapshot.partialFrames = statistics[4];
    snapshot.acquisitionCpu = ThreadCpuSeconds(ostrel::kAcquisitionThreadName);
    snapshot.boardCpu = ThreadCpuSeconds("ostrel-sim-dma");
    snapshot.processCpu = ProcessCpuSeconds();
    snapshot.when = std::chrono::steady_clock::now();
    return snapshot;
}

void BM_Realtime(benchmark::State &state) {
    const int model = static_cast<int>(state.range(0));
    const bool loaded = state.range(1) != 0;
    const double window = WindowSeconds();
    for (auto _ : state) {
        SIM_Reset();
        const uint32_t id = DeviceIdOf(model);
        if (SIM_SetBoards(&id, 1) != 0 || DAQ_OpenDevice(0) != 0) {
            state.SkipWithError("no simulated board");
            return;
        }
        SIM_SetDmaPacing(SIM_DMA_REALTIME);
        DAQ_SetSamplingRate(0);  // code 0: the fastest rate of every model's table
        for (int input = 0; input < 4; ++input) {
            SIM_SetInputSignal(0, input, 0.0, 3000.0, 1.0e6, 2.0);
        }
        BusyProcess competitor(loaded);
        if (DAQ_ConfigAcquisition_and_Start(kRecordLength, kRecordNumber) != 0) {
            state.SkipWithError("no acquisition on the simulated board");
            DAQ_CloseDevice();
            return;
        }
        // Whatever the board acquired before its first descriptor is lost, as on a real board.
        std::this_thread::sleep_for(kStartUp);
        const Snapshot begin = Take();
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        const Snapshot end = Take();
        DAQ_StopAcquisition();
        const double seconds = Seconds(end.when - begin.when);
        state.SetIterationTime(seconds);

        uint32_t divider = 0;
        float megasamples = 0.0f;
        DAQ_GetSamplingRate(&divider, &megasamples);
        const double nominal = megasamples * 1e6 * seconds / kRecordLength;
        const double received = end.records - begin.records;
        state.counters["MSps"] = megasamples;
        state.counters["nominal_pct"] = 100.0 * received / nominal;
        state.counters["records_missing"] = nominal - received;
        state.counters["partial_frames"] = end.partialFrames - begin.partialFrames;
        state.counters["acq_cpu_pct"] =
            100.0 * (end.acquisitionCpu - begin.acquisitionCpu) / seconds;
        state.counters["board_cpu_pct"] = 100.0 * (end.boardCpu - begin.boardCpu) / seconds;
        state.counters["process_cpu_pct"] = 100.0 * (end.processCpu - begin.processCpu) / seconds;
        state.counters["MBps"] = end.megabytesPerSecond;
        DAQ_CloseDevice();
    }
}
BENCHMARK(BM_Realtime)
    ->ArgsProduct({{5, 6, 7, 8, 9, 10}, {0, 1}})
    ->ArgNames({"model", "load"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

#if defined(__SSE2__)
// The same copy with non-temporal stores, which bypass the cache: for rings larger than the cache
// they might spare the reads that a normal store's write-allocate costs.
void CopyNonTemporal(uint8_t *target, const uint8_t *source, size_t bytes) {
    size_t i = 0;
    if (reinterpret_cast<std::uintptr_t>(target) % 16 == 0) {
        for (; i + 64 <= bytes; i += 64) {
            const __m128i *in = reinterpret_cast<const __m128i *>(source + i);
            __m128i *out = reinterpret_cast<__m128i *>(target + i);
            const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1);
            const __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
            _mm_stream_si128(out, a);
            _mm_stream_si128(out + 1, b);
            _mm_stream_si128(out + 2, c);
            _mm_stream_si128(out + 3, d);
        }
        _mm_sfence();
    }
    std::memcpy(target + i, source + i, bytes - i);
}
#endif

// One gigabyte (a second of the fastest boards' records) copied record by record from a
// DMA-pool-sized source into a ring of the size the engine allocates for such records (4 frames
// of at least 524288 points): the least CPU the thread can spend on its copies at 1 GB/s.
// Records of 1024 points of one lane (2048 bytes) and of four (8192 bytes); copy 0 is memcpy,
// copy 1 non-temporal stores.
void BM_MemcpyReference(benchmark::State &state) {
    const size_t recordBytes = static_cast<size_t>(state.range(0));
    const bool nonTemporal = state.range(1) != 0;
    constexpr size_t kGigabyte = 1000000000;
    const size_t poolBytes = 16 * 0x22000 * 2;
    const size_t ringBytes = 4 * 0x100000;
    std::vector<uint8_t> pool(poolBytes, 1), ring(ringBytes, 2);
    const size_t poolRecords = poolBytes / recordBytes, ringRecords = ringBytes / recordBytes;
    const size_t records = kGigabyte / recordBytes;
    size_t source = 0, target = 0;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        const double cpuStart = ThreadCpuNow();
        for (size_t record = 0; record < records; ++record) {
            uint8_t *to = ring.data() + target * recordBytes;
            const uint8_t *from = pool.data() + source * recordBytes;
#if defined(__SSE2__)
            if (nonTemporal) {
                CopyNonTemporal(to, from, recordBytes);
            } else {
                std::memcpy(to, from, recordBytes);
            }
#else
            std::memcpy(to, from, recordBytes);
#endif
            source = source + 1 == poolRecords ? 0 : source + 1;
            target = target + 1 == ringRecords ? 0 : target + 1;
        }
        benchmark::ClobberMemory();
        cpuSeconds += ThreadCpuNow() - cpuStart;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * records * recordBytes));
    // CPU seconds per gigabyte, as a percentage of one core at 1 GB/s.
    state.counters["core_pct_at_1GBps"] =
        100.0 * cpuSeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MemcpyReference)
    ->ArgsProduct({{2048, 8192}, {0, 1}})
    ->ArgNames({"record_bytes", "non_temporal"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
