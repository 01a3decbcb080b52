// The card-data file: its byte layout, what a load accepts and rejects, and saves that replace the
// old file whole or not at all. These cases set the active board's ID and model in the engine
// state directly; the round trip through a real open lives in test_offset_table.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "OstrelDAQEngine.h"
#include "calibration/offset_table.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr const char *kCommonFile = "CardData_K9T3A.dat";
constexpr const char *kModel8File = "CardData_P2W8B.dat";

void SetActiveBoard(int32_t modelType, uint32_t deviceId) {
    ostrel::g_engine.model.ModelType = modelType;
    ostrel::g_engine.discovery.ActiveDevice = 0;
    ostrel::g_engine.discovery.DeviceIDs[0] = deviceId;
}

// A file image written out by hand, little-endian, independent of the engine's encoder.
Bytes CardImage(uint32_t deviceId, const std::vector<int16_t> &entries) {
    Bytes bytes = {static_cast<uint8_t>(deviceId), static_cast<uint8_t>(deviceId >> 8),
                   static_cast<uint8_t>(deviceId >> 16), static_cast<uint8_t>(deviceId >> 24)};
    for (int i = 0; i < ostrel::kOffsetTableEntries; ++i) {
        const auto word = static_cast<uint16_t>(i < static_cast<int>(entries.size()) ? entries[i] : 0);
        bytes.push_back(static_cast<uint8_t>(word & 0xFF));
        bytes.push_back(static_cast<uint8_t>(word >> 8));
    }
    return bytes;
}

std::vector<int16_t> PatternTable(int16_t seed) {
    std::vector<int16_t> entries(ostrel::kOffsetTableEntries);
    for (int i = 0; i < ostrel::kOffsetTableEntries; ++i) {
        entries[i] = static_cast<int16_t>(seed * (i + 1) - 300 * (i % 3));
    }
    entries[5] = -100;
    entries[6] = INT16_MIN;
    entries[7] = INT16_MAX;
    return entries;
}

void WriteFile(const std::string &name, const Bytes &bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<int16_t> CurrentTable() {
    const auto &table = ostrel::g_engine.calibration.OffsetTable;
    return std::vector<int16_t>(std::begin(table), std::end(table));
}

void FillTable(const std::vector<int16_t> &entries) {
    std::copy(entries.begin(), entries.end(), ostrel::g_engine.calibration.OffsetTable);
}

std::vector<std::string> DirectoryEntries() {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(fs::current_path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CardDataLoad, AcceptsOnlyAWholeFileOfTheActiveBoard) {
    const std::vector<int16_t> inFile = PatternTable(7);
    const std::vector<int16_t> before = PatternTable(-3);
    const std::vector<int16_t> zeros(ostrel::kOffsetTableEntries, 0);
    const Bytes whole = CardImage(0xA001, inFile);
    Bytes bigEndianId = whole;
    std::reverse(bigEndianId.begin(), bigEndianId.begin() + 4);
    Bytes longer = whole;
    longer.insert(longer.end(), {0xDE, 0xAD, 0xBE, 0xEF});

    struct Case {
        const char *what;
        Bytes file;
        int32_t result;
        std::vector<int16_t> table;
    };
    const Case cases[] = {
        {"260 bytes, right ID", whole, 0, inFile},
        {"trailing bytes are ignored", longer, 0, inFile},
        {"259 bytes, right ID", Bytes(whole.begin(), whole.end() - 1), -1, zeros},
        {"4 bytes: ID only", Bytes(whole.begin(), whole.begin() + 4), -1, zeros},
        {"3 bytes", Bytes(whole.begin(), whole.begin() + 3), -1, zeros},
        {"empty file", Bytes{}, -1, zeros},
        {"another board's ID", CardImage(0xA002, inFile), -1, zeros},
        {"ID stored big-endian", bigEndianId, -1, zeros},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetActiveBoard(5, 0xA001);
        FillTable(before);
        WriteFile(kCommonFile, c.file);
        EXPECT_EQ(ostrel::LoadCardData(), c.result);
        EXPECT_EQ(CurrentTable(), c.table);
        EXPECT_EQ(ReadFile(kCommonFile), c.file) << "a load never changes the file";
    }
}

TEST(CardDataLoad, MissingFileLeavesTheTable) {
    SetActiveBoard(5, 0xA001);
    const std::vector<int16_t> before = PatternTable(11);
    FillTable(before);
    EXPECT_EQ(ostrel::LoadCardData(), 0);
    EXPECT_EQ(CurrentTable(), before);
    EXPECT_TRUE(DirectoryEntries().empty()) << "a load creates no file";
}

TEST(CardDataLoad, FileNameFollowsTheModel) {
    const struct {
        int32_t model;
        const char *name;
    } cases[] = {{5, kCommonFile}, {6, kCommonFile}, {7, kCommonFile}, {8, kModel8File},
                 {9, kCommonFile}, {10, kCommonFile}, {-1, kCommonFile}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        SetActiveBoard(c.model, 0xA001);
        ostrel::LoadCardData();
        EXPECT_STREQ(ostrel::g_engine.calibration.CardDataFileName, c.name);
    }
}

TEST(CardDataLoad, Model8ReadsItsOwnFileOnly) {
    SetActiveBoard(8, 0xA005);
    const std::vector<int16_t> before = PatternTable(2);
    FillTable(before);
    // A perfectly valid file for this board under the other models' name is not read.
    WriteFile(kCommonFile, CardImage(0xA005, PatternTable(9)));
    EXPECT_EQ(ostrel::LoadCardData(), 0);
    EXPECT_EQ(CurrentTable(), before);

    const std::vector<int16_t> own = PatternTable(4);
    WriteFile(kModel8File, CardImage(0xA005, own));
    EXPECT_EQ(ostrel::LoadCardData(), 0);
    EXPECT_EQ(CurrentTable(), own);
}

TEST(CardDataSave, WritesTheLittleEndianImage) {
    SetActiveBoard(5, 0xA001);
    ostrel::LoadCardData();  // chooses the name
    const std::vector<int16_t> table = PatternTable(13);
    FillTable(table);
    EXPECT_EQ(ostrel::SaveCardData(), 0);
    const Bytes written = ReadFile(kCommonFile);
    ASSERT_EQ(written.size(), 260u);
    EXPECT_EQ(written, CardImage(0xA001, table));
    // Worked bytes: the ID 0xA001 and the entry -100 at index 5.
    EXPECT_EQ((Bytes{written[0], written[1], written[2], written[3]}), (Bytes{0x01, 0xA0, 0x00, 0x00}));
    EXPECT_EQ(written[4 + 2 * 5], 0x9C);
    EXPECT_EQ(written[4 + 2 * 5 + 1], 0xFF);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kCommonFile});
}

TEST(CardDataSave, SaveThenLoadGivesBackTheTable) {
    SetActiveBoard(8, 0xA005);
    ostrel::LoadCardData();
    const std::vector<int16_t> table = PatternTable(-21);
    FillTable(table);
    ostrel::SaveCardData();
    FillTable(PatternTable(1));
    EXPECT_EQ(ostrel::LoadCardData(), 0);
    EXPECT_EQ(CurrentTable(), table);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kModel8File});
}

TEST(CardDataSave, ReplacesAnExistingFile) {
    SetActiveBoard(9, 0xA006);
    WriteFile(kCommonFile, Bytes(300, 0x55));  // longer than a card image: nothing of it may remain
    ostrel::LoadCardData();
    const std::vector<int16_t> table = PatternTable(5);
    FillTable(table);
    ostrel::SaveCardData();
    EXPECT_EQ(ReadFile(kCommonFile), CardImage(0xA006, table));
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kCommonFile});
}

TEST(CardDataSave, UsesTheNameOfTheLastLoad) {
    SetActiveBoard(8, 0xA005);
    ostrel::LoadCardData();
    ostrel::g_engine.model.ModelType = 5;  // the name is not chosen again at the save
    ostrel::SaveCardData();
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kModel8File});
}

TEST(CardDataSave, NothingLoadedMeansNothingWritten) {
    SetActiveBoard(5, 0xA001);
    EXPECT_EQ(ostrel::SaveCardData(), 0);
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST(CardDataSave, FailureMidwayLeavesTheOldFileAndNoTemporaryFile) {
    const Bytes old = CardImage(0xA001, PatternTable(3));
    for (int32_t failAfter : {0, 1, 4, 5, 130, 259}) {
        SCOPED_TRACE(testing::Message() << "write fails after " << failAfter << " bytes");
        SetActiveBoard(5, 0xA001);
        WriteFile(kCommonFile, old);
        ostrel::LoadCardData();
        FillTable(PatternTable(8));
        ostrel::Seams().cardDataWritesFailAfter = failAfter;
        EXPECT_EQ(ostrel::SaveCardData(), DAQ_ERROR) << "a failed save is reported";
        ostrel::ResetTestSeams();
        EXPECT_EQ(ReadFile(kCommonFile), old);
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kCommonFile});
    }
}

TEST(CardDataSave, FailureWithoutAnOldFileLeavesNoFile) {
    SetActiveBoard(7, 0xA004);
    ostrel::LoadCardData();
    ostrel::Seams().cardDataWritesFailAfter = 100;
    ostrel::SaveCardData();
    ostrel::ResetTestSeams();
    EXPECT_TRUE(DirectoryEntries().empty());
    // The next save, without the failure, goes through.
    ostrel::SaveCardData();
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kCommonFile});
}

TEST(CardDataSave, TargetThatCannotBeReplacedStaysAsItWas) {
    SetActiveBoard(5, 0xA001);
    ostrel::LoadCardData();
    // A directory where the file should be: the rename must fail, and the temporary file go.
    fs::create_directory(kCommonFile);
    fs::path marker = fs::path(kCommonFile) / "kept";
    WriteFile(marker.string(), Bytes{1, 2, 3});
    EXPECT_EQ(ostrel::SaveCardData(), -1);
    EXPECT_TRUE(fs::is_directory(kCommonFile));
    EXPECT_EQ(ReadFile(marker.string()), (Bytes{1, 2, 3}));
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{kCommonFile});
}

}  // namespace
