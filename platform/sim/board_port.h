// The seam between the simulated board's bus side (configuration, BAR storage, handles, DMA buffer
// lock) and its acquisition side (DMA dispatcher, ADC, generator loopback). The bus side
// implements BoardPort; the acquisition side (BoardDma) uses only this interface, so it can be
// tested on a plain buffer with a fake port.
#pragma once

#include <cstdint>

#include "OstrelBoardSim.h"

namespace ostrel::sim {

// The locked DMA buffer of the board's open handle; empty (base null) when none is locked.
struct DmaBufferView {
    uint8_t *base = nullptr;
    uint64_t busAddress = 0;
    uint64_t bytes = 0;
};

// What the acquisition side needs from the rest of the board. Every method is safe to call from
// the board's own DMA thread while the engine's threads access the board.
class BoardPort {
public:
    virtual ~BoardPort() = default;
    virtual uint32_t DeviceId() const = 0;
    // 5..10 from the device ID (0xE001 counts as 7), -1 for an unknown ID.
    virtual int ModelType() const = 0;
    // The BAR 0 control-register word at 0x8000000 + 2 x index.
    virtual uint32_t ControlRegister(int32_t registerIndex) const = 0;
    // A 16-bit BAR 0 word (the generator's waveform memories).
    virtual uint16_t Bar0Word16(uint64_t offset) const = 0;
    // The board's own decoding of the front end of one input (see SIM_GetFrontEnd).
    virtual bool FrontEnd(int input, SimFrontEnd *out) const = 0;
    virtual DmaBufferView LockedBuffer() const = 0;
};

// The acquisition side of one board: translation window, DMA dispatcher, ADC, loopback.
class BoardDma {
public:
    explicit BoardDma(BoardPort &port);
    ~BoardDma();  // stops the board's own thread
    BoardDma(const BoardDma &) = delete;
    BoardDma &operator=(const BoardDma &) = delete;

    // True for the BAR 2 offsets this side owns: 0x1000..0x1007 and 0x6000000..0x60000FF.
    static bool HandlesBar2(uint64_t offset);
    // BAR 2 accesses of any width (1, 2, 4) at owned offsets.
    uint32_t ReadBar2(uint64_t offset, int width);
    void WriteBar2(uint64_t offset, int width, uint32_t value);
    // Called before the locked buffer goes away: from then on nothing is written into it.
    // LockedBuffer() must no longer return that buffer once this has been called.
    void BufferUnlocking();
    // Called after every BAR 0 write (by the engine or SIM_PokeRegister), once the new value is
    // stored: the loopback follows waveform-memory changes and restarts a generator channel's
    // phase when its output-mask bit is released.
    void Bar0Written(uint64_t offset, int width);

    class Impl;

private:
    Impl *impl_;
};

// Process-wide acquisition-side settings (pacing, signals, zero errors, loopback) back to their
// power-on values; called by SIM_Reset while no board thread runs.
void ResetAcquisitionSide();

// Provided by the bus side for the acquisition side's SIM_* functions.
BoardDma *DmaOfBoard(int board);       // null for an unknown board
BoardPort *PortOfBoard(int board);     // null for an unknown board
int BoardCount();
DmaBufferView OpenDeviceBuffer();      // the locked buffer of the open device, if any

}  // namespace ostrel::sim
