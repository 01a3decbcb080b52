// Which library the engine binds behind the driver-access contract, and what a user is told when
// there is none. This program links the engine but not the simulator, as an application on a lab
// PC would. Every case runs in a process of its own (the binding holds for the process) and sets
// the variables before the engine's first open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OstrelDAQEngine.h"
#include "driver/driver_binding.h"
#include "platform/os/os_services.h"

namespace {

// Stand-ins for the values CMake knows.
constexpr const char *kNamedStandIn = "@named";  // the stand-in under an arbitrary file name
#if defined(_WIN32)
constexpr const char *kMissingLibrary = "Z:/nonexistent/ostrel-nothing.dll";
constexpr const char *kNotADriverLibrary = "kernel32.dll";
constexpr const char *kNamedStandInFile = "ostrel-lab-driver.dll";
#else
constexpr const char *kMissingLibrary = "/nonexistent/libostrel-nothing.so";
constexpr const char *kNotADriverLibrary = "libm.so.6";
constexpr const char *kNamedStandInFile = "libostrel-lab-driver.so";
#endif

struct BindingCase {
    const char *name;
    const char *simulate;         // OSTREL_SIMULATE; null: not set
    const char *driverLibrary;    // OSTREL_DRIVER_LIBRARY; null: not set
    const char *standInBoards;    // the stand-in's own boards (its OSTREL_SIM_BOARDS); null: A006
    int32_t checkResult;
    // On success:
    std::vector<uint32_t> deviceIds;
    int32_t simulated;
    const char *libraryFile;      // the bound library's file name
    bool acquires;                // open board 0 and read one frame
    // On failure, texts the status message must contain:
    std::vector<const char *> mentions;
};

std::ostream &operator<<(std::ostream &stream, const BindingCase &binding) {
    return stream << binding.name << " (OSTREL_SIMULATE="
                  << (binding.simulate ? binding.simulate : "<unset>") << ", OSTREL_DRIVER_LIBRARY="
                  << (binding.driverLibrary ? binding.driverLibrary : "<unset>") << ")";
}

// Test lists name a case by its name alone.
void PrintTo(const BindingCase &binding, std::ostream *stream) { *stream << binding.name; }

void SetVariable(const char *name, const char *value) {
#if defined(_WIN32)
    // "NAME=" takes the variable out; _putenv also sets the process environment.
    const std::string assignment = std::string(name) + "=" + (value != nullptr ? value : "");
    _putenv(assignment.c_str());
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

std::string StatusText() {
    char text[2048] = {};
    EXPECT_EQ(DAQ_GetStatusText(text, sizeof text), DAQ_OK);
    return text;
}

bool EndsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Waits for the first announced frame, polling; the bound is far beyond any board's frame time
// and only keeps a broken binding from hanging the test.
bool WaitForFrame() {
    for (int poll = 0; poll < 60000; ++poll) {
        if (DAQ_NewDataFrameAvailable() == 1) return true;
        ostrel::os::SleepMilliseconds(1);
    }
    return false;
}

void ExpectOneFrame(const BindingCase &binding) {
    ASSERT_EQ(DAQ_OpenDevice(0), DAQ_OK) << binding << ": " << StatusText();
    constexpr uint32_t kRecordLength = 1024;
    constexpr uint32_t kRecords = 64;
    ASSERT_EQ(DAQ_ConfigAcquisition_and_Start(kRecordLength, kRecords), DAQ_OK) << binding;
    int32_t length = 0, records = 0, lanes = 0;
    DAQ_GetRecordLength(&length);
    DAQ_GetRecordNumber(&records);
    DAQ_GetADCNumber(&lanes);
    ASSERT_GT(length, 0);
    ASSERT_GT(records, 0);
    ASSERT_GE(lanes, 1);
    const size_t points = static_cast<size_t>(length) * static_cast<size_t>(records);
    std::vector<std::vector<int16_t>> frame(4, std::vector<int16_t>(points, INT16_MIN));
    ASSERT_TRUE(WaitForFrame()) << binding << ": no frame";
    ASSERT_EQ(DAQ_GetLatestFrame(frame[0].data(), frame[1].data(), frame[2].data(),
                                 frame[3].data()),
              DAQ_OK);
    EXPECT_EQ(DAQ_StopAcquisition(), DAQ_OK);
    // Each lane of the model received samples; the sample preset is not a plausible sample of a
    // board whose codes sit around mid-scale.
    for (int lane = 0; lane < lanes; ++lane) {
        size_t untouched = 0;
        for (int16_t sample : frame[static_cast<size_t>(lane)]) untouched += sample == INT16_MIN;
        EXPECT_LT(untouched, points) << binding << ": lane " << lane << " got no samples";
    }
}

class DriverBinding : public ::testing::TestWithParam<BindingCase> {};

TEST_P(DriverBinding, ChecksTheSystemThroughTheLibraryChosen) {
    const BindingCase &binding = GetParam();
    SetVariable("OSTREL_SIMULATE", binding.simulate);
    const bool named = binding.driverLibrary != nullptr &&
                       std::strcmp(binding.driverLibrary, kNamedStandIn) == 0;
    SetVariable("OSTREL_DRIVER_LIBRARY", named ? OSTREL_STANDIN_NAMED_FILE : binding.driverLibrary);
    SetVariable("OSTREL_SIM_BOARDS", binding.standInBoards);

    int32_t count = -7;
    ASSERT_EQ(DAQ_CheckSystem(&count), binding.checkResult) << binding << ": " << StatusText();
    char path[1024] = "untouched";
    int32_t simulated = -7;
    if (binding.checkResult != DAQ_OK) {
        EXPECT_EQ(count, -7) << binding;
        const std::string status = StatusText();
        for (const char *mention : binding.mentions) {
            EXPECT_NE(status.find(mention), std::string::npos)
                << binding << ": the message does not mention '" << mention << "': " << status;
        }
        EXPECT_EQ(DAQ_GetDriverLibrary(path, sizeof path, &simulated), DAQ_ERROR) << binding;
        EXPECT_STREQ(path, "untouched");
        EXPECT_EQ(simulated, -7);
        // The open refuses the same way and leaves nothing to close; a later check searches again
        // and fails again, with the same message.
        EXPECT_EQ(DAQ_OpenDevice(0), DAQ_ERROR) << binding;
        EXPECT_EQ(DAQ_CloseDevice(), 0);
        EXPECT_EQ(DAQ_CheckSystem(&count), DAQ_ERROR) << binding;
        EXPECT_EQ(StatusText(), status) << binding;
        return;
    }

    ASSERT_EQ(count, static_cast<int32_t>(binding.deviceIds.size())) << binding;
    for (int32_t index = 0; index < count; ++index) {
        uint32_t vendor = 0, device = 0, bus = 0, slot = 0, function = 0, resource = 0;
        ASSERT_EQ(DAQ_GetDeviceInfo(index, &vendor, &device, &bus, &slot, &function, &resource),
                  0);
        EXPECT_EQ(device, binding.deviceIds[static_cast<size_t>(index)])
            << binding << ": board " << index;
    }
    ASSERT_EQ(DAQ_GetDriverLibrary(path, sizeof path, &simulated), DAQ_OK) << binding;
    EXPECT_EQ(simulated, binding.simulated) << binding;
    EXPECT_TRUE(EndsWith(path, binding.libraryFile)) << binding << ": bound " << path;
    if (binding.acquires) ExpectOneFrame(binding);
    EXPECT_EQ(DAQ_CloseDevice(), 0);

    // The binding holds for the process: a later cycle uses the same library whatever the
    // variables say now.
    SetVariable("OSTREL_SIMULATE", binding.simulated != 0 ? nullptr : "A001");
    ASSERT_EQ(DAQ_CheckSystem(&count), DAQ_OK) << binding;
    char again[1024] = {};
    int32_t simulatedAgain = -7;
    ASSERT_EQ(DAQ_GetDriverLibrary(again, sizeof again, &simulatedAgain), DAQ_OK);
    EXPECT_STREQ(again, path);
    EXPECT_EQ(simulatedAgain, binding.simulated);
    EXPECT_EQ(DAQ_CloseDevice(), 0);
}

const BindingCase kEnvironmentCases[] = {
    {"NothingInstalled", nullptr, nullptr, nullptr, DAQ_ERROR, {}, 0, "", false,
     {ostrel::kDriverLibraryName, "OSTREL_DRIVER_LIBRARY", "OSTREL_SIMULATE=", "--simulate"}},
    {"NamedLibraryMissing", nullptr, kMissingLibrary, nullptr, DAQ_ERROR, {}, 0, "", false,
     {kMissingLibrary, "OSTREL_SIMULATE=", "--simulate"}},
    {"NamedFileIsNoDriverLibrary", nullptr, kNotADriverLibrary, nullptr, DAQ_ERROR, {}, 0, "",
     false, {kNotADriverLibrary, "WDC_SetDebugOptions", "OSTREL_SIMULATE="}},
    {"NamedStandIn", nullptr, kNamedStandIn, "A001,A005", DAQ_OK, {0xA001, 0xA005}, 0,
     kNamedStandInFile, true, {}},
    {"SimulatedBoards", "A006, 0xa001", nullptr, nullptr, DAQ_OK, {0xA006, 0xA001}, 1,
     ostrel::kSimulatorLibraryName, true, {}},
    {"SimulationBeforeNamedLibrary", "A005", kNamedStandIn, nullptr, DAQ_OK, {0xA005}, 1,
     ostrel::kSimulatorLibraryName, false, {}},
    {"SimulateEmptyEntry", "A006,,A001", nullptr, nullptr, DAQ_ERROR, {}, 0, "", false,
     {"entry 2", "OSTREL_SIMULATE=A006,A001"}},
    {"SimulateUnknownDevice", "A003", nullptr, nullptr, DAQ_ERROR, {}, 0, "", false,
     {"\"A003\"", "known: A001"}},
    {"SimulateNotHexadecimal", "A006,board9", nullptr, nullptr, DAQ_ERROR, {}, 0, "", false,
     {"entry 2", "\"board9\""}},
    // A bad list is refused, not passed over for the real library.
    {"SimulateBadListWithLibraryNamed", "A0061", kNamedStandIn, nullptr, DAQ_ERROR, {}, 0, "",
     false, {"\"A0061\""}},
};

// Run with the stand-in's folder on the system's library search path (ctest sets it).
const BindingCase kSearchPathCases[] = {
    {"PlatformNameOnSearchPath", nullptr, nullptr, nullptr, DAQ_OK, {0xA006}, 0,
     ostrel::kDriverLibraryName, true, {}},
};

std::string CaseName(const ::testing::TestParamInfo<BindingCase> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Environment, DriverBinding, ::testing::ValuesIn(kEnvironmentCases),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(SearchPath, DriverBinding, ::testing::ValuesIn(kSearchPathCases),
                         CaseName);

// OSTREL_SIMULATE lists: what is taken and what is refused, and that a refusal changes nothing.
TEST(SimulatedBoardList, TakesDeviceIdsAndRefusesBadEntries) {
    struct ListCase {
        const char *text;
        std::vector<uint32_t> deviceIds;  // empty: refused
        const char *mention;              // in the refusal
    };
    std::string longest;
    for (int board = 0; board < ostrel::kMaxSimulatedBoards; ++board) {
        longest += board == 0 ? "A001" : ",A001";
    }
    const std::string tooMany = longest + ",A001";
    const std::vector<ListCase> cases = {
        {"A006", {0xA006}, nullptr},
        {"a006,A001", {0xA006, 0xA001}, nullptr},
        {" 0xA002 ,\t0XE001 ", {0xA002, 0xE001}, nullptr},
        {"A004,A005,A007", {0xA004, 0xA005, 0xA007}, nullptr},
        {longest.c_str(), std::vector<uint32_t>(ostrel::kMaxSimulatedBoards, 0xA001), nullptr},
        {"", {}, "entry 1"},
        {" ", {}, "entry 1"},
        {",", {}, "entry 1"},
        {"A006,", {}, "entry 2"},
        {"A006;A001", {}, "\"A006;A001\""},
        {"0x", {}, "\"0x\""},
        {"A003", {}, "\"A003\""},
        {"1172", {}, "\"1172\""},
        {"0A006", {}, "\"0A006\""},
        {"A006 A001", {}, "\"A006 A001\""},
        {"-A006", {}, "\"-A006\""},
        {tooMany.c_str(), {}, "at most 64"},
    };
    for (const ListCase &list : cases) {
        uint32_t deviceIds[ostrel::kMaxSimulatedBoards] = {0x5A5A};
        int count = -7;
        char problem[512] = "untouched";
        const bool taken = ostrel::ParseSimulatedBoards(list.text, deviceIds, count, problem,
                                                        static_cast<int>(sizeof problem));
        ASSERT_EQ(taken, !list.deviceIds.empty()) << "'" << list.text << "': " << problem;
        if (taken) {
            ASSERT_EQ(count, static_cast<int>(list.deviceIds.size())) << list.text;
            for (size_t index = 0; index < list.deviceIds.size(); ++index) {
                EXPECT_EQ(deviceIds[index], list.deviceIds[index]) << list.text << " #" << index;
            }
            EXPECT_STREQ(problem, "untouched") << list.text;
        } else {
            EXPECT_EQ(count, -7) << list.text;
            EXPECT_EQ(deviceIds[0], 0x5A5Au) << list.text;
            EXPECT_NE(std::string(problem).find(list.mention), std::string::npos)
                << "'" << list.text << "': " << problem;
        }
    }
}

// The new exports refuse what they must and write nothing then.
TEST(DriverLibraryExports, RefuseNullPointersAndEmptyBuffers) {
    char text[16] = "untouched";
    int32_t simulated = -7;
    EXPECT_EQ(DAQ_GetDriverLibrary(nullptr, 16, &simulated), DAQ_ERROR);
    EXPECT_EQ(DAQ_GetDriverLibrary(text, 0, &simulated), DAQ_ERROR);
    EXPECT_EQ(DAQ_GetDriverLibrary(text, -1, &simulated), DAQ_ERROR);
    EXPECT_EQ(DAQ_GetDriverLibrary(text, 16, nullptr), DAQ_ERROR);
    EXPECT_EQ(DAQ_GetStatusText(nullptr, 16), DAQ_ERROR);
    EXPECT_EQ(DAQ_GetStatusText(text, 0), DAQ_ERROR);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(simulated, -7);
    // A one-byte buffer holds the terminating zero only; a short one holds the start.
    SetVariable("OSTREL_SIMULATE", "A003");
    int32_t count = 0;
    ASSERT_EQ(DAQ_CheckSystem(&count), DAQ_ERROR);
    char one[1] = {'x'};
    EXPECT_EQ(DAQ_GetStatusText(one, 1), DAQ_OK);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(DAQ_GetStatusText(text, sizeof text), DAQ_OK);
    EXPECT_EQ(std::strlen(text), sizeof text - 1);
    EXPECT_EQ(std::string(text), std::string("OSTREL_SIMULATE=\"A003\"").substr(0, sizeof text - 1));
}

}  // namespace
