// Waveform update (8192 point writes through the driver-access layer) and host design per
// waveform type on a simulated model-9 board, beside a same-run memcpy of one waveform memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

namespace {

constexpr int kPoints = 8192;
constexpr size_t kWaveformBytes = kPoints * sizeof(uint16_t);  // 16 KiB

// One model-9 board, opened once for the whole run.
class GeneratorBoard {
public:
    GeneratorBoard() {
        SIM_Reset();
        const uint32_t model9 = 0xA006;
        SIM_SetBoards(&model9, 1);
        DAQ_OpenDevice(0);
        float amplitude = 0.0f;
        if (AWG_GetAmplitude(0, &amplitude) != 0) {
            std::fprintf(stderr, "bench_generator: no generator channel state after open\n");
            std::exit(1);
        }
    }
    ~GeneratorBoard() { DAQ_CloseDevice(); }
};

GeneratorBoard &Board() {
    static GeneratorBoard board;
    return board;
}

// Points per second as a rate, shown inverted: seconds (here nanoseconds) per point.
void CountPoints(benchmark::State &state) {
    state.counters["ns_per_point"] = benchmark::Counter(
        static_cast<double>(kPoints) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SetAmplitude(benchmark::State &state) {
    Board();
    AWG_SetWaveformType(0, 0);
    float amplitude = 1.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AWG_SetAmplitude(0, amplitude));
        amplitude = amplitude == 1.0f ? 2.0f : 1.0f;
    }
    CountPoints(state);
}
BENCHMARK(BM_SetAmplitude)->Unit(benchmark::kMicrosecond);

void BM_DesignWaveform(benchmark::State &state) {
    Board();
    const auto type = static_cast<int32_t>(state.range(0));
    AWG_SetDutycycle(1, 0.3f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(AWG_DesignWaveform(1, type));
    }
    CountPoints(state);
    static const char *const names[] = {"sine", "square", "triangle"};
    state.SetLabel(names[type]);
}
BENCHMARK(BM_DesignWaveform)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_Memcpy16KiB(benchmark::State &state) {
    std::vector<uint16_t> source(kPoints, 8191);
    std::vector<uint16_t> destination(kPoints);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kWaveformBytes);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(destination.data());
    CountPoints(state);
}
BENCHMARK(BM_Memcpy16KiB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
