// Opening one simulated board of a given model, and the engine's register accesses as the
// simulated bus saw them. For tests of the exports that need an open board.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

namespace ostrel_test {

// The six models and the PCI device ID each is opened by.
struct ModelBoard {
    int32_t model;
    uint32_t deviceId;
};
inline constexpr ModelBoard kModelBoards[] = {{5, 0xA001}, {6, 0xA002}, {7, 0xA004},
                                              {8, 0xA005}, {9, 0xA006}, {10, 0xA007}};

inline uint32_t DeviceIdOfModel(int32_t model) {
    for (const ModelBoard &board : kModelBoards) {
        if (board.model == model) return board.deviceId;
    }
    return 0xA003;  // a board the engine does not recognise
}

// Puts one board with the device ID on the bus and opens it. Fails the test when the open does.
inline void OpenBoardWithId(uint32_t deviceId) {
    ASSERT_EQ(SIM_SetBoards(&deviceId, 1), 0);
    ASSERT_EQ(DAQ_OpenDevice(0), 0) << "opening device ID 0x" << std::hex << deviceId;
}

inline void OpenModel(int32_t model) { OpenBoardWithId(DeviceIdOfModel(model)); }

// BAR 0 register accesses of the engine between StartLog and the call, oldest first.
struct RegisterAccess {
    int32_t index;
    bool write;
    uint32_t value;
};

inline void StartRegisterLog() {
    SIM_SetAccessLog(1);
    SIM_ClearAccessLog();
}

inline std::vector<RegisterAccess> RegisterLog() {
    std::vector<SimAccess> raw(4096);
    const int count = SIM_GetAccessLog(raw.data(), static_cast<int>(raw.size()));
    std::vector<RegisterAccess> accesses;
    for (int i = 0; i < count; ++i) {
        const SimAccess &access = raw[static_cast<size_t>(i)];
        if (access.space != 0 || access.width != 4) continue;
        const int64_t delta = static_cast<int64_t>(access.offset) - 0x8000000;
        accesses.push_back({static_cast<int32_t>(delta / 2), access.write != 0, access.value});
    }
    return accesses;
}

inline std::vector<RegisterAccess> RegisterWrites() {
    std::vector<RegisterAccess> writes;
    for (const RegisterAccess &access : RegisterLog()) {
        if (access.write) writes.push_back(access);
    }
    return writes;
}

inline bool operator==(const RegisterAccess &a, const RegisterAccess &b) {
    return a.index == b.index && a.write == b.write && a.value == b.value;
}

inline void PrintTo(const RegisterAccess &access, std::ostream *out) {
    *out << (access.write ? "W " : "R ") << access.index << " = " << access.value;
}

}  // namespace ostrel_test
