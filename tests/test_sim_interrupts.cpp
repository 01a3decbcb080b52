// Interrupts and events of the simulated bus through the driver-access contract, fired with the
// SIM_RaiseInterrupt and SIM_RaiseEvent test controls.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "OstrelBoardSim.h"
#include "wdc_lib.h"

namespace {

WDC_DEVICE_HANDLE OpenBoard(int board) {
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = static_cast<uint32_t>(board) + 1;
    EXPECT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    WDC_DEVICE_HANDLE handle = nullptr;
    EXPECT_EQ(WDC_PciDeviceOpen(&handle, &info, nullptr, nullptr, nullptr, nullptr), 0u);
    return handle;
}

// What an interrupt handler saw: its data and the device's interrupt state at that moment.
struct InterruptSeen {
    void *data;
    WD_INTERRUPT_STATE state;
    int enabledFromInside;
};
std::vector<InterruptSeen> g_interrupts;

void OnInterrupt(void *data) {
    const WDC_DEVICE *device = static_cast<const WDC_DEVICE *>(data);
    // Calling back into the library from a handler must not deadlock.
    g_interrupts.push_back({data, device->Int, WDC_IntIsEnabled(data)});
}

struct EventSeen {
    void *data;
    WD_EVENT event;
};
std::vector<EventSeen> g_events;

void OnEvent(WD_EVENT *event, void *data) {
    g_events.push_back({data, *event});
    EXPECT_EQ(WDC_EventIsRegistered(data), 1);
}

TEST(SimInterrupts, EnableRaiseDisable) {
    const uint32_t ids[] = {0xA002, 0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    WDC_DEVICE_HANDLE handle = OpenBoard(1);
    EXPECT_EQ(WDC_IntIsEnabled(handle), 0);
    EXPECT_EQ(SIM_RaiseInterrupt(1, 0, 0), 0);  // nobody listens yet
    ASSERT_EQ(WDC_IntEnable(handle, nullptr, 0, 0, OnInterrupt, handle, 0), 0u);
    EXPECT_EQ(WDC_IntIsEnabled(handle), 1);
    EXPECT_EQ(WDC_IntEnable(handle, nullptr, 0, 0, OnInterrupt, handle, 0),
              static_cast<uint32_t>(WD_OPERATION_ALREADY_DONE));

    EXPECT_EQ(SIM_RaiseInterrupt(0, 0, 0), 0);  // the other board
    EXPECT_TRUE(g_interrupts.empty());
    EXPECT_EQ(SIM_RaiseInterrupt(1, 0x55, 2), 1);
    EXPECT_EQ(SIM_RaiseInterrupt(1, 0x66, 0), 1);
    ASSERT_EQ(g_interrupts.size(), 2u);
    EXPECT_EQ(g_interrupts[0].data, handle);
    EXPECT_EQ(g_interrupts[0].state.dwCounter, 1u);
    EXPECT_EQ(g_interrupts[0].state.dwLost, 2u);
    EXPECT_EQ(g_interrupts[0].state.dwLastMessage, 0x55u);
    EXPECT_EQ(g_interrupts[0].state.dwEnabledIntType, 0x1u);
    EXPECT_EQ(g_interrupts[0].state.fStopped, 0u);
    EXPECT_EQ(g_interrupts[0].enabledFromInside, 1);
    EXPECT_EQ(g_interrupts[1].state.dwCounter, 2u);
    EXPECT_EQ(g_interrupts[1].state.dwLost, 2u);
    EXPECT_EQ(g_interrupts[1].state.dwLastMessage, 0x66u);

    ASSERT_EQ(WDC_IntDisable(handle), 0u);
    EXPECT_EQ(WDC_IntIsEnabled(handle), 0);
    EXPECT_EQ(static_cast<const WDC_DEVICE *>(handle)->Int.fStopped, 1u);
    EXPECT_EQ(WDC_IntDisable(handle), static_cast<uint32_t>(WD_OPERATION_ALREADY_DONE));
    EXPECT_EQ(SIM_RaiseInterrupt(1, 0x77, 0), 0);
    EXPECT_EQ(g_interrupts.size(), 2u);
    EXPECT_EQ(SIM_RaiseInterrupt(2, 0, 0), -1);
    EXPECT_EQ(SIM_RaiseInterrupt(-1, 0, 0), -1);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimInterrupts, MessageSignalledTypeAndSeveralHandles) {
    ASSERT_EQ(SIM_SetInterruptType(0, 0x10), 0);
    EXPECT_EQ(SIM_SetInterruptType(1, 0x10), -1);
    WDC_DEVICE_HANDLE first = OpenBoard(0);
    WDC_DEVICE_HANDLE second = OpenBoard(0);
    ASSERT_EQ(WDC_IntEnable(first, nullptr, 0, 0, OnInterrupt, first, 0), 0u);
    ASSERT_EQ(WDC_IntEnable(second, nullptr, 0, 0, OnInterrupt, second, 0), 0u);
    EXPECT_EQ(SIM_RaiseInterrupt(0, 0xABCD, 0), 2);
    ASSERT_EQ(g_interrupts.size(), 2u);
    for (const InterruptSeen &seen : g_interrupts) {
        EXPECT_EQ(seen.state.dwEnabledIntType, 0x10u);
        EXPECT_EQ(seen.state.dwLastMessage, 0xABCDu);
    }
    EXPECT_NE(g_interrupts[0].data, g_interrupts[1].data);
    // Closing with interrupts on: the handle stops listening with it.
    EXPECT_EQ(WDC_PciDeviceClose(first), 0u);
    EXPECT_EQ(SIM_RaiseInterrupt(0, 0, 0), 1);
    EXPECT_EQ(WDC_PciDeviceClose(second), 0u);
    EXPECT_EQ(SIM_RaiseInterrupt(0, 0, 0), 0);
}

TEST(SimInterrupts, RefusalsAndFaults) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    EXPECT_EQ(WDC_IntEnable(handle, nullptr, 0, 0, nullptr, handle, 0),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_IntEnable(nullptr, nullptr, 0, 0, OnInterrupt, nullptr, 0),
              static_cast<uint32_t>(WD_INVALID_HANDLE));
    EXPECT_EQ(WDC_IntDisable(nullptr), static_cast<uint32_t>(WD_INVALID_HANDLE));

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_ENABLE, 0x20000013), 0);
    EXPECT_EQ(WDC_IntEnable(handle, nullptr, 0, 0, OnInterrupt, handle, 0), 0x20000013u);
    EXPECT_EQ(WDC_IntIsEnabled(handle), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_ENABLE, 0), 0);
    ASSERT_EQ(WDC_IntEnable(handle, nullptr, 0, 0, OnInterrupt, handle, 0), 0u);

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_DISABLE, 0x20000003), 0);
    EXPECT_EQ(WDC_IntDisable(handle), 0x20000003u);
    EXPECT_EQ(WDC_IntIsEnabled(handle), 1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_INT_DISABLE, 0), 0);
    EXPECT_EQ(WDC_IntDisable(handle), 0u);
    EXPECT_EQ(SIM_GetCallCount("WDC_IntEnable"), 4);
    EXPECT_EQ(SIM_GetCallCount("WDC_IntDisable"), 3);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimInterrupts, BoardWithoutInterruptResource) {
    const uint32_t ids[] = {0xA006, 0xA006};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    ASSERT_EQ(SIM_SetInterruptResource(1, 0), 0);
    EXPECT_EQ(SIM_SetInterruptResource(2, 0), -1);
    WD_PCI_CARD_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.pciSlot.dwBus = 2;
    ASSERT_EQ(WDC_PciGetDeviceInfo(&info), 0u);
    ASSERT_EQ(info.Card.dwItems, 4u);
    for (uint32_t item = 0; item < info.Card.dwItems; ++item) {
        EXPECT_NE(info.Card.Item[item].item, static_cast<uint32_t>(ITEM_INTERRUPT)) << item;
    }
    EXPECT_EQ(info.Card.Item[3].item, static_cast<uint32_t>(ITEM_BUS));
    WDC_DEVICE_HANDLE without = OpenBoard(1);
    WDC_DEVICE_HANDLE with = OpenBoard(0);
    EXPECT_EQ(WDC_IntEnable(without, nullptr, 0, 0, OnInterrupt, without, 0),
              static_cast<uint32_t>(WD_NO_DEVICE_OBJECT));
    EXPECT_EQ(WDC_IntEnable(with, nullptr, 0, 0, OnInterrupt, with, 0), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(without), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(with), 0u);
}

TEST(SimEvents, RegisterRaiseUnregister) {
    const uint32_t ids[] = {0xA001, 0xA002};
    ASSERT_EQ(SIM_SetBoards(ids, 2), 0);
    WDC_DEVICE_HANDLE handle = OpenBoard(1);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 0);
    ASSERT_EQ(WDC_EventRegister(handle, 0x3BF3, OnEvent, handle, 0), 0u);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 1);
    EXPECT_EQ(WDC_EventRegister(handle, 0x3BF3, OnEvent, handle, 0),
              static_cast<uint32_t>(WD_OPERATION_ALREADY_DONE));

    EXPECT_EQ(SIM_RaiseEvent(1, WD_REMOVE), 1);
    EXPECT_EQ(SIM_RaiseEvent(1, WD_POWER_SYSTEM_HIBERNATE), 1);
    EXPECT_EQ(SIM_RaiseEvent(1, 0x4), 0);        // not among the registered actions
    EXPECT_EQ(SIM_RaiseEvent(0, WD_INSERT), 0);  // the other board
    EXPECT_EQ(SIM_RaiseEvent(2, WD_INSERT), -1);
    ASSERT_EQ(g_events.size(), 2u);
    EXPECT_EQ(g_events[0].data, handle);
    EXPECT_EQ(g_events[0].event.dwAction, static_cast<uint32_t>(WD_REMOVE));
    EXPECT_EQ(g_events[0].event.pciSlot.dwBus, 2u);
    EXPECT_EQ(g_events[1].event.dwAction, static_cast<uint32_t>(WD_POWER_SYSTEM_HIBERNATE));

    ASSERT_EQ(WDC_EventUnregister(handle), 0u);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 0);
    EXPECT_EQ(WDC_EventUnregister(handle), static_cast<uint32_t>(WD_OPERATION_ALREADY_DONE));
    EXPECT_EQ(SIM_RaiseEvent(1, WD_INSERT), 0);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
}

TEST(SimEvents, RefusalsAndFaults) {
    WDC_DEVICE_HANDLE handle = OpenBoard(0);
    EXPECT_EQ(WDC_EventRegister(handle, 0x3BF3, nullptr, handle, 0),
              static_cast<uint32_t>(WD_INVALID_PARAMETER));
    EXPECT_EQ(WDC_EventRegister(nullptr, 0x3BF3, OnEvent, nullptr, 0),
              static_cast<uint32_t>(WD_INVALID_HANDLE));
    EXPECT_EQ(WDC_EventUnregister(nullptr), static_cast<uint32_t>(WD_INVALID_HANDLE));

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_REGISTER, 0x2000000E), 0);
    EXPECT_EQ(WDC_EventRegister(handle, 0x3BF3, OnEvent, handle, 0), 0x2000000Eu);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 0);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_REGISTER, 0), 0);
    ASSERT_EQ(WDC_EventRegister(handle, 0x3BF3, OnEvent, handle, 0), 0u);

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_UNREGISTER, 0x20000013), 0);
    EXPECT_EQ(WDC_EventUnregister(handle), 0x20000013u);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 1);
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_EVENT_UNREGISTER, 0), 0);
    EXPECT_EQ(WDC_EventUnregister(handle), 0u);
    // Closing with events registered drops them with the handle.
    ASSERT_EQ(WDC_EventRegister(handle, 0x3BF3, OnEvent, handle, 0), 0u);
    EXPECT_EQ(WDC_PciDeviceClose(handle), 0u);
    EXPECT_EQ(SIM_RaiseEvent(0, WD_INSERT), 0);
    EXPECT_EQ(WDC_EventIsRegistered(handle), 0);
}

}  // namespace
