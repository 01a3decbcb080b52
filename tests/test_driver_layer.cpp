// The board driver layer over the simulated driver-access library: library reference count,
// device handles and their clean-up, the handle check, interrupt, event and address-space
// services, and the ErrorText they leave.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "OstrelBoardSim.h"
#include "driver/driver_layer.h"
#include "engine/engine_state.h"
#include "support/board_scenario.h"

namespace {

using namespace ostrel;
using ostrel::test::ErrorText;
using ostrel::test::Format;

int Calls(const char *operation) { return SIM_GetCallCount(operation); }
int Resources(int resource) { return SIM_GetResourceCount(resource); }

// ---- library reference count --------------------------------------------------------------------

TEST(DriverLibrary, OpenedOnceAndClosedByTheLastReference) {
    EXPECT_EQ(OpenDriverLibrary(), 0u);
    EXPECT_EQ(OpenDriverLibrary(), 0u);
    EXPECT_EQ(Calls("WDC_DriverOpen"), 1);
    EXPECT_EQ(Calls("WDC_SetDebugOptions"), 1);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 2u);

    EXPECT_EQ(CloseDriverLibrary(), 0u);
    EXPECT_EQ(Calls("WDC_DriverClose"), 0);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    EXPECT_EQ(CloseDriverLibrary(), 0u);
    EXPECT_EQ(Calls("WDC_DriverClose"), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(DriverLibrary, CloseWithoutReferenceChangesNothingAndTheNextCycleClosesTheLibrary) {
    EXPECT_EQ(CloseDriverLibrary(), 0u);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
    EXPECT_EQ(Calls("WDC_DriverClose"), 0);

    EXPECT_EQ(OpenDriverLibrary(), 0u);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
    EXPECT_EQ(Calls("WDC_DriverOpen"), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    EXPECT_EQ(CloseDriverLibrary(), 0u);
    EXPECT_EQ(Calls("WDC_DriverClose"), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

TEST(DriverLibrary, FailedOpenReturnsItsStatusAndTakesNoReference) {
    const struct {
        int fault;
        uint32_t status;
        const char *format;
    } rows[] = {
        {SIM_FAULT_DRIVER_OPEN, WD_INSUFFICIENT_RESOURCES,
         "Failed to initialize the WDC library. Error 0x%x - %s\n"},
        {SIM_FAULT_DEBUG_OPTIONS, WD_INVALID_PARAMETER,
         "Failed to initialize debug options for WDC library.\nError 0x%x - %s\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "fault " << row.fault);
        g_engine.discovery.DriverOpenCount = 0;
        ASSERT_EQ(SIM_SetFault(row.fault, row.status), 0);
        EXPECT_EQ(OpenDriverLibrary(), row.status);
        EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
        EXPECT_EQ(ErrorText(), Format(row.format, row.status, Stat2Str(row.status)));
        ASSERT_EQ(SIM_SetFault(row.fault, 0), 0);

        // No reference is held for a library that is not open: the next open calls it again.
        const int opensAfterFailure = Calls("WDC_DriverOpen");
        EXPECT_EQ(OpenDriverLibrary(), 0u);
        EXPECT_EQ(Calls("WDC_DriverOpen"), opensAfterFailure + 1);
        EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
        EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
        EXPECT_EQ(CloseDriverLibrary(), 0u);
        EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
    }
}

TEST(DriverLibrary, FailedCloseReportsReturnsItsStatusAndKeepsTheReference) {
    ASSERT_EQ(OpenDriverLibrary(), 0u);
    const uint32_t status = WD_WINDRIVER_STATUS_ERROR;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DRIVER_CLOSE, status), 0);
    EXPECT_EQ(CloseDriverLibrary(), status);
    EXPECT_EQ(ErrorText(),
              Format("Failed to uninit the WDC library. Error 0x%x - %s\n", status,
                     Stat2Str(status)));
    // The library is still open, so its reference stays and the next close tries again.
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 1u);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DRIVER_CLOSE, 0), 0);
    EXPECT_EQ(CloseDriverLibrary(), 0u);
    EXPECT_EQ(g_engine.discovery.DriverOpenCount, 0u);
    EXPECT_EQ(Resources(SIM_RESOURCE_DRIVER_OPEN), 0);
}

// ---- device handles -----------------------------------------------------------------------------

class DriverDevice : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenDriverLibrary(), 0u); }
    void TearDown() override {
        if (handle_ != nullptr) ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle_);
        if (bareHandle_ != nullptr) WDC_PciDeviceClose(bareHandle_);
        CloseDriverLibrary();
        EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
    }

    // The card information of board 0 as the library reports it.
    static WD_PCI_CARD_INFO CardInfo() {
        WD_PCI_CARD_INFO info{};
        info.pciSlot = WD_PCI_SLOT{1, 0, 0};
        EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
        return info;
    }

    WDC_DEVICE_HANDLE Open() {
        const WD_PCI_CARD_INFO info = CardInfo();
        handle_ = ALT_PCIE_QSYS_SIMPLE_DeviceOpen(&info);
        EXPECT_NE(handle_, nullptr);
        return handle_;
    }

    // A handle the library opened without a context, as another user of the library might.
    WDC_DEVICE_HANDLE OpenWithoutContext() {
        const WD_PCI_CARD_INFO info = CardInfo();
        EXPECT_EQ(WDC_PciDeviceOpen(&bareHandle_, &info, nullptr, nullptr, nullptr, nullptr), 0u);
        EXPECT_NE(bareHandle_, nullptr);
        return bareHandle_;
    }

    void Closed() { handle_ = nullptr; }

    WDC_DEVICE_HANDLE handle_ = nullptr;
    WDC_DEVICE_HANDLE bareHandle_ = nullptr;
};

TEST_F(DriverDevice, OpenGivesAHandleWithItsContextAndCloseReleasesBoth) {
    WDC_DEVICE_HANDLE handle = Open();
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(WDC_GetDevContext(handle), nullptr);
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 1);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 1);
    Closed();
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

TEST_F(DriverDevice, OpenWithoutInformationRefuses) {
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceOpen(nullptr), nullptr);
    EXPECT_EQ(ErrorText(),
              "ALT_PCIE_QSYS_SIMPLE_DeviceOpen: Error - NULL device information struct pointer\n");
    EXPECT_EQ(Calls("WDC_PciDeviceOpen"), 0);
}

TEST_F(DriverDevice, FailedOpenLeavesNoHandleAndNoContext) {
    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_OPEN, status), 0);
    const WD_PCI_CARD_INFO info = CardInfo();
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceOpen(&info), nullptr);
    EXPECT_EQ(ErrorText(),
              Format("Failed opening a WDC device handle. Error 0x%x - %s\n", status,
                     Stat2Str(status)));
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
    // The context is freed: the leak checker of the sanitizer build would report it otherwise.
}

TEST_F(DriverDevice, FailedOpenThatStillGaveAHandleClosesIt) {
    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetOpenFaultKeepsHandle(1), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_OPEN, status), 0);
    const WD_PCI_CARD_INFO info = CardInfo();
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceOpen(&info), nullptr);
    EXPECT_EQ(Calls("WDC_PciDeviceClose"), 1);
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

TEST_F(DriverDevice, CloseOfANullHandleCallsNothing) {
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(nullptr), 0);
    EXPECT_EQ(ErrorText(), "ALT_PCIE_QSYS_SIMPLE_DeviceClose: Error - NULL device handle\n");
    EXPECT_EQ(Calls("WDC_PciDeviceClose"), 0);
    EXPECT_EQ(Calls("WDC_GetDevContext"), 0);
    EXPECT_EQ(Calls("WDC_IntIsEnabled"), 0);
}

TEST_F(DriverDevice, FailedCloseReportsAndStillFreesTheContext) {
    WDC_DEVICE_HANDLE handle = Open();
    const uint32_t status = WD_INVALID_HANDLE;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_CLOSE, status), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 0);
    EXPECT_EQ(ErrorText(), Format("Failed closing a WDC device handle (0x%p). Error 0x%x - %s\n",
                                  handle, status, Stat2Str(status)));
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_DEVICE_CLOSE, 0), 0);
    // Whether the library let go of the handle is its business; the context is ours and is gone.
    if (Resources(SIM_RESOURCE_DEVICE_HANDLES) != 0) WDC_PciDeviceClose(handle);
    Closed();
}

TEST_F(DriverDevice, CloseTurnsInterruptsOffFirst) {
    WDC_DEVICE_HANDLE handle = Open();
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, nullptr), 0u);
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(handle), 1);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 1);
    Closed();
    EXPECT_EQ(Calls("WDC_IntDisable"), 1);
}

TEST_F(DriverDevice, CloseLeavesInterruptsAloneWhenTheyAreOff) {
    WDC_DEVICE_HANDLE handle = Open();
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 1);
    Closed();
    EXPECT_EQ(Calls("WDC_IntDisable"), 0);
}

// ---- the handle check and what each service returns when it fails ------------------------------

TEST_F(DriverDevice, CheckNamesTheCallerAndWhatIsMissing) {
    EXPECT_FALSE(CheckDeviceHandle(nullptr, "SomeOperation"));
    EXPECT_EQ(ErrorText(), "SomeOperation: NULL device handle\n");
    EXPECT_FALSE(CheckDeviceHandle(OpenWithoutContext(), "OtherOperation"));
    EXPECT_EQ(ErrorText(), "OtherOperation: NULL device context\n");

    DriverError("untouched");
    EXPECT_TRUE(CheckDeviceHandle(Open(), "Anything"));
    EXPECT_EQ(ErrorText(), "untouched");
}

TEST_F(DriverDevice, EveryServiceRefusesAHandleThatFailsTheCheck) {
    struct Row {
        const char *name;
        uint32_t (*call)(WDC_DEVICE_HANDLE);
        uint32_t refusal;
    };
    const Row rows[] = {
        {"ALT_PCIE_QSYS_SIMPLE_IntEnable",
         [](WDC_DEVICE_HANDLE h) { return ALT_PCIE_QSYS_SIMPLE_IntEnable(h, nullptr); },
         0x2000001B},
        {"ALT_PCIE_QSYS_SIMPLE_IntDisable",
         [](WDC_DEVICE_HANDLE h) { return ALT_PCIE_QSYS_SIMPLE_IntDisable(h); }, 0x2000001B},
        {"ALT_PCIE_QSYS_SIMPLE_IntIsEnabled",
         [](WDC_DEVICE_HANDLE h) {
             return static_cast<uint32_t>(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(h));
         },
         0},
        {"ALT_PCIE_QSYS_SIMPLE_EventRegister",
         [](WDC_DEVICE_HANDLE h) { return ALT_PCIE_QSYS_SIMPLE_EventRegister(h, nullptr); },
         0x2000001B},
        {"ALT_PCIE_QSYS_SIMPLE_EventUnregister",
         [](WDC_DEVICE_HANDLE h) { return ALT_PCIE_QSYS_SIMPLE_EventUnregister(h); }, 0x2000001B},
        {"ALT_PCIE_QSYS_SIMPLE_EventIsRegistered",
         [](WDC_DEVICE_HANDLE h) {
             return static_cast<uint32_t>(ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(h));
         },
         0},
        {"ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces",
         [](WDC_DEVICE_HANDLE h) { return ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces(h); }, 0},
        {"ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo",
         [](WDC_DEVICE_HANDLE h) {
             AddrSpaceInfo info;
             return static_cast<uint32_t>(ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(h, &info));
         },
         0},
    };
    WDC_DEVICE_HANDLE withoutContext = OpenWithoutContext();
    const int libraryCallsBefore = Calls("WDC_IntEnable") + Calls("WDC_IntDisable") +
                                   Calls("WDC_EventRegister") + Calls("WDC_EventUnregister");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(nullptr), row.refusal);
        EXPECT_EQ(ErrorText(), std::string(row.name) + ": NULL device handle\n");
        EXPECT_EQ(row.call(withoutContext), row.refusal);
        EXPECT_EQ(ErrorText(), std::string(row.name) + ": NULL device context\n");
    }
    EXPECT_EQ(Calls("WDC_IntEnable") + Calls("WDC_IntDisable") + Calls("WDC_EventRegister") +
                  Calls("WDC_EventUnregister"),
              libraryCallsBefore);
}

// ---- interrupts ---------------------------------------------------------------------------------

WDC_DEVICE_HANDLE g_handlerDevice = nullptr;
IntResult g_handlerResult;
int g_handlerCalls = 0;

void RecordInterrupt(WDC_DEVICE_HANDLE handle, IntResult *result) {
    g_handlerDevice = handle;
    g_handlerResult = *result;
    ++g_handlerCalls;
}

TEST_F(DriverDevice, InterruptsEnableOnceAndDisableOnce) {
    WDC_DEVICE_HANDLE handle = Open();
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(handle), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), 0u);
    EXPECT_NE(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(handle), 0);

    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), 0x20000011u);
    EXPECT_EQ(ErrorText(), "Interrupts are already enabled ...\n");
    EXPECT_EQ(Calls("WDC_IntEnable"), 1);

    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntDisable(handle), 0u);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(handle), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntDisable(handle), 0x20000011u);
    EXPECT_EQ(ErrorText(), "Interrupts are already disabled ...\n");
    EXPECT_EQ(Calls("WDC_IntDisable"), 1);
}

TEST_F(DriverDevice, InterruptEnableWithoutAnInterruptResourceRefusesSilently) {
    ASSERT_EQ(SIM_SetInterruptResource(0, 0), 0);
    WDC_DEVICE_HANDLE handle = Open();
    DriverError("earlier message");
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), 0x20000020u);
    EXPECT_EQ(ErrorText(), "earlier message");
    EXPECT_EQ(Calls("WDC_IntEnable"), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntIsEnabled(handle), 0);
}

TEST_F(DriverDevice, FailedInterruptEnableAndDisableReportTheLibraryStatus) {
    WDC_DEVICE_HANDLE handle = Open();
    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_ENABLE, status), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), status);
    EXPECT_EQ(ErrorText(),
              Format("Failed enabling interrupts. Error 0x%x - %s\n", status, Stat2Str(status)));
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_ENABLE, 0), 0);

    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), 0u);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_DISABLE, status), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_IntDisable(handle), status);
    EXPECT_EQ(ErrorText(),
              Format("Failed disabling interrupts. Error 0x%x - %s\n", status, Stat2Str(status)));

    // The close reports the failure to turn them off and closes all the same.
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 1);
    Closed();
    EXPECT_EQ(ErrorText(),
              Format("Failed disabling interrupts. Error 0x%x - %s\n", status, Stat2Str(status)));
    EXPECT_EQ(Resources(SIM_RESOURCE_DEVICE_HANDLES), 0);
}

TEST_F(DriverDevice, InterruptHandlerReceivesTheInterruptState) {
    // The last message word is passed on only for the message-signalled interrupt types.
    const struct {
        uint32_t type;
        uint32_t expectedMessage;
    } rows[] = {{0x10, 0xCAFE}, {0x20, 0xCAFE}, {0x30, 0xCAFE}, {0x01, 0}, {0x40, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "interrupt type 0x" << std::hex << row.type);
        ASSERT_EQ(SIM_SetInterruptType(0, row.type), 0);
        WDC_DEVICE_HANDLE handle = Open();
        ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_IntEnable(handle, RecordInterrupt), 0u);
        g_handlerCalls = 0;
        ASSERT_EQ(SIM_RaiseInterrupt(0, 0x1234, 0), 1);
        ASSERT_EQ(SIM_RaiseInterrupt(0, 0xCAFE, 3), 1);
        ASSERT_EQ(g_handlerCalls, 2);
        EXPECT_EQ(g_handlerDevice, handle);
        EXPECT_EQ(g_handlerResult.dwCounter, 2u);
        EXPECT_EQ(g_handlerResult.dwLost, 3u);
        EXPECT_EQ(g_handlerResult.waitResult, 0u);
        EXPECT_EQ(g_handlerResult.dwEnabledIntType, row.type);
        EXPECT_EQ(g_handlerResult.dwLastMessage, row.expectedMessage);
        EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_DeviceClose(handle), 1);
        Closed();
    }
}

// ---- events -------------------------------------------------------------------------------------

WDC_DEVICE_HANDLE g_eventDevice = nullptr;
uint32_t g_eventAction = 0;

void RecordEvent(WDC_DEVICE_HANDLE handle, uint32_t action) {
    g_eventDevice = handle;
    g_eventAction = action;
}

TEST_F(DriverDevice, EventsRegisterOnceAndUnregisterOnce) {
    WDC_DEVICE_HANDLE handle = Open();
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(handle), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventRegister(handle, RecordEvent), 0u);
    EXPECT_NE(ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(handle), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventRegister(handle, RecordEvent), 0x20000011u);
    EXPECT_EQ(ErrorText(), "Events are already registered ...\n");
    EXPECT_EQ(Calls("WDC_EventRegister"), 1);

    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventUnregister(handle), 0u);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventIsRegistered(handle), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventUnregister(handle), 0x20000011u);
    EXPECT_EQ(ErrorText(), "Cannot unregister events - no events currently registered ...\n");
    EXPECT_EQ(Calls("WDC_EventUnregister"), 1);
}

TEST_F(DriverDevice, EventHandlerPassesTheActionsOfTheRegisteredKinds) {
    WDC_DEVICE_HANDLE handle = Open();
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_EventRegister(handle, RecordEvent), 0u);
    // Insertion, removal and power changes are registered; other action bits are not.
    const struct {
        uint32_t action;
        int deliveries;
    } rows[] = {{WD_INSERT, 1},           {WD_REMOVE, 1},
                {WD_POWER_CHANGED_D0, 1}, {WD_POWER_CHANGED_D3, 1},
                {WD_POWER_SYSTEM_WORKING, 1}, {WD_POWER_SYSTEM_HIBERNATE, 1},
                {0x4, 0},                 {0x400, 0},
                {0x4000, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "action 0x" << std::hex << row.action);
        g_eventDevice = nullptr;
        g_eventAction = 0;
        EXPECT_EQ(SIM_RaiseEvent(0, row.action), row.deliveries);
        EXPECT_EQ(g_eventDevice, row.deliveries ? handle : nullptr);
        EXPECT_EQ(g_eventAction, row.deliveries ? row.action : 0u);
    }
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_EventUnregister(handle), 0u);
    EXPECT_EQ(SIM_RaiseEvent(0, WD_REMOVE), 0);
}

TEST_F(DriverDevice, FailedEventRegistrationReportsTheLibraryStatus) {
    WDC_DEVICE_HANDLE handle = Open();
    const uint32_t status = WD_INSUFFICIENT_RESOURCES;
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_REGISTER, status), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventRegister(handle, RecordEvent), status);
    EXPECT_EQ(ErrorText(),
              Format("Failed to register events. Error 0x%x - %s\n", status, Stat2Str(status)));
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_REGISTER, 0), 0);

    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_EventRegister(handle, RecordEvent), 0u);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_UNREGISTER, status), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventUnregister(handle), status);
    EXPECT_EQ(ErrorText(),
              Format("Failed to unregister events. Error 0x%x - %s\n", status, Stat2Str(status)));
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_UNREGISTER, 0), 0);
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_EventUnregister(handle), 0u);
}

// ---- address spaces -----------------------------------------------------------------------------

TEST_F(DriverDevice, AddressSpacesAreDescribedByNumber) {
    WDC_DEVICE_HANDLE handle = Open();
    const WD_PCI_CARD_INFO info = CardInfo();
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_GetNumAddrSpaces(handle), 6u);

    const auto range = [](uint64_t base, uint64_t bytes) {
        return Format("0x%08X - 0x%08X (0x%x bytes)", static_cast<uint32_t>(base),
                      static_cast<uint32_t>(base + bytes - 1), static_cast<uint32_t>(bytes));
    };
    const struct {
        uint32_t space;
        std::string name, type, description;
    } rows[] = {
        {0, "BAR 0", "Memory", range(info.Card.Item[0].I.Mem.pPhysicalAddr, 0x10000000)},
        {1, "BAR 1", "Memory", "Inactive address space"},
        {2, "BAR 2", "Memory", range(info.Card.Item[1].I.Mem.pPhysicalAddr, 0x08000000)},
        {4, "BAR 4", "Memory", range(info.Card.Item[2].I.Mem.pPhysicalAddr, 0x10000)},
        {5, "BAR 5", "Memory", "Inactive address space"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "space " << row.space);
        AddrSpaceInfo described;
        described.dwNumAddrSp = row.space;
        ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(handle, &described), 1);
        EXPECT_EQ(std::string(described.sName), row.name);
        EXPECT_EQ(std::string(described.sType), row.type);
        EXPECT_EQ(std::string(described.sDesc), row.description);
    }
    // Eight upper-case digits for the addresses, lower case for the length.
    AddrSpaceInfo bar4;
    bar4.dwNumAddrSp = 4;
    ASSERT_EQ(ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(handle, &bar4), 1);
    EXPECT_NE(std::strstr(bar4.sDesc, "(0x10000 bytes)"), nullptr) << bar4.sDesc;
}

TEST_F(DriverDevice, AddressSpaceOutOfRangeIsReported) {
    WDC_DEVICE_HANDLE handle = Open();
    for (uint32_t space : {6u, 7u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(space);
        AddrSpaceInfo described;
        described.dwNumAddrSp = space;
        std::strcpy(described.sName, "kept");
        EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(handle, &described), 0);
        EXPECT_EQ(ErrorText(), Format("ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo: Error - Address "
                                      "space %ld is out of range (0 - 5)\n",
                                      static_cast<long>(space)));
        EXPECT_STREQ(described.sName, "kept");
    }
    EXPECT_EQ(ALT_PCIE_QSYS_SIMPLE_GetAddrSpaceInfo(handle, nullptr), 0);
}

// ---- ErrorText ----------------------------------------------------------------------------------

TEST(DriverError, KeepsAtMost255CharactersAndStaysTerminated) {
    const struct {
        size_t length;
        size_t kept;
    } rows[] = {{0, 0}, {1, 1}, {254, 254}, {255, 255}, {256, 255}, {300, 255}, {5000, 255}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "message of " << row.length << " characters");
        std::string message;
        for (size_t index = 0; index < row.length; ++index) message += char('a' + index % 26);
        std::memset(g_engine.discovery.ErrorText, 'x', sizeof(g_engine.discovery.ErrorText));
        DriverError("%s", message.c_str());
        // Terminated inside the buffer even when it held no terminator before.
        ASSERT_NE(std::memchr(g_engine.discovery.ErrorText, '\0', kErrorTextSize), nullptr);
        EXPECT_EQ(ErrorText(), message.substr(0, row.kept));
    }
}

TEST(DriverError, LongOperationNameInTheHandleCheckIsCutAt255) {
    const std::string name(400, 'N');
    EXPECT_FALSE(CheckDeviceHandle(nullptr, name.c_str()));
    EXPECT_EQ(ErrorText(), name.substr(0, 255));
}

TEST(DriverError, TraceLeavesTheMessageAlone) {
    DriverError("Failed %s", "something");
    DriverTrace("ALT_PCIE_QSYS_SIMPLE_DeviceClose entered. Device handle: 0x%p\n",
                static_cast<void *>(nullptr));
    EXPECT_EQ(ErrorText(), "Failed something");
    EXPECT_EQ(DriverLastError(), g_engine.discovery.ErrorText);
}

}  // namespace
