// Acquisition soak: configure / start / read / stop cycles over all six models and a ladder of
// geometries, with a second application thread that polls the status exports while the
// acquisition thread runs. Meant for ThreadSanitizer (the tsan preset): the poller's reads meet
// the acquisition thread's writes on every cycle.
//
// The public header allows one application thread at a time, not one thread for ever: the two
// application threads take turns, handing the engine over through an atomic turn flag
// (release/acquire), and only the engine's own thread runs beside the one whose turn it is.
//
//   soak_acquisition --cycles 10000     a fixed number of cycles (the long run)
//   soak_acquisition --seconds 5        as many cycles as fit (the short run of the test suite)
//
// Exit status 0 when every cycle delivered its frame and every resource was given back.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OstrelBoardSim.h"
#include "OstrelDAQEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Model {
    int32_t model;
    uint32_t deviceId;
    uint32_t maxLength;
};
constexpr Model kModels[] = {{5, 0xA001, 16384}, {6, 0xA002, 16384}, {7, 0xA004, 16384},
                             {8, 0xA005, 8192},  {9, 0xA006, 16384}, {10, 0xA007, 32768}};
constexpr uint32_t kLengths[] = {100, 1000, 1024, 4096, 8192, 0};  // 0: the model's maximum
constexpr uint32_t kNumbers[] = {1, 4, 16, 64};
constexpr auto kFrameBound = std::chrono::seconds(20);
// Frames each cycle must complete: more than one lap of the board through its DMA chunks, so
// that an acquisition that stops after its first lap is caught.
constexpr int32_t kFramesPerCycle = 3;

enum Turn : int { kMain, kPoller, kDone };

// Written by whichever thread hands the turn over; read by both.
std::atomic<int> g_turn{kMain};
// Set by the poller for the main thread: whether a frame was announced within the bound.
std::atomic<bool> g_frameSeen{false};
std::atomic<uint64_t> g_polls{0};

void WaitForTurn(int turn) {
    while (g_turn.load(std::memory_order_acquire) != turn) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

// The second application thread: on its turn, polls the status exports until kFramesPerCycle
// frames are complete and one is announced (or the bound passes), then hands the engine back.
void Poller() {
    for (;;) {
        int turn;
        while ((turn = g_turn.load(std::memory_order_acquire)) == kMain) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (turn == kDone) return;
        const auto deadline = Clock::now() + kFrameBound;
        bool seen = false;
        int32_t records = 0, frame = 0, debug[9] = {};
        float rate = 0.0f;
        while (Clock::now() < deadline) {
            DAQ_CheckDMA(&records, &frame, &rate);
            DAQ_GetDebugValue(debug);
            g_polls.fetch_add(1, std::memory_order_relaxed);
            if (DAQ_NewDataFrameAvailable() == 1 && frame >= kFramesPerCycle - 1) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        g_frameSeen.store(seen, std::memory_order_relaxed);
        g_turn.store(kMain, std::memory_order_release);
    }
}

bool ResourcesFree() {
    return SIM_GetResourceCount(SIM_RESOURCE_DRIVER_OPEN) == 0 &&
           SIM_GetResourceCount(SIM_RESOURCE_DEVICE_HANDLES) == 0 &&
           SIM_GetResourceCount(SIM_RESOURCE_DMA_BUFFERS) == 0 &&
           SIM_GetResourceCount(SIM_RESOURCE_CONTROL_DEVICE) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    uint64_t cycles = 0;
    double seconds = 0.0;
    for (int argument = 1; argument + 1 < argc; argument += 2) {
        const char *value = argv[argument + 1];
        if (std::strcmp(argv[argument], "--cycles") == 0) {
            cycles = std::strtoull(value, nullptr, 10);
        }
        if (std::strcmp(argv[argument], "--seconds") == 0) seconds = std::strtod(value, nullptr);
    }
    if (cycles == 0 && seconds <= 0.0) {
        std::fprintf(stderr, "usage: %s --cycles N | --seconds S\n", argv[0]);
        return 2;
    }

    SIM_Reset();
    SIM_SetDmaPacing(SIM_DMA_MAXRATE);
    std::thread poller(Poller);
    const auto start = Clock::now();
    uint64_t done = 0, refused = 0, failures = 0;
    int32_t openModel = -1;
    std::vector<int16_t> lanes[4];

    for (uint64_t cycle = 0;; ++cycle) {
        if (cycles != 0 && cycle >= cycles) break;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (cycles == 0 && elapsed >= seconds) break;
        // A model runs a few cycles in a row, then the next one is opened.
        const Model &model = kModels[(cycle / 8) % std::size(kModels)];
        if (model.model != openModel) {
            DAQ_CloseDevice();
            if (!ResourcesFree()) {
                std::fprintf(stderr, "cycle %llu: resources held after close\n",
                             static_cast<unsigned long long>(cycle));
                ++failures;
            }
            SIM_SetBoards(&model.deviceId, 1);
            if (DAQ_OpenDevice(0) != 0) {
                std::fprintf(stderr, "cycle %llu: model %d does not open\n",
                             static_cast<unsigned long long>(cycle), model.model);
                ++failures;
                break;
            }
            openModel = model.model;
        }
        const uint32_t length = kLengths[cycle % std::size(kLengths)] != 0
                                    ? kLengths[cycle % std::size(kLengths)]
                                    : model.maxLength;
        const uint32_t number = kNumbers[(cycle / std::size(kLengths)) % std::size(kNumbers)];
        if (DAQ_ConfigAcquisition_and_Start(length, number) != 0) {
            ++refused;
            continue;
        }

        g_turn.store(kPoller, std::memory_order_release);
        WaitForTurn(kMain);
        if (!g_frameSeen.load(std::memory_order_relaxed)) {
            std::fprintf(stderr,
                         "cycle %llu: model %d, %u x %u: %d frames not announced within %lld s\n",
                         static_cast<unsigned long long>(cycle), model.model, length, number,
                         kFramesPerCycle, static_cast<long long>(kFrameBound.count()));
            ++failures;
        }
        for (auto &lane : lanes) lane.resize(static_cast<std::size_t>(length) * number);
        if (DAQ_GetLatestFrame(lanes[0].data(), lanes[1].data(), lanes[2].data(),
                               lanes[3].data()) != 0) {
            ++failures;
        }
        DAQ_StopAcquisition();
        ++done;
        if (done % 1000 == 0) {
            std::printf("soak: %llu cycles, %.1f s\n", static_cast<unsigned long long>(done),
                        std::chrono::duration<double>(Clock::now() - start).count());
            std::fflush(stdout);
        }
        if (failures > 10) break;
    }

    g_turn.store(kDone, std::memory_order_release);
    poller.join();
    DAQ_CloseDevice();
    if (!ResourcesFree()) {
        std::fprintf(stderr, "resources held after the final close\n");
        ++failures;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("soak: %llu cycles (%llu refused geometries), %llu status polls, %.1f s, %.1f "
                "cycles/s, %llu failures\n",
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(refused),
                static_cast<unsigned long long>(g_polls.load()), elapsed,
                elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0,
                static_cast<unsigned long long>(failures));
    return failures == 0 ? 0 : 1;
}
