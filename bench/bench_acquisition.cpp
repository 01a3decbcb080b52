// The acquisition thread's sustained rate on the simulated board, beside a same-run memcpy of the
// same records.
//
//   BM_AcquisitionMaxRate/model:7   one lane, record length 1024, board as fast as it can go
//   BM_AcquisitionMaxRate/model:8   four lanes, record length 1024
//   BM_RecordCopyMemcpy/...         the same record copies with memcpy alone, one thread
//   BM_ScannerPasses/...            the thread's own work without the simulator: a chunk of new
//                                   tags before every pass (the samples stay in place)
//   (the real-time figures are in bench_realtime.cpp)
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "acquisition/record_scanner.h"
#include "acquisition/record_tag.h"
#include "engine/engine_state.h"

namespace {

constexpr uint32_t kRecordLength = 1024;
constexpr uint32_t kRecordNumber = 16;

uint32_t DeviceIdOf(int model) {
    static const uint32_t ids[] = {0xA001, 0xA002, 0xA004, 0xA005, 0xA006, 0xA007};
    return ids[model - 5];
}

bool OpenAndConfigure(int model, int pacing) {
    SIM_Reset();
    const uint32_t id = DeviceIdOf(model);
    if (SIM_SetBoards(&id, 1) != 0 || DAQ_OpenDevice(0) != 0) return false;
    SIM_SetDmaPacing(pacing);
    DAQ_SetSamplingRate(0);  // code 0: the fastest rate of every model's table
    for (int input = 0; input < 4; ++input) SIM_SetInputSignal(0, input, 0.0, 3000.0, 1.0e6, 2.0);
    return DAQ_ConfigAcquisition(kRecordLength, kRecordNumber) == 0;
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void BM_AcquisitionMaxRate(benchmark::State &state) {
    const int model = static_cast<int>(state.range(0));
    if (!OpenAndConfigure(model, SIM_DMA_MAXRATE) || DAQ_StartAcquisition() != 0) {
        state.SkipWithError("no acquisition on the simulated board");
        DAQ_CloseDevice();
        return;
    }
    const double recordBytes = 2.0 * ostrel::g_engine.acquisition.RecordPoints;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past the start-up
    double bytes = 0.0;
    for (auto _ : state) {
        int32_t before = 0, after = 0, frames = 0;
        float rate = 0.0f;
        DAQ_CheckDMA(&before, &frames, &rate);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        DAQ_CheckDMA(&after, &frames, &rate);
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
        bytes += static_cast<double>(after - before) * recordBytes;
    }
    DAQ_StopAcquisition();
    int32_t statistics[9] = {};
    DAQ_GetDebugValue(statistics);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["partial_frames"] = statistics[4];
    DAQ_CloseDevice();
}
BENCHMARK(BM_AcquisitionMaxRate)
    ->Arg(7)
    ->Arg(8)
    ->ArgName("model")
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// The thread's copy without the thread: records of the same size from a DMA-pool-sized source
// into a ring-sized destination, one memcpy per record, on one thread.
void BM_RecordCopyMemcpy(benchmark::State &state) {
    const int model = static_cast<int>(state.range(0));
    const size_t lanes = model == 8 ? 4 : 1;
    const size_t recordBytes = kRecordLength * lanes * 2;
    const size_t poolBytes = 16 * 0x22000 * 2;
    const size_t ringBytes = recordBytes * (0x80000 / lanes / kRecordLength) * 4;
    std::vector<uint8_t> pool(poolBytes, 1), ring(ringBytes, 2);
    const size_t poolRecords = poolBytes / recordBytes, ringRecords = ringBytes / recordBytes;
    size_t source = 0, target = 0;
    for (auto _ : state) {
        for (size_t record = 0; record < 1024; ++record) {
            std::memcpy(ring.data() + target * recordBytes, pool.data() + source * recordBytes,
                        recordBytes);
            source = (source + 1) % poolRecords;
            target = (target + 1) % ringRecords;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024 *
                            static_cast<int64_t>(recordBytes));
}
BENCHMARK(BM_RecordCopyMemcpy)->Arg(7)->Arg(8)->ArgName("model");

int64_t TickCounter() { return 0; }

void BM_ScannerPasses(benchmark::State &state) {
    const int model = static_cast<int>(state.range(0));
    const uint32_t lanes = model == 8 ? 4 : 1;
    const uint32_t trailerPoints = model == 8 ? 4 : 8;
    const uint32_t chunkPoints = 0x22000;
    const uint32_t recordPoints = kRecordLength * lanes;
    const uint32_t slotsPerChunk = chunkPoints / (recordPoints + trailerPoints);
    const uint32_t recordsPerFrame = 0x80000 / lanes / kRecordLength;
    const uint32_t slotCount = slotsPerChunk * 16, ringSlots = recordsPerFrame * 4;
    std::vector<uint64_t> pool(static_cast<size_t>(chunkPoints) * 16 / 4);
    std::vector<uint8_t *> trailers(slotCount);
    std::vector<uint32_t> lastTags(slotCount);
    std::vector<uint8_t> filled(ringSlots);
    std::vector<int16_t> ring(static_cast<size_t>(ringSlots) * recordPoints);
    uint8_t *base = reinterpret_cast<uint8_t *>(pool.data());
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
        const size_t point = static_cast<size_t>(slot / slotsPerChunk) * chunkPoints +
                             static_cast<size_t>(slot % slotsPerChunk) *
                                 (recordPoints + trailerPoints) + recordPoints;
        trailers[slot] = base + point * 2;
        ostrel::StoreRecordTag(base + point * 2, ostrel::kNoRecordTag);
    }
    ostrel::ScanLayout layout;
    layout.SlotTrailers = trailers.data();
    layout.LastSlotTags = lastTags.data();
    layout.RingRecordFilled = filled.data();
    layout.FrameRing = ring.data();
    layout.DmaSlotCount = slotCount;
    layout.RingSlotCount = ringSlots;
    layout.RecordPoints = recordPoints;
    layout.RecordsPerFrame = recordsPerFrame;
    ostrel::RingStatus status;
    ostrel::RecordScanner scanner(layout, status, TickCounter, 1);
    scanner.BeginRun();
    uint32_t slot = 0, tag = 0;
    for (auto _ : state) {
        for (uint32_t record = 0; record < slotsPerChunk; ++record) {
            ostrel::StoreRecordTag(const_cast<uint8_t *>(trailers[slot]), tag);
            slot = (slot + 1) % slotCount;
            tag = (tag + 1) % ringSlots;
        }
        scanner.Pass();
    }
    state.SetBytesProcessed(static_cast<int64_t>(scanner.RecordsReceived()) * recordPoints * 2);
    state.counters["partial_frames"] = scanner.PartialFrames();
}
BENCHMARK(BM_ScannerPasses)->Arg(7)->Arg(8)->ArgName("model");

}  // namespace

BENCHMARK_MAIN();
