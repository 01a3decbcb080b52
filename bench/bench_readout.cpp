// DAQ_GetLatestFrame on 1, 2 and 4 lanes beside a plain memcpy of the same bytes, with 8 MiB
// frames (source and lanes fit the last-level cache of a server processor) and 64 MiB frames
// (they do not). The ring is set up by hand (no board needed): 4 frames of records of 4096 points.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"

namespace {

constexpr uint32_t kRecordPoints = 4096;
constexpr uint32_t kRecordsPerMiB = 128;

void SetUpRing(uint32_t lanes, uint32_t records, size_t frameSamples) {
    ostrel::g_engine.model.ADCNumber = lanes;
    ostrel::AcquisitionState &acquisition = ostrel::g_engine.acquisition;
    acquisition.RecordLength = kRecordPoints / lanes;
    acquisition.RecordNumber = records;
    acquisition.RecordsPerFrame = records;
    acquisition.RecordPoints = kRecordPoints;
    acquisition.RingSlotCount = records * 4;
    acquisition.FrameRing.reset(new int16_t[frameSamples * 4]);
    for (size_t i = 0; i < frameSamples * 4; ++i) {
        acquisition.FrameRing[i] = static_cast<int16_t>(i * 31);
    }
    acquisition.HostBuffersAllocated = true;
    acquisition.Ring.LatestFrameStart.store(records);  // ring frame 1
}

void BM_GetLatestFrame(benchmark::State &state) {
    const uint32_t lanes = static_cast<uint32_t>(state.range(0));
    const uint32_t records = static_cast<uint32_t>(state.range(1)) * kRecordsPerMiB;
    const size_t frameSamples = static_cast<size_t>(kRecordPoints) * records;
    const size_t frameBytes = frameSamples * sizeof(int16_t);
    SetUpRing(lanes, records, frameSamples);
    std::vector<std::vector<int16_t>> out(4, std::vector<int16_t>(frameSamples / lanes, 1));
    for (auto _ : state) {
        DAQ_GetLatestFrame(out[0].data(), out[1].data(), out[2].data(), out[3].data());
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(frameBytes));
}
BENCHMARK(BM_GetLatestFrame)
    ->ArgsProduct({{1, 2, 4}, {8, 64}})
    ->ArgNames({"lanes", "MiB"})
    ->Unit(benchmark::kMicrosecond);

void BM_MemcpyFrame(benchmark::State &state) {
    const size_t frameSamples =
        static_cast<size_t>(kRecordPoints) * kRecordsPerMiB * static_cast<size_t>(state.range(0));
    const size_t frameBytes = frameSamples * sizeof(int16_t);
    std::vector<int16_t> source(frameSamples * 4);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<int16_t>(i * 31);
    std::vector<int16_t> destination(frameSamples, 1);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data() + frameSamples, frameBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(frameBytes));
}
BENCHMARK(BM_MemcpyFrame)->Arg(8)->Arg(64)->ArgName("MiB")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
