// The board's control registers per model, and the BAR 2 registers of the address-translation
// window and the DMA dispatcher. Register roles are looked up in one table; kNoRegister marks a
// role a model does not have (exports then skip the access).
#pragma once

#include <cstdint>
#include <optional>

namespace ostrel {

// Roles of the control registers in the BAR 0 window. Each is a signed RegisterIndex whose byte
// offset is RegisterBase + 2 x index.
enum class Reg : int {
    RecordLength,      // RW  record length, coded per model
    RecordsInMemory,   // W   record slots per DMA chunk
    RecordNumber,      // RW  four times the records per frame
    ClockDivider,      // RW  sampling-rate divider code
    Trigger,           // RW  trigger setting
    InputChannel,      // RW  input selection of single-lane boards (models 5, 10)
    Gain,              // RW  gain: whole register or one bit per lane
    Attenuation,       // RW  attenuation (models 5, 10)
    Coupling,          // RW  coupling: whole register or one bit per lane
    Termination,       // RW  termination: whole register or one bit per lane
    LedCode,           // W   indicator code
    RecordCounter,     // W   record counter (model 9)
    AwgOutputMask,     // RW  bit c holds generator channel c off; the same index on every model
    Count
};

constexpr int32_t kNoRegister = INT32_MIN;
constexpr int32_t kAwgOutputMaskIndex = -2022;
constexpr int kFirstModel = 5;
constexpr int kLastModel = 10;
// Rows of every per-model table indexed by model - kFirstModel.
constexpr int kModelCount = kLastModel - kFirstModel + 1;

// Index of a register role on a model, or kNoRegister. Models outside 5..10 have none, except the
// output mask, which the generator uses on every model.
int32_t RegisterIndexOf(Reg role, int32_t modelType);

// BAR 2 byte offsets.
constexpr uint32_t kTranslationLow = 0x1000;      // W 0xFFFFFFFC then read the mask; W the base
constexpr uint32_t kTranslationHigh = 0x1004;     // W 0
constexpr uint32_t kDmaStatus = 0x6000000;        // R status bits; W 0 and 0x200 (clear IRQ)
constexpr uint32_t kDmaControl = 0x6000004;       // W 0x2 reset, 0x10 global interrupt enable
constexpr uint32_t kDmaDescReadAddress = 0x6000020;   // W descriptor source (board side)
constexpr uint32_t kDmaDescWriteAddress = 0x6000024;  // W descriptor destination (host side)
constexpr uint32_t kDmaDescLength = 0x6000028;        // W descriptor length in bytes
constexpr uint32_t kDmaDescControl = 0x600002C;       // W descriptor control; bit 31 queues it

// Dispatcher values.
constexpr uint32_t kDmaStatusDescriptorsFull = 0x4;
constexpr uint32_t kDmaStatusDescriptorsEmpty = 0x2;
constexpr uint32_t kDmaStatusBusy = 0x1;
constexpr uint32_t kDmaStatusInterrupt = 0x200;
constexpr uint32_t kDmaStatusFinished = 0x202;  // interrupt flag and buffer empty, not busy
constexpr uint32_t kDmaControlReset = 0x2;
constexpr uint32_t kDmaControlGlobalInterrupt = 0x10;
constexpr uint32_t kDmaDescGo = 0x80000000;
constexpr uint32_t kDmaDescInterruptOnDone = 0x4000;
constexpr uint32_t kDmaDescEarlyDone = 0x1000000;

}  // namespace ostrel
