// The DC-offset calibration on every model with the simulated board acquiring in real time, beside
// its floor (steps x settle time); and the two inner loops of the calibration family, the lane
// mean and the pool analysis, beside a memcpy of the same bytes.
//
// The calibration writes its card-data file into the current directory, so the program runs in a
// temporary directory of its own.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/dma_diagnostics.h"
#include "calibration/calibration_procedures.h"
#include "calibration/signal_measurement.h"

namespace {

struct ModelBoard {
    int32_t model;
    uint32_t deviceId;
};
constexpr ModelBoard kBoards[] = {{5, 0xA001}, {6, 0xA002}, {7, 0xA004},
                                  {8, 0xA005}, {9, 0xA006}, {10, 0xA007}};

int32_t Steps() {
    int32_t lanes = 0, couplings = 0, terminations = 0, gains = 0, attenuations = 0;
    DAQ_GetADCNumber(&lanes);
    DAQ_GetCouplingNumber(&couplings);
    DAQ_GetTerminationNumber(&terminations);
    DAQ_GetGainNumber(&gains);
    DAQ_GetAttenuationNumber(&attenuations);
    return lanes * couplings * terminations * gains * attenuations;
}

// One calibration per iteration; the board acquires at its power-on sampling rate.
void BM_DcOffsetCalibrationRealtime(benchmark::State &state) {
    const ModelBoard &board = kBoards[state.range(0)];
    SIM_SetBoards(&board.deviceId, 1);
    SIM_SetDmaPacing(SIM_DMA_REALTIME);
    if (DAQ_OpenDevice(0) != 0) {
        state.SkipWithError("the board cannot be opened");
        return;
    }
    const int32_t steps = Steps();
    for (auto _ : state) {
        if (DAQ_Calibration_DCOffset() != 0) state.SkipWithError("the calibration failed");
    }
    uint32_t divider = 0;
    float megasamples = 0.0f;
    DAQ_GetSamplingRate(&divider, &megasamples);
    state.counters["model"] = board.model;
    state.counters["steps"] = steps;
    state.counters["floor_s"] = steps * static_cast<double>(ostrel::kSettleTime);
    state.counters["MSps"] = megasamples;
    state.SetLabel("model " + std::to_string(board.model));
    DAQ_CloseDevice();
}
BENCHMARK(BM_DcOffsetCalibrationRealtime)
    ->DenseRange(0, 5)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The mean of one calibration lane (model 5: 16384 x 16 samples), single precision in order.
void BM_LaneMean(benchmark::State &state) {
    std::vector<int16_t> samples(16384 * 16);
    std::mt19937 random(7);
    for (int16_t &sample : samples) sample = static_cast<int16_t>(random() % 64) - 32;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel::ZeroOffsetOfSamples(samples.data(), samples.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(samples.size() * sizeof(int16_t)));
}
BENCHMARK(BM_LaneMean);

void BM_LaneMeanMemcpyReference(benchmark::State &state) {
    std::vector<int16_t> samples(16384 * 16, 3), copy(samples.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), samples.data(), samples.size() * sizeof(int16_t));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(samples.size() * sizeof(int16_t)));
}
BENCHMARK(BM_LaneMeanMemcpyReference);

// The pool analysis of the worked geometry (model 5, record length 1000: 640 slots) on a plain
// pool, beside a memcpy of the whole pool.
ostrel::PoolLayout Model5Layout() {
    ostrel::PoolLayout layout;
    layout.ChunkPoints = 40960;
    layout.SlotsPerChunk = 40;
    layout.RecordPoints = 1000;
    layout.TrailerPoints = 2;
    layout.RingSlotCount = 2096;
    return layout;
}

void BM_PoolChain(benchmark::State &state) {
    const ostrel::PoolLayout layout = Model5Layout();
    std::vector<uint8_t> pool(16 * 40960 * 2);
    for (uint32_t slot = 0; slot < 640; ++slot) {
        const uint64_t chunk = slot / 40, inChunk = slot % 40;
        const uint32_t tag = 100 + slot;
        std::memcpy(pool.data() + 2 * (chunk * 40960 + inChunk * 1002 + 1000), &tag, 4);
    }
    ostrel::PoolChain chain;
    for (auto _ : state) {
        ostrel::FindPoolChain(pool.data(), layout, &chain);
        benchmark::DoNotOptimize(chain.RecordCount);
    }
}
BENCHMARK(BM_PoolChain);

void BM_PoolMemcpyReference(benchmark::State &state) {
    std::vector<uint8_t> pool(16 * 40960 * 2, 1), copy(pool.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), pool.data(), pool.size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PoolMemcpyReference);

}  // namespace

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    const fs::path directory = fs::temp_directory_path() / ("ostrel-bench-calibration-" +
                                                            std::to_string(std::random_device{}()));
    fs::create_directories(directory);
    fs::current_path(directory);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(directory, ignored);
    return 0;
}
