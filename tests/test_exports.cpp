// The shared library exports exactly the functions of the public header, with unmangled C names,
// and the module-definition file lists exactly those names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <set>
#include <string>

#include "OstrelDAQEngine.h"
#include "support/export_table.h"

namespace {

using ostrel::test::ReadDefExports;
using ostrel::test::ReadExportedNames;
using ostrel::test::ReadHeaderExports;
using ostrel::test::ReadHeaderExportsWithoutNoexcept;

std::string Listed(const std::set<std::string> &names) {
    std::string text;
    for (const std::string &name : names) text += " " + name;
    return text.empty() ? " (none)" : text;
}

std::set<std::string> Minus(const std::set<std::string> &left, const std::set<std::string> &right) {
    std::set<std::string> difference;
    std::set_difference(left.begin(), left.end(), right.begin(), right.end(),
                        std::inserter(difference, difference.end()));
    return difference;
}

std::set<std::string> DefNames() {
    const auto listed = ReadDefExports(OSTREL_EXPORTS_DEF_PATH);
    return {listed.begin(), listed.end()};
}

TEST(Exports, HeaderDeclaresTheFamiliesOfEveryExport) {
    const std::set<std::string> header = ReadHeaderExports(OSTREL_PUBLIC_HEADER_PATH);
    // A few names of each family, spelled as the applications call them.
    for (const char *name : {"ReadMemory32", "TestFunction", "DAQ_OpenDevice", "GetDeviceResource",
                             "DAQ_ConfigAcquisition_and_Start", "DAQ_GetDMATransferPoints",
                             "AWG_SetDutycycle", "AWG_GetnelNum", "DAQ_StreamRead",
                             "DAQ_GetLatestFrameInfo"}) {
        EXPECT_EQ(header.count(name), 1u) << name;
    }
    EXPECT_EQ(header.size(), 82u);
}

// No exception may cross into a C caller: every declaration carries OSTREL_NOEXCEPT, and in C++ the
// macro is noexcept (a definition without it would then not compile).
TEST(Exports, EveryHeaderExportIsNoexcept) {
    EXPECT_EQ(ReadHeaderExportsWithoutNoexcept(OSTREL_PUBLIC_HEADER_PATH), std::set<std::string>{});
    static_assert(noexcept(DAQ_NewDataFrameAvailable()));
    static_assert(noexcept(TestFunction(0)));
    static_assert(noexcept(DAQ_Calibration_DCOffset()));
    static_assert(noexcept(AWG_SetFrequency(0, 0.0)));
    static_assert(noexcept(DAQ_StreamRead(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0)));
    static_assert(noexcept(DAQ_StreamStop()));
}

// The result names keep the values applications were written against.
TEST(Exports, ResultNamesKeepTheirValues) {
    static_assert(DAQ_OK == 0 && DAQ_ERROR == -1);
    static_assert(DAQ_ERROR_REVISION == -2 && DAQ_ERROR_CARD_DATA_NOT_SAVED == -2);
    static_assert(DAQ_ERROR_CONTROL_DEVICE == -3 && DAQ_ERROR_DMA_LOCK == -4);
    static_assert(DAQ_TIMEOUT == -5 && DAQ_OVERFLOW == -6 && DAQ_ENDED == -7);
    EXPECT_EQ(sizeof(OstrelResult), sizeof(int));
}

// The streaming interface's constants and the layout of its frame description are part of the
// binary interface: a caller built against the header passes them as plain numbers and reads the
// struct at these offsets (the size field lets the struct grow at its end only).
TEST(Exports, StreamConstantsAndFrameInfoLayoutStayFixed) {
    static_assert(DAQ_FRAME_COMPLETE == 1 && DAQ_FRAME_GAP_BEFORE == 2);
    static_assert(DAQ_STREAM_DROP_OLDEST == 0 && DAQ_STREAM_DROP_NEWEST == 1 &&
                  DAQ_STREAM_FAIL == 2);
    static_assert(offsetof(DAQ_FrameInfo, size) == 0);
    static_assert(offsetof(DAQ_FrameInfo, flags) == 4);
    static_assert(offsetof(DAQ_FrameInfo, frameSequence) == 8);
    static_assert(offsetof(DAQ_FrameInfo, recordsExpected) == 16);
    static_assert(offsetof(DAQ_FrameInfo, recordsValid) == 20);
    static_assert(offsetof(DAQ_FrameInfo, framesLostBefore) == 24);
    static_assert(offsetof(DAQ_FrameInfo, recordsLostTotal) == 32);
    static_assert(offsetof(DAQ_FrameInfo, completedNs) == 40);
    static_assert(offsetof(DAQ_FrameInfo, samplePeriodS) == 48);
    EXPECT_EQ(sizeof(DAQ_FrameInfo), 56u);
}

TEST(Exports, DefFileListsEachHeaderExportOnce) {
    const auto listed = ReadDefExports(OSTREL_EXPORTS_DEF_PATH);
    for (const std::string &name : std::set<std::string>(listed.begin(), listed.end())) {
        EXPECT_EQ(listed.count(name), 1u) << name << " listed more than once";
    }
    const std::set<std::string> header = ReadHeaderExports(OSTREL_PUBLIC_HEADER_PATH);
    const std::set<std::string> def = DefNames();
    EXPECT_EQ(header, def) << "in the header only:" << Listed(Minus(header, def))
                           << "\nin the .def only:" << Listed(Minus(def, header));
}

TEST(Exports, LibraryExportsExactlyTheHeaderNames) {
    const std::set<std::string> exported = ReadExportedNames(OSTREL_ENGINE_LIBRARY_PATH);
    const std::set<std::string> header = ReadHeaderExports(OSTREL_PUBLIC_HEADER_PATH);
    SCOPED_TRACE(OSTREL_ENGINE_LIBRARY_PATH);
    EXPECT_EQ(exported, header)
        << "exported but not declared:" << Listed(Minus(exported, header))
        << "\ndeclared but not exported:" << Listed(Minus(header, exported));
}

// The whole interface applications are written against, named one by one: a name dropped from or
// misspelled in the header, the .def file and the library alike still shows here.
const char *const kInterface[] = {
    "AWG_DesignWaveform",
    "AWG_EnableOutput",
    "AWG_GetAmplitude",
    "AWG_GetDutycycle",
    "AWG_GetFrequency",
    "AWG_GetOffset",
    "AWG_GetPhase",
    "AWG_GetWaveformType",
    "AWG_GetnelNum",
    "AWG_SetAmplitude",
    "AWG_SetDutycycle",
    "AWG_SetFrequency",
    "AWG_SetOffset",
    "AWG_SetPhase",
    "AWG_SetWaveformType",
    "AWG_SyncAllChannels",
    "AWG_UpdateWaveform",
    "DAQ_Calibration_DCOffset",
    "DAQ_Calibration_VerticalScale",
    "DAQ_CheckDMA",
    "DAQ_CheckSamplingRates",
    "DAQ_CheckSystem",
    "DAQ_CloseDevice",
    "DAQ_ConfigAcquisition",
    "DAQ_ConfigAcquisition_and_Start",
    "DAQ_CopyDMAPool",
    "DAQ_DMABandwidthTest",
    "DAQ_FinalizeAcquisition",
    "DAQ_GetADCNumber",
    "DAQ_GetAttenuation",
    "DAQ_GetAttenuationNumber",
    "DAQ_GetClockDivider",
    "DAQ_GetCoupling",
    "DAQ_GetCouplingNumber",
    "DAQ_GetDMAInfo",
    "DAQ_GetDMATransferPoints",
    "DAQ_GetDebugValue",
    "DAQ_GetDeviceInfo",
    "DAQ_GetDeviceModel",
    "DAQ_GetDeviceNum",
    "DAQ_GetDriverLibrary",
    "DAQ_GetGain",
    "DAQ_GetGainNumber",
    "DAQ_GetInputChannel",
    "DAQ_GetLatestFrame",
    "DAQ_GetLatestFrameInfo",
    "DAQ_GetMaxRecordLength",
    "DAQ_GetRecordLength",
    "DAQ_GetRecordNumInMem",
    "DAQ_GetRecordNumber",
    "DAQ_GetSamplingRate",
    "DAQ_GetStatusText",
    "DAQ_GetTermination",
    "DAQ_GetTerminationNumber",
    "DAQ_GetTrigger",
    "DAQ_GetVerticalInfo",
    "DAQ_MeasureSignal",
    "DAQ_NewDataFrameAvailable",
    "DAQ_OpenDevice",
    "DAQ_ProcessDMAPool",
    "DAQ_SelfCalibrationOnce",
    "DAQ_SetAttenuation",
    "DAQ_SetCoupling",
    "DAQ_SetGain",
    "DAQ_SetInputChannel",
    "DAQ_SetLEDCode",
    "DAQ_SetRecordCounters",
    "DAQ_SetRecordLength",
    "DAQ_SetRecordNumber",
    "DAQ_SetSamplingRate",
    "DAQ_SetTermination",
    "DAQ_SetTrigger",
    "DAQ_StartAcquisition",
    "DAQ_StopAcquisition",
    "DAQ_StreamRead",
    "DAQ_StreamStart",
    "DAQ_StreamStop",
    "GetDeviceResource",
    "ReadConfigurationRegister",
    "ReadMemory32",
    "TestFunction",
    "WriteMemory32",
};

TEST(Exports, LibraryExportsTheWholeApplicationInterface) {
    const std::set<std::string> expected(std::begin(kInterface), std::end(kInterface));
    const std::set<std::string> exported = ReadExportedNames(OSTREL_ENGINE_LIBRARY_PATH);
    EXPECT_EQ(exported, expected) << "missing:" << Listed(Minus(expected, exported))
                                  << "\nnot expected:" << Listed(Minus(exported, expected));
}

TEST(Exports, DriverLayerAndEngineInternalsStayHidden) {
    const std::set<std::string> exported = ReadExportedNames(OSTREL_ENGINE_LIBRARY_PATH);
    for (const std::string &name : exported) {
        EXPECT_EQ(name.rfind("_Z", 0), std::string::npos) << "mangled name exported: " << name;
        EXPECT_EQ(name.find("ALT_PCIE_QSYS_SIMPLE"), std::string::npos) << name;
    }
    for (const char *internal : {"DeviceFind", "DeviceOpen", "DeviceClose", "ApplyBoardModel",
                                 "OpenDriverLibrary", "DriverError", "WDC_PciScanDevices"}) {
        EXPECT_EQ(exported.count(internal), 0u) << internal;
    }
}

}  // namespace
