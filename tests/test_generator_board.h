// Shared set-up of the generator tests: a simulated board of a given model, the board's own view
// of its waveform memories and phase-step registers, and the engine's accesses from the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

namespace generator_test {

constexpr int kPoints = 8192;
constexpr int32_t kOutputMaskIndex = -2022;
constexpr uint16_t kMidCode = 8191;
constexpr uint16_t kMaxCode = 0x3FFF;

inline uint32_t DeviceIdOfModel(int model) {
    switch (model) {
    case 5: return 0xA001;
    case 6: return 0xA002;
    case 7: return 0xA004;
    case 8: return 0xA005;
    case 9: return 0xA006;
    case 10: return 0xA007;
    default: return 0xA003;
    }
}

// Puts one board of the model on the bus and opens it.
inline int32_t OpenBoard(int model) {
    const uint32_t deviceId = DeviceIdOfModel(model);
    if (SIM_SetBoards(&deviceId, 1) != 0) return -100;
    return DAQ_OpenDevice(0);
}

// Board addresses and registers of the generator, as the board documents them.
struct GeneratorLayout {
    uint64_t memory[2];  // waveform memory of channel 0 and 1
    int32_t stepInt[2];
    int32_t stepFrac[2];
};

inline GeneratorLayout LayoutOfModel(int model) {
    if (model == 6) return {{0x8080000, 0x8084000}, {-2030, -2026}, {-2028, -2024}};
    return {{0x8084000, 0x8080000}, {-2026, -2030}, {-2024, -2028}};
}

inline uint64_t RegisterOffset(int32_t index) {
    return 0x8000000ull + static_cast<uint64_t>(static_cast<int64_t>(index) * 2);
}

// The board's waveform memory at an address, point by point.
inline std::vector<uint16_t> WaveformMemory(uint64_t address, int board = 0) {
    std::vector<uint16_t> points(kPoints);
    for (int k = 0; k < kPoints; ++k) {
        points[k] = static_cast<uint16_t>(SIM_PeekBar(board, 0, address + 2ull * k, 2));
    }
    return points;
}

inline int CountOf(const std::vector<uint16_t> &points, uint16_t value) {
    int count = 0;
    for (uint16_t point : points) count += point == value ? 1 : 0;
    return count;
}

// Every access logged since the log was last cleared.
inline std::vector<SimAccess> AccessLog() {
    std::vector<SimAccess> entries(1 << 18);
    const int count = SIM_GetAccessLog(entries.data(), static_cast<int>(entries.size()));
    entries.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return entries;
}

inline void StartLog() {
    SIM_ClearAccessLog();
    SIM_SetAccessLog(1);
}

// Values written, in order, to one 32-bit register.
inline std::vector<uint32_t> RegisterWrites(const std::vector<SimAccess> &log, int32_t index) {
    std::vector<uint32_t> values;
    for (const SimAccess &access : log) {
        if (access.write && access.space == 0 && access.width == 4 &&
            access.offset == RegisterOffset(index)) {
            values.push_back(access.value);
        }
    }
    return values;
}

// 16-bit BAR 0 writes (the waveform memories), in order.
inline std::vector<SimAccess> PointWrites(const std::vector<SimAccess> &log) {
    std::vector<SimAccess> writes;
    for (const SimAccess &access : log) {
        if (access.write && access.space == 0 && access.width == 2) writes.push_back(access);
    }
    return writes;
}

}  // namespace generator_test
