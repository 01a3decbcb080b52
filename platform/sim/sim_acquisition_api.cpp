// The SIM_* controls of the boards' acquisition side, the process-wide pacing, and the list of
// live boards that SIM_Reset and a pacing change reach.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "OstrelBoardSim.h"
#include "platform/sim/board_dma_impl.h"
#include "platform/sim/sim_faults.h"

namespace ostrel::sim {

namespace {

std::atomic<int> g_pacing{SIM_DMA_REALTIME};

// Never destroyed, like the bus that owns the boards: a board may go away during exit.
std::mutex &RegistryMutex() {
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

std::vector<BoardDma::Impl *> &Registry() {
    static std::vector<BoardDma::Impl *> *boards = new std::vector<BoardDma::Impl *>;
    return *boards;
}

BoardDma::Impl *ImplOfBoard(int board) {
    BoardDma *dma = DmaOfBoard(board);
    return dma == nullptr ? nullptr : &BoardDma::Impl::Of(*dma);
}

}  // namespace

int DmaPacing() { return g_pacing.load(std::memory_order_relaxed); }

bool DmaStallRequested() { return FaultStatus(SIM_FAULT_DMA_STALL) != 0; }

void RegisterBoardDma(BoardDma::Impl *board) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().push_back(board);
}

void UnregisterBoardDma(BoardDma::Impl *board) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto &boards = Registry();
    boards.erase(std::remove(boards.begin(), boards.end(), board), boards.end());
}

void ResetAcquisitionSide() {
    g_pacing.store(SIM_DMA_REALTIME, std::memory_order_relaxed);
    std::random_device device;
    SetNoiseSeed((static_cast<uint64_t>(device()) << 32) ^ device());
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (BoardDma::Impl *board : Registry()) board->ResetSettings();
}

}  // namespace ostrel::sim

using ostrel::sim::BoardDma;

extern "C" {

void SIM_SetNoiseSeed(uint64_t seed) { ostrel::sim::SetNoiseSeed(seed); }

int SIM_SetDmaPacing(int mode) {
    if (mode != SIM_DMA_IMMEDIATE && mode != SIM_DMA_REALTIME && mode != SIM_DMA_MAXRATE) {
        return -1;
    }
    ostrel::sim::g_pacing.store(mode, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(ostrel::sim::RegistryMutex());
    for (BoardDma::Impl *board : ostrel::sim::Registry()) board->PacingChanged();
    return 0;
}

int SIM_SetInputSignal(int board, int input, double dcCodes, double amplitudeCodes,
                       double frequencyHz, double noiseCodes) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    if (target == nullptr) return -1;
    return target->SetInputSignal(
        input, ostrel::sim::InputSignal{dcCodes, amplitudeCodes, frequencyHz, noiseCodes});
}

// Power-on zero errors (restored by SIM_Reset), odd and so never 0, within -137..265 codes:
//     codes = 1 + 2 x (35 x input - 20 x coupling + 13 x termination + 27 x gain
//                      - 9 x attenuation - 40)
// for input 0..3, coupling 0..1, termination 0..1, gain 0..2, attenuation 0..1 (the indices the
// board decodes, see SIM_GetFrontEnd); a setting it cannot decode (-1) has zero error 0.
// Accepted here: those index ranges (inputs limited to the lanes on 2- and 4-lane boards) and
// codes within -16383..16383.
int SIM_SetZeroError(int board, int input, int coupling, int termination, int gain,
                     int attenuation, int codes) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    if (target == nullptr) return -1;
    return target->SetZeroError(input, coupling, termination, gain, attenuation, codes);
}

int SIM_SkipRecords(int board, int count) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    if (target == nullptr) return -1;
    return target->SkipRecords(count);
}

uint64_t SIM_GetDroppedDmaWrites(int board) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    return target == nullptr ? 0 : target->DroppedDmaWrites();
}

uint64_t SIM_GetLostRecords(int board) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    return target == nullptr ? 0 : target->LostRecords();
}

uint64_t SIM_GetClockSlip(int board) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    return target == nullptr ? 0 : target->ClockSlipNs();
}

int SIM_WriteDmaBuffer(uint64_t offset, const void *data, uint64_t bytes) {
    const ostrel::sim::DmaBufferView view = ostrel::sim::OpenDeviceBuffer();
    if (view.base == nullptr || offset > view.bytes || bytes > view.bytes - offset) return -1;
    if (bytes == 0) return 0;
    if (data == nullptr) return -1;
    std::memcpy(view.base + offset, data, static_cast<std::size_t>(bytes));
    return 0;
}

int SIM_SetLoopback(int board, int enabled) {
    BoardDma::Impl *target = ostrel::sim::ImplOfBoard(board);
    if (target == nullptr) return -1;
    return target->SetLoopback(enabled != 0);
}

}  // extern "C"
