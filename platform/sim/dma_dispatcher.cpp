#include "platform/sim/dma_dispatcher.h"

namespace ostrel::sim {

DmaDispatcher::DmaDispatcher() { UpdateStatus(); }

DmaDispatcher::Register *DmaDispatcher::RegisterAt(uint64_t wordOffset) {
    if (wordOffset >= kTranslationLowOffset && wordOffset < kTranslationEnd) {
        return &translation_[(wordOffset - kTranslationLowOffset) / 4];
    }
    if (wordOffset >= kDispatcherOffset && wordOffset < kDispatcherEnd) {
        return &dispatcher_[(wordOffset - kDispatcherOffset) / 4];
    }
    return nullptr;
}

const DmaDispatcher::Register *DmaDispatcher::RegisterAt(uint64_t wordOffset) const {
    return const_cast<DmaDispatcher *>(this)->RegisterAt(wordOffset);
}

uint32_t DmaDispatcher::Read(uint64_t offset, int width) const {
    uint32_t value = 0;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = offset + static_cast<uint64_t>(byte);
        const uint64_t wordOffset = at & ~uint64_t{3};
        const Register *reg = RegisterAt(wordOffset);
        if (reg == nullptr) continue;
        const uint32_t word = wordOffset == kDmaStatusOffset ? Status() : reg->value;
        value |= ((word >> (8 * (at & 3))) & 0xFFu) << (8 * byte);
    }
    return value;
}

DmaDispatcher::WriteResult DmaDispatcher::Write(uint64_t offset, int width, uint32_t value) {
    WriteResult result;
    for (int byte = 0; byte < width; ++byte) {
        const uint64_t at = offset + static_cast<uint64_t>(byte);
        const uint64_t wordOffset = at & ~uint64_t{3};
        Register *reg = RegisterAt(wordOffset);
        if (reg == nullptr) continue;
        const int shift = static_cast<int>(8 * (at & 3));
        const uint32_t bits = (value >> (8 * byte)) & 0xFFu;
        reg->assembling = (reg->assembling & ~(0xFFu << shift)) | (bits << shift);
        if ((at & 3) == 3) Act(wordOffset, *reg, result);
    }
    return result;
}

void DmaDispatcher::Act(uint64_t wordOffset, Register &reg, WriteResult &result) {
    const uint32_t written = reg.assembling;
    switch (wordOffset) {
    case kTranslationLowOffset:
        reg.value = written & kTranslationMask;
        reg.assembling = reg.value;
        return;
    case kDmaStatusOffset:
        // Only the flag is writable (write one to clear); the other bits are the board's.
        if ((written & kStatusInterrupt) != 0) {
            interrupt_ = false;
            UpdateStatus();
        }
        reg.assembling = 0;
        return;
    case kDmaControlOffset:
        if ((written & kControlReset) != 0) {
            Reset();
            result.reset = true;
        }
        reg.value = written & ~kControlReset;
        reg.assembling = reg.value;
        return;
    case kDescControlOffset:
        reg.value = written & ~kDescGo;
        reg.assembling = 0;
        if ((written & kDescGo) != 0) Go(written, result);
        return;
    default:
        reg.value = written;
        reg.assembling = written;
        return;
    }
}

void DmaDispatcher::Go(uint32_t control, WriteResult &result) {
    if (buffer_.size() >= kDescriptorBufferDepth) {
        ++ignoredGoWrites_;
        result.ignored = true;
        return;
    }
    Descriptor descriptor;
    descriptor.readAddress = dispatcher_[(kDescReadAddressOffset - kDispatcherOffset) / 4].value;
    descriptor.writeAddress = dispatcher_[(kDescWriteAddressOffset - kDispatcherOffset) / 4].value;
    descriptor.length = dispatcher_[(kDescLengthOffset - kDispatcherOffset) / 4].value;
    descriptor.control = control;
    const uint64_t windowBase =
        (static_cast<uint64_t>(translation_[1].value) << 32) | translation_[0].value;
    descriptor.hostAddress = windowBase | (descriptor.writeAddress & ~kTranslationMask);
    result.queued = true;
    if (!hasActive_) {
        active_ = descriptor;
        hasActive_ = true;
        ++activeSerial_;
        result.startedFromIdle = true;
    } else {
        buffer_.push_back(descriptor);
    }
    UpdateStatus();
}

bool DmaDispatcher::CompleteActive() {
    if (!hasActive_) return false;
    if ((active_.control & kDescInterruptOnDone) != 0) interrupt_ = true;
    hasActive_ = false;
    if (!buffer_.empty()) {
        active_ = buffer_.front();
        buffer_.pop_front();
        hasActive_ = true;
        ++activeSerial_;
    }
    UpdateStatus();
    return hasActive_;
}

void DmaDispatcher::DropQueue() {
    buffer_.clear();
    if (hasActive_) ++activeSerial_;
    hasActive_ = false;
    UpdateStatus();
}

void DmaDispatcher::Reset() {
    DropQueue();
    interrupt_ = false;
    UpdateStatus();
}

void DmaDispatcher::UpdateStatus() {
    uint32_t status = 0;
    if (hasActive_) status |= kStatusBusy;
    if (buffer_.empty()) status |= kStatusEmpty;
    if (buffer_.size() >= kDescriptorBufferDepth) status |= kStatusFull;
    if (interrupt_) status |= kStatusInterrupt;
    status_.store(status, std::memory_order_release);
}

}  // namespace ostrel::sim
