// The OS services behind platform/os: the sleep waits at least as long as asked, the counter is
// monotonic and counts in its stated frequency, a started thread runs its body with its argument,
// and the driver control device opens, takes a request and closes (on the simulated bus the
// driver-access library provides it).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "platform/os/os_services.h"
#include "platform/wdc/wdc_lib.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits, bounded, until the predicate holds; the OS sleep is the pause between polls.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!predicate()) {
        if (Clock::now() > deadline) return false;
        ostrel::os::SleepMilliseconds(1);
    }
    return true;
}

TEST(OsSleep, WaitsAtLeastTheRequestedTime) {
    // Only the lower bound is a property of the service; how much longer it takes depends on the
    // scheduler, so nothing is asserted about that.
    for (uint32_t milliseconds : {0u, 1u, 10u, 25u}) {
        SCOPED_TRACE(::testing::Message() << "SleepMilliseconds(" << milliseconds << ")");
        const auto start = Clock::now();
        ostrel::os::SleepMilliseconds(milliseconds);
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(milliseconds));
    }
}

TEST(OsSleep, MicrosecondsWaitAtLeastTheRequestedTime) {
    for (uint32_t microseconds : {0u, 20u, 150u, 1000u, 2500u}) {
        SCOPED_TRACE(::testing::Message() << "SleepMicroseconds(" << microseconds << ")");
        const auto start = Clock::now();
        ostrel::os::SleepMicroseconds(microseconds);
        EXPECT_GE(Clock::now() - start, std::chrono::microseconds(microseconds));
    }
}

TEST(OsCounter, FrequencyIsPositiveAndFixed) {
    const int64_t frequency = ostrel::os::PerformanceFrequency();
    EXPECT_GT(frequency, 0);
    for (int read = 0; read < 100; ++read) ASSERT_EQ(ostrel::os::PerformanceFrequency(), frequency);
}

TEST(OsCounter, NeverGoesBackwards) {
    int64_t previous = ostrel::os::PerformanceCounter();
    for (int read = 0; read < 100000; ++read) {
        const int64_t now = ostrel::os::PerformanceCounter();
        ASSERT_GE(now, previous) << "read " << read;
        previous = now;
    }
}

TEST(OsCounter, CountsInItsFrequencyAcrossASleep) {
    // The counter difference over a sleep, divided by the frequency, is the time slept in
    // seconds: at least the sleep measured by the standard clock around it (less one counter tick
    // of rounding), and not absurdly more. A counter read in the wrong unit (ticks against
    // nanoseconds, say) is off by orders of magnitude in one direction or the other.
    const int64_t frequency = ostrel::os::PerformanceFrequency();
    const auto outerStart = Clock::now();
    const int64_t start = ostrel::os::PerformanceCounter();
    ostrel::os::SleepMilliseconds(30);
    const int64_t end = ostrel::os::PerformanceCounter();
    const auto outerElapsed = Clock::now() - outerStart;

    const double counterSeconds = static_cast<double>(end - start) / static_cast<double>(frequency);
    const double outerSeconds = std::chrono::duration<double>(outerElapsed).count();
    EXPECT_GE(counterSeconds + 1.0 / static_cast<double>(frequency), 0.030);
    EXPECT_LE(counterSeconds, outerSeconds + 0.001);
    EXPECT_LT(counterSeconds, 10.0);
}

// Shared with the started threads; static so that it outlives every test body.
struct ThreadRecord {
    std::atomic<int> runs{0};
    std::atomic<uintptr_t> lastArgument{0};
    std::atomic<bool> ranOnOtherThread{false};
    std::thread::id starter;
};
ThreadRecord g_threadRecord;

void RecordingBody(void *argument) {
    g_threadRecord.lastArgument.store(reinterpret_cast<uintptr_t>(argument));
    g_threadRecord.ranOnOtherThread.store(std::this_thread::get_id() != g_threadRecord.starter);
    g_threadRecord.runs.fetch_add(1);
}

TEST(OsThread, StartedThreadRunsTheBodyWithItsArgument) {
    g_threadRecord.starter = std::this_thread::get_id();
    int marker = 0;
    ASSERT_TRUE(ostrel::os::StartThread(RecordingBody, &marker));
    ASSERT_TRUE(WaitFor([] { return g_threadRecord.runs.load() == 1; },
                        std::chrono::seconds(10)));
    EXPECT_EQ(g_threadRecord.lastArgument.load(), reinterpret_cast<uintptr_t>(&marker));
    EXPECT_TRUE(g_threadRecord.ranOnOtherThread.load());
}

std::atomic<int> g_countedRuns{0};
std::atomic<int> g_argumentSum{0};

void CountingBody(void *argument) {
    g_argumentSum.fetch_add(*static_cast<const int *>(argument));
    g_countedRuns.fetch_add(1);
}

TEST(OsThread, EveryStartedThreadRunsOnce) {
    // One after another, as the engine starts the acquisition thread after each stop, and each
    // body sees its own argument.
    static const std::vector<int> arguments{1, 2, 4, 8, 16, 32, 64, 128};
    for (const int &argument : arguments) {
        ASSERT_TRUE(ostrel::os::StartThread(CountingBody, const_cast<int *>(&argument)));
    }
    ASSERT_TRUE(WaitFor([] { return g_countedRuns.load() == 8; }, std::chrono::seconds(10)));
    EXPECT_EQ(g_argumentSum.load(), 255);
    // No body runs twice.
    ostrel::os::SleepMilliseconds(20);
    EXPECT_EQ(g_countedRuns.load(), 8);
}

// Control code and input block of the request the engine sends when it tears the DMA set-up down.
constexpr uint32_t kTeardownControlCode = 0x9538379F;
constexpr uint32_t kTeardownInputBytes = 1272;
constexpr uint32_t kOutputPreset = 0x20000000;

#if !defined(OSTREL_KERNEL_DRIVER)

TEST(OsControlDevice, OpenRequestCloseThroughTheDriverLibrary) {
    const ostrel::os::ControlHandle handle = ostrel::os::OpenControlDevice();
    ASSERT_NE(handle, ostrel::os::kInvalidControlHandle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 1);

    const std::vector<uint8_t> input(kTeardownInputBytes, 0);
    uint32_t output = kOutputPreset;
    EXPECT_TRUE(ostrel::os::ControlDeviceRequest(handle, kTeardownControlCode, input.data(),
                                                 kTeardownInputBytes, &output));
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 1);

    ostrel::os::CloseControlDevice(handle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

TEST(OsControlDevice, EveryOpenHandleIsCountedUntilClosed) {
    const ostrel::os::ControlHandle first = ostrel::os::OpenControlDevice();
    const ostrel::os::ControlHandle second = ostrel::os::OpenControlDevice();
    ASSERT_NE(first, ostrel::os::kInvalidControlHandle);
    ASSERT_NE(second, ostrel::os::kInvalidControlHandle);
    EXPECT_NE(first, second);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 2);
    ostrel::os::CloseControlDevice(first);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 1);
    ostrel::os::CloseControlDevice(second);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

TEST(OsControlDevice, UnavailableDeviceGivesTheInvalidHandle) {
    ASSERT_EQ(SIM_SetFault(SIM_FAULT_CONTROL_DEVICE, WD_DEVICE_NOT_FOUND), 0);
    EXPECT_EQ(ostrel::os::OpenControlDevice(), ostrel::os::kInvalidControlHandle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);

    ASSERT_EQ(SIM_SetFault(SIM_FAULT_CONTROL_DEVICE, 0), 0);
    const ostrel::os::ControlHandle handle = ostrel::os::OpenControlDevice();
    EXPECT_NE(handle, ostrel::os::kInvalidControlHandle);
    ostrel::os::CloseControlDevice(handle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

#endif  // !OSTREL_KERNEL_DRIVER

TEST(OsControlDevice, RefusedRequestsLeaveTheOutputWord) {
    // An invalid handle, or no output word, is refused before anything reaches a device.
    const std::vector<uint8_t> input(kTeardownInputBytes, 0);
    uint32_t output = kOutputPreset;
    EXPECT_FALSE(ostrel::os::ControlDeviceRequest(ostrel::os::kInvalidControlHandle,
                                                  kTeardownControlCode, input.data(),
                                                  kTeardownInputBytes, &output));
    EXPECT_EQ(output, kOutputPreset);

    const ostrel::os::ControlHandle handle = ostrel::os::OpenControlDevice();
    if (handle != ostrel::os::kInvalidControlHandle) {
        EXPECT_FALSE(ostrel::os::ControlDeviceRequest(handle, kTeardownControlCode, input.data(),
                                                      kTeardownInputBytes, nullptr));
        ostrel::os::CloseControlDevice(handle);
    }
    // Closing the invalid handle does nothing.
    ostrel::os::CloseControlDevice(ostrel::os::kInvalidControlHandle);
    EXPECT_EQ(SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE), 0);
}

}  // namespace
