// Cost of one access through the simulated driver-access library, the floor under every engine
// hot path that touches the board: the acquisition thread's DmaStatus polling, register writes,
// and a waveform update's 8192 separate 16-bit writes (beside a memcpy of the same 16 KiB).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

WDC_DEVICE_HANDLE OpenFirstBoard() {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = 1;
    WDC_PciGetDeviceInfo(&info);
    WDC_DEVICE_HANDLE handle = nullptr;
    WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr);
    return handle;
}

void BM_ReadDmaStatus(benchmark::State &state) {
    WDC_DEVICE_HANDLE handle = OpenFirstBoard();
    uint32_t value = 0;
    for (auto _ : state) {
        WDC_ReadAddr32(handle, 2, 0x6000000, &value);
        benchmark::DoNotOptimize(value);
    }
    WDC_PciDeviceClose(handle);
}
BENCHMARK(BM_ReadDmaStatus);

void BM_WriteRegister(benchmark::State &state) {
    WDC_DEVICE_HANDLE handle = OpenFirstBoard();
    uint32_t value = 0;
    for (auto _ : state) WDC_WriteAddr32(handle, 0, 0x7FFF034, ++value);
    WDC_PciDeviceClose(handle);
}
BENCHMARK(BM_WriteRegister);

constexpr int kWaveformPoints = 8192;

void BM_WaveformWrite8192(benchmark::State &state) {
    WDC_DEVICE_HANDLE handle = OpenFirstBoard();
    for (auto _ : state) {
        for (int point = 0; point < kWaveformPoints; ++point) {
            WDC_WriteAddr16(handle, 0, 0x8080000 + 2 * static_cast<uint64_t>(point),
                            static_cast<uint16_t>(point));
        }
    }
    state.SetBytesProcessed(state.iterations() * kWaveformPoints * 2);
    WDC_PciDeviceClose(handle);
}
BENCHMARK(BM_WaveformWrite8192);

void BM_MemcpyReference16KiB(benchmark::State &state) {
    std::vector<uint16_t> source(kWaveformPoints, 0x1234);
    std::vector<uint16_t> target(kWaveformPoints);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), sizeof(uint16_t) * kWaveformPoints);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kWaveformPoints * 2);
}
BENCHMARK(BM_MemcpyReference16KiB);

}  // namespace

BENCHMARK_MAIN();
