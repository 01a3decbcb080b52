// Placeholder for the acquisition side until it lands: BAR 2 registers of the dispatcher and the
// translation window are kept as plain memory, nothing is ever transferred, and the acquisition
// SIM_* controls refuse with -1. This file goes away with the real acquisition side.
#include <atomic>

#include "OstrelBoardSim.h"
#include "platform/sim/board_port.h"

namespace ostrel::sim {
namespace {

constexpr uint64_t kTranslationFirst = 0x1000;
constexpr uint64_t kTranslationBytes = 0x8;
constexpr uint64_t kDispatcherFirst = 0x6000000;
constexpr uint64_t kDispatcherBytes = 0x100;
constexpr uint64_t kWindowBytes = kTranslationBytes + kDispatcherBytes;

}  // namespace

class BoardDma::Impl {
public:
    // Byte index into the owned window, or kWindowBytes when not owned.
    static uint64_t Slot(uint64_t offset) {
        if (offset >= kTranslationFirst && offset - kTranslationFirst < kTranslationBytes) {
            return offset - kTranslationFirst;
        }
        if (offset >= kDispatcherFirst && offset - kDispatcherFirst < kDispatcherBytes) {
            return kTranslationBytes + (offset - kDispatcherFirst);
        }
        return kWindowBytes;
    }
    std::atomic<uint8_t> bytes[kWindowBytes] = {};
};

BoardDma::BoardDma(BoardPort &) : impl_(new Impl) {}

BoardDma::~BoardDma() { delete impl_; }

bool BoardDma::HandlesBar2(uint64_t offset) { return Impl::Slot(offset) < kWindowBytes; }

uint32_t BoardDma::ReadBar2(uint64_t offset, int width) {
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t slot = Impl::Slot(offset + static_cast<uint64_t>(byte));
        if (slot < kWindowBytes) value |= static_cast<uint32_t>(impl_->bytes[slot].load()) << (8 * byte);
    }
    return value;
}

void BoardDma::WriteBar2(uint64_t offset, int width, uint32_t value) {
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t slot = Impl::Slot(offset + static_cast<uint64_t>(byte));
        if (slot < kWindowBytes) impl_->bytes[slot].store(static_cast<uint8_t>(value >> (8 * byte)));
    }
}

void BoardDma::BufferUnlocking() {}

void ResetAcquisitionSide() {}

}  // namespace ostrel::sim

extern "C" {

int SIM_SetDmaPacing(int) { return -1; }
int SIM_SetInputSignal(int, int, double, double, double, double) { return -1; }
int SIM_SetZeroError(int, int, int, int, int, int, int) { return -1; }
int SIM_SkipRecords(int, int) { return -1; }
uint64_t SIM_GetDroppedDmaWrites(int) { return 0; }
int SIM_WriteDmaBuffer(uint64_t, const void *, uint64_t) { return -1; }
int SIM_SetLoopback(int, int) { return -1; }

}  // extern "C"
