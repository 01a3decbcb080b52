#include "calibration/card_data.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"
#include "platform/os/os_services.h"

namespace ostrel {
namespace {

// Every model shares one file name except model 8, whose offsets never mix with the others'.
struct CardDataFile {
    int32_t modelType;
    const char *fileName;
};
constexpr CardDataFile kModelCardDataFiles[] = {{8, "CardData_P2W8B.dat"}};
constexpr const char *kCommonCardDataFile = "CardData_K9T3A.dat";

uint32_t ActiveDeviceId() {
    const DiscoveryState &discovery = g_engine.discovery;
    if (discovery.ActiveDevice < 0 || discovery.ActiveDevice >= kMaxBoards) return 0;
    return discovery.DeviceIDs[discovery.ActiveDevice];
}

void ClearOffsetTable() {
    for (int16_t &entry : g_engine.calibration.OffsetTable) entry = 0;
}

std::string CurrentCardDataFileName() {
    const char *name = g_engine.calibration.CardDataFileName;
    const void *end = std::memchr(name, '\0', kCardDataFileNameSize);
    const std::size_t length =
        end == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char *>(end) - name);
    return std::string(name, length);
}

// A name for the temporary file beside the target that no other process saving at the same
// moment picks: the clock and an address that differs between processes are mixed in.
std::filesystem::path TemporaryPathFor(const std::filesystem::path &target) {
    static unsigned counter = 0;
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const auto address = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&counter));
    const unsigned long long mix = ticks ^ (address << 16) ^ (++counter * 0x9E3779B97F4A7C15ull);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", mix);
    std::filesystem::path temporary = target;
    temporary += suffix;
    return temporary;
}

std::filesystem::path DirectoryOf(const std::filesystem::path &file) {
    const std::filesystem::path parent = file.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

int32_t WriteBytes(std::FILE *file, const uint8_t *data, std::size_t size) {
    std::size_t allowed = size;
    const int32_t failAfter = Seams().cardDataWritesFailAfter;  // a test's full disk
    if (failAfter >= 0 && static_cast<std::size_t>(failAfter) < size) {
        allowed = static_cast<std::size_t>(failAfter);
    }
    if (std::fwrite(data, 1, allowed, file) != allowed) return DAQ_ERROR;
    if (allowed < size) {
        std::fflush(file);  // the partial bytes really reach the file, as on a disk that filled up
        return DAQ_ERROR;
    }
    return DAQ_OK;
}

// Writes the bytes to a temporary file beside the target, flushes it to disk and renames it over
// the target. On any failure the temporary file is removed and the target is left untouched.
int32_t ReplaceFileContents(const std::filesystem::path &target, const uint8_t *data,
                            std::size_t size) {
    const std::filesystem::path temporary = TemporaryPathFor(target);
    std::FILE *file = std::fopen(temporary.string().c_str(), "wb");
    if (file == nullptr) return DAQ_ERROR;
    bool written = WriteBytes(file, data, size) == DAQ_OK && os::FlushFileToDisk(file);
    written = std::fclose(file) == 0 && written;
    std::error_code error;
    if (written) {
        // Replaces an existing target in one step on every platform.
        std::filesystem::rename(temporary, target, error);
        // The rename itself reaches the disk only with the directory that holds the name.
        if (!error) {
            return os::FlushDirectoryToDisk(DirectoryOf(target).string().c_str()) ? DAQ_OK
                                                                                  : DAQ_ERROR;
        }
    }
    std::filesystem::remove(temporary, error);
    return DAQ_ERROR;
}

}  // namespace

void EncodeCardData(uint32_t deviceId, const int16_t (&table)[kOffsetTableEntries],
                    uint8_t (&bytes)[kCardDataBytes]) {
    for (std::size_t i = 0; i < kCardDataIdBytes; ++i) {
        bytes[i] = static_cast<uint8_t>(deviceId >> (8 * i));
    }
    for (int entry = 0; entry < kOffsetTableEntries; ++entry) {
        const auto word = static_cast<uint16_t>(table[entry]);
        bytes[kCardDataIdBytes + 2 * entry] = static_cast<uint8_t>(word);
        bytes[kCardDataIdBytes + 2 * entry + 1] = static_cast<uint8_t>(word >> 8);
    }
}

void SelectCardDataFileName() {
    const char *name = kCommonCardDataFile;
    for (const CardDataFile &file : kModelCardDataFiles) {
        if (file.modelType == g_engine.model.ModelType) name = file.fileName;
    }
    std::snprintf(g_engine.calibration.CardDataFileName, kCardDataFileNameSize, "%s", name);
}

int32_t LoadCardData() {
    SelectCardDataFileName();
    std::FILE *file = std::fopen(g_engine.calibration.CardDataFileName, "rb");
    if (file == nullptr) return 0;
    uint8_t bytes[kCardDataBytes];
    const std::size_t received = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);

    uint32_t deviceIdRead = 0;
    if (received >= kCardDataIdBytes) {
        for (std::size_t i = 0; i < kCardDataIdBytes; ++i) {
            deviceIdRead |= static_cast<uint32_t>(bytes[i]) << (8 * i);
        }
    }
    // A file of another board, or one cut short, must not leave half of its offsets in force.
    if (received < kCardDataBytes || deviceIdRead != ActiveDeviceId()) {
        ClearOffsetTable();
        return DAQ_ERROR;
    }
    int16_t(&table)[kOffsetTableEntries] = g_engine.calibration.OffsetTable;
    for (int entry = 0; entry < kOffsetTableEntries; ++entry) {
        const auto low = static_cast<uint16_t>(bytes[kCardDataIdBytes + 2 * entry]);
        const auto high = static_cast<uint16_t>(bytes[kCardDataIdBytes + 2 * entry + 1]);
        table[entry] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
    }
    return 0;
}

int32_t SaveCardData() {
    try {
        const std::string name = CurrentCardDataFileName();
        if (name.empty()) return 0;  // nothing was ever loaded: there is no file to write
        uint8_t bytes[kCardDataBytes];
        EncodeCardData(ActiveDeviceId(), g_engine.calibration.OffsetTable, bytes);
        return ReplaceFileContents(name, bytes, sizeof bytes);
    } catch (...) {
        // Out of memory for a path: the old file stays as it was, like any other failed save.
        return DAQ_ERROR;
    }
}

}  // namespace ostrel
