// How fast the simulated board fills DMA chunks with tagged records, through the driver-access
// contract as the engine drives it (byte-wise descriptor writes, status polling), beside a
// same-run memcpy of the same bytes. The board must not be what limits the engine's acquisition
// benchmarks: at least 1 GB/s on one core.
//
//   BM_SimDmaImmediate   each descriptor completes inside the write that queues it (one core)
//   BM_SimDmaMaxRate     the board's own thread completes descriptors while this thread keeps
//                        the descriptor buffer topped up, as the acquisition thread does
//   BM_SimDmaRealtime    the board paced at its sampling rate (fastest divider: 1 GB/s of
//                        records on models 7 and 9), this thread topping up the descriptors
//                        as the acquisition thread does; board_cpu is the board thread's CPU
//                        time per second of wall time (1.0 is a whole core), cpu_per_GB its
//                        CPU seconds per 10^9 bytes of records, record_rate the bytes per second
//   BM_Memcpy            the same bytes with one memcpy per chunk
//
// Arguments: model, record length, signal (0 constant level, 1 sine plus noise, 2 generator
// loopback, 3 a sine too slow for a precomputed cycle).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

constexpr uint32_t kBufferBytes = 0x1000000;
constexpr uint32_t kStatus = 0x6000000;

struct ModelRow {
    int model;
    uint32_t deviceId, factor, lanes, trailer, chunkPoints, registerBlock;
};
constexpr ModelRow kModels[] = {
    {5, 0xA001, 1, 1, 2, 0xA000, 0x7FFF800},   {6, 0xA002, 2, 2, 4, 0x22000, 0x7FFF000},
    {7, 0xA004, 8, 1, 8, 0x22000, 0x7FFF000},  {8, 0xA005, 1, 4, 4, 0x22000, 0x7FFF000},
    {9, 0xA006, 4, 2, 8, 0x22000, 0x7FFF000},  {10, 0xA007, 4, 1, 4, 0x22000, 0x7FFF000}};

const ModelRow &RowOf(int model) { return kModels[model - 5]; }

void WriteBar32(WDC_DEVICE_HANDLE handle, uint32_t offset, uint32_t value) {
    for (uint32_t byte = 0; byte < 4; ++byte) {
        WDC_WriteAddr8(handle, 2, offset + byte, static_cast<uint8_t>(value >> (8 * byte)));
    }
}

uint32_t ReadStatus(WDC_DEVICE_HANDLE handle) {
    uint32_t value = 0;
    WDC_ReadAddr32(handle, 2, kStatus, &value);
    return value;
}

// One opened board with its buffer locked and the engine's set-up done.
struct Board {
    WDC_DEVICE_HANDLE handle = nullptr;
    WD_DMA *dma = nullptr;
    uint32_t chunkBytes = 0;
    uint64_t recordBytesPerChunk = 0;  // what a chunk's records and trailers occupy
    uint32_t targets[16] = {};

    Board(int model, uint32_t recordLength, int signal, int pacing) {
        const ModelRow &row = RowOf(model);
        SIM_Reset();
        SIM_SetBoards(&row.deviceId, 1);
        SIM_SetDmaPacing(pacing);
        WD_PCI_CARD_INFO info;
        std::memset(&info, 0, sizeof(info));
        info.pciSlot.dwBus = 1;
        WDC_PciGetDeviceInfo(&info);
        WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr);
        void *user = nullptr;
        WDC_DMAContigBufLock(handle, &user, DMA_FROM_DEVICE_CONTIG, kBufferBytes, &dma);

        const uint32_t slotPoints = recordLength * row.lanes + row.trailer;
        const uint32_t slots = row.chunkPoints / slotPoints;
        chunkBytes = 2 * row.chunkPoints;
        recordBytesPerChunk = 2ull * slots * slotPoints;
        WDC_WriteAddr32(handle, 0, row.registerBlock, recordLength / row.factor);
        WDC_WriteAddr32(handle, 0, row.registerBlock + 4, slots);
        WDC_WriteAddr32(handle, 0, row.registerBlock + 8, 4 * 4096);
        WDC_WriteAddr32(handle, 0, row.registerBlock + 12, 0);

        const int inputs = row.lanes == 1 ? 1 : static_cast<int>(row.lanes);
        for (int input = 0; input < inputs; ++input) {
            if (signal == 1) SIM_SetInputSignal(0, input, 100, 3000, 1.234567e6 * (input + 1), 8);
            if (signal == 3) SIM_SetInputSignal(0, input, 100, 3000, 5.0, 8);
        }
        if (signal == 2) {
            for (uint32_t point = 0; point < 8192; ++point) {
                WDC_WriteAddr16(handle, 0, 0x8080000 + 2 * point, static_cast<uint16_t>(point * 2));
                WDC_WriteAddr16(handle, 0, 0x8084000 + 2 * point, static_cast<uint16_t>(16383 - point));
            }
            WDC_WriteAddr32(handle, 0, 0x7FFF000 + 4 * 9, 27);  // phase steps of both channels
            WDC_WriteAddr32(handle, 0, 0x7FFF000 + 4 * 11, 41);
            SIM_SetLoopback(0, 1);
        }

        const uint64_t bus = dma->Page[0].pPhysicalAddr;
        WriteBar32(handle, 0x1000, 0xFFFFFFFCu);
        uint32_t mask = 0;
        WDC_ReadAddr32(handle, 2, 0x1000, &mask);
        WriteBar32(handle, 0x1000, static_cast<uint32_t>(bus & mask));
        WriteBar32(handle, 0x1004, 0);
        WriteBar32(handle, 0x6000004, 0x2);
        WriteBar32(handle, kStatus, 0);
        WriteBar32(handle, 0x6000004, 0x10);
        for (uint32_t chunk = 0; chunk < 16; ++chunk) {
            targets[chunk] = static_cast<uint32_t>((bus + uint64_t{chunk} * chunkBytes) & ~uint64_t{mask});
        }
    }
    ~Board() {
        WDC_DMABufUnlock(dma);
        WDC_PciDeviceClose(handle);
        SIM_Reset();
    }
    void Queue(uint32_t chunk) {
        WriteBar32(handle, 0x6000020, 0x8000000);
        WriteBar32(handle, 0x6000024, targets[chunk % 16]);
        WriteBar32(handle, 0x6000028, chunkBytes);
        WriteBar32(handle, 0x600002C, 0x80004000u);
    }
};

void BM_SimDmaImmediate(benchmark::State &state) {
    Board board(static_cast<int>(state.range(0)), static_cast<uint32_t>(state.range(1)),
                static_cast<int>(state.range(2)), SIM_DMA_IMMEDIATE);
    uint32_t chunk = 0;
    for (auto _ : state) {
        for (int repeat = 0; repeat < 16; ++repeat) board.Queue(chunk++);
        benchmark::DoNotOptimize(ReadStatus(board.handle));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 *
                            static_cast<int64_t>(board.recordBytesPerChunk));
}

void BM_SimDmaMaxRate(benchmark::State &state) {
    Board board(static_cast<int>(state.range(0)), static_cast<uint32_t>(state.range(1)),
                static_cast<int>(state.range(2)), SIM_DMA_MAXRATE);
    uint32_t chunk = 0;
    for (auto _ : state) {
        // Sixteen descriptors, each queued as soon as the buffer has room, then the drain.
        for (int queued = 0; queued < 16;) {
            if ((ReadStatus(board.handle) & 0x4u) == 0) {
                board.Queue(chunk++);
                ++queued;
            }
        }
        while (ReadStatus(board.handle) != 0x202u) {
        }
        WriteBar32(board.handle, kStatus, 0x200);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 *
                            static_cast<int64_t>(board.recordBytesPerChunk));
}

// CPU time in seconds of every thread of this process but the calling one, from the scheduler's
// nanosecond account of each (the board's own thread is the only other one here).
double OtherThreadsCpuSeconds() {
    const long self = static_cast<long>(gettid());
    double seconds = 0.0;
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0.0;
    while (const dirent *entry = readdir(tasks)) {
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        if (tid <= 0 || tid == self) continue;
        const std::string path = "/proc/self/task/" + std::string(entry->d_name) + "/schedstat";
        if (FILE *file = std::fopen(path.c_str(), "r")) {
            unsigned long long nanoseconds = 0;
            if (std::fscanf(file, "%llu", &nanoseconds) == 1) seconds += nanoseconds * 1e-9;
            std::fclose(file);
        }
    }
    closedir(tasks);
    return seconds;
}

void BM_SimDmaRealtime(benchmark::State &state) {
    Board board(static_cast<int>(state.range(0)), static_cast<uint32_t>(state.range(1)),
                static_cast<int>(state.range(2)), SIM_DMA_REALTIME);
    uint32_t chunk = 0;
    const double cpuBefore = OtherThreadsCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // Sixteen descriptors, each queued once the buffer has room; the polling sleeps so that
        // this thread leaves the second core to the board.
        for (int queued = 0; queued < 16;) {
            if ((ReadStatus(board.handle) & 0x4u) == 0) {
                board.Queue(chunk++);
                ++queued;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
    }
    while (ReadStatus(board.handle) != 0x202u) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = OtherThreadsCpuSeconds() - cpuBefore;
    const double bytes =
        static_cast<double>(chunk) * static_cast<double>(board.recordBytesPerChunk);
    state.counters["board_cpu"] = wall > 0.0 ? cpu / wall : 0.0;
    // The board thread's CPU seconds per 10^9 bytes of records: its share of a core at 1 GB/s,
    // which stays meaningful when a loaded machine keeps the board below its real-time pace.
    state.counters["cpu_per_GB"] = bytes > 0.0 ? cpu / (bytes * 1e-9) : 0.0;
    state.counters["record_rate"] = wall > 0.0 ? bytes / wall : 0.0;
    WriteBar32(board.handle, kStatus, 0x200);
}

void BM_Memcpy(benchmark::State &state) {
    const ModelRow &row = RowOf(static_cast<int>(state.range(0)));
    const uint32_t recordLength = static_cast<uint32_t>(state.range(1));
    const uint32_t slotPoints = recordLength * row.lanes + row.trailer;
    const uint64_t bytes = 2ull * (row.chunkPoints / slotPoints) * slotPoints;
    std::vector<uint8_t> source(bytes, 0x5A);
    std::vector<uint8_t> destination(kBufferBytes);
    for (auto _ : state) {
        for (uint32_t chunk = 0; chunk < 16; ++chunk) {
            std::memcpy(destination.data() + uint64_t{chunk} * 2 * row.chunkPoints, source.data(),
                        bytes);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 *
                            static_cast<int64_t>(bytes));
}

void Arguments(benchmark::internal::Benchmark *benchmark) {
    benchmark->Args({7, 1024, 0})->Args({7, 1024, 1})->Args({7, 1024, 3});
    benchmark->Args({8, 1024, 0})->Args({8, 1024, 1})->Args({8, 8192, 1});
    benchmark->Args({9, 1024, 1})->Args({9, 1024, 2});
    benchmark->Args({5, 1000, 1});
    benchmark->Unit(benchmark::kMillisecond);
}

void MemcpyArguments(benchmark::internal::Benchmark *benchmark) {
    benchmark->Args({7, 1024})->Args({8, 1024})->Args({8, 8192})->Args({9, 1024})->Args({5, 1000});
    benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SimDmaImmediate)->Apply(Arguments);
BENCHMARK(BM_SimDmaMaxRate)->Apply(Arguments)->UseRealTime();
// The 1 GB/s boards (model 7: 500 MS/s x 1 lane, model 9: 2 x 250 MS/s) with a sine plus noise
// on every input, about one second of records each.
BENCHMARK(BM_SimDmaRealtime)
    ->Args({7, 1024, 1})
    ->Args({9, 1024, 1})
    ->Args({9, 1024, 0})
    ->Iterations(220)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Apply(MemcpyArguments);

}  // namespace

BENCHMARK_MAIN();
