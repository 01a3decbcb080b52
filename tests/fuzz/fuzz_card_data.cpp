// Fuzz target for the card-data file: any bytes as the file the open loads. A file that is not
// exactly right (shorter than the ID and the 128 entries, or another board's ID) must leave the
// whole offset table at zero; a right one loads its 128 entries; bytes past them are ignored.
// Now and then the DC-offset calibration then rewrites the file, which must afterwards hold
// exactly the board's ID and the table in force, and load back unchanged at the next open.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"
#include "engine/calibration_state.h"
#include "engine/engine_state.h"
#include "fuzz_support.h"

namespace {

// Entered for each input; removed at exit.
std::optional<ostrel_fuzz::PrivateDirectory> g_directory;

using ostrel_fuzz::Fail;

constexpr uint32_t kDeviceIds[] = {0xA001, 0xA002, 0xA004, 0xA005, 0xA006, 0xA007, 0xE001, 0xA003};
constexpr std::size_t kIdBytes = 4;
constexpr std::size_t kTableBytes = 2 * ostrel::kOffsetTableEntries;

const char *FileNameFor(uint32_t deviceId) {
    return deviceId == 0xA005 ? "CardData_P2W8B.dat" : "CardData_K9T3A.dat";
}

void WriteFile(const char *name, const std::vector<uint8_t> &bytes) {
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) Fail("cannot write the card-data file under test");
}

std::vector<uint8_t> ReadFile(const char *name) {
    std::ifstream file(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// A pattern no load produces by chance, so that "unchanged" and "zeroed" can be told apart.
void FillSentinel() {
    for (int entry = 0; entry < ostrel::kOffsetTableEntries; ++entry) {
        ostrel::g_engine.calibration.OffsetTable[entry] = static_cast<int16_t>(0x5A00 + entry);
    }
}

std::vector<int16_t> Table() {
    const int16_t *table = ostrel::g_engine.calibration.OffsetTable;
    return std::vector<int16_t>(table, table + ostrel::kOffsetTableEntries);
}

std::vector<int16_t> ExpectedTable(const std::vector<uint8_t> &file, uint32_t deviceId) {
    std::vector<int16_t> table(ostrel::kOffsetTableEntries, 0);
    if (file.size() < kIdBytes + kTableBytes) return table;
    const uint32_t id = static_cast<uint32_t>(file[0]) | (static_cast<uint32_t>(file[1]) << 8) |
                        (static_cast<uint32_t>(file[2]) << 16) |
                        (static_cast<uint32_t>(file[3]) << 24);
    if (id != deviceId) return table;
    for (std::size_t entry = 0; entry < table.size(); ++entry) {
        table[entry] = static_cast<int16_t>(file[kIdBytes + 2 * entry] |
                                            (file[kIdBytes + 2 * entry + 1] << 8));
    }
    return table;
}

void OpenOrFail(uint32_t deviceId) {
    if (SIM_SetBoards(&deviceId, 1) != 0) Fail("SIM_SetBoards refused with nothing open");
    const int32_t result = DAQ_OpenDevice(0);
    if (result != 0) Fail("open refused", result);
}

void CloseAndCheck() {
    DAQ_CloseDevice();
    ostrel_fuzz::ExpectNoResourcesHeld("after DAQ_CloseDevice");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_directory.emplace("ostrel-fuzz-card-data");
    return 0;
}

// Input: byte 0 picks the board, byte 1 how the file is made (bit 0: the board's own ID put in
// front of the rest, so that right files are common; bit 1: the name is a directory instead;
// bits 2..7 reading 0xDC: calibrate afterwards, which takes seconds and so is kept rare), the
// remaining bytes are the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const uint32_t deviceId = kDeviceIds[data[0] % std::size(kDeviceIds)];
    const uint8_t mode = data[1];
    const bool ownId = (mode & 1) != 0;
    const bool directory = (mode & 2) != 0;
    const bool calibrate = (mode & 0xFC) == 0xDC;
    const char *name = FileNameFor(deviceId);

    g_directory->Enter();
    SIM_Reset();
    SIM_SetDmaPacing(SIM_DMA_MAXRATE);
    ostrel_fuzz::RemoveCardDataFiles();
    std::vector<uint8_t> file;
    if (ownId) {
        for (std::size_t byte = 0; byte < kIdBytes; ++byte) {
            file.push_back(static_cast<uint8_t>(deviceId >> (8 * byte)));
        }
    }
    file.insert(file.end(), data + 2, data + size);
    if (directory) {
        std::filesystem::create_directory(name);
    } else {
        WriteFile(name, file);
    }

    FillSentinel();
    OpenOrFail(deviceId);
    const std::vector<int16_t> loaded = Table();
    if (!directory && loaded != ExpectedTable(file, deviceId)) {
        Fail("offset table after loading does not match the file",
             static_cast<long long>(file.size()));
    }
    if (calibrate && deviceId != 0xA003) {
        const int32_t result = DAQ_Calibration_DCOffset();
        if (directory && result == 0) {
            Fail("calibration reported success without saving its file");
        }
        if (!directory && result == 0) {
            const std::vector<int16_t> measured = Table();
            const std::vector<uint8_t> saved = ReadFile(name);
            if (saved.size() != kIdBytes + kTableBytes) {
                Fail("saved card-data file has the wrong size",
                     static_cast<long long>(saved.size()));
            }
            if (ExpectedTable(saved, deviceId) != measured) {
                Fail("saved file differs from the table");
            }
            DAQ_CloseDevice();
            FillSentinel();
            OpenOrFail(deviceId);
            if (Table() != measured) Fail("the saved table does not load back");
        }
    }
    CloseAndCheck();
    ostrel_fuzz::RemoveCardDataFiles();
    g_directory->Leave();
    return 0;
}
