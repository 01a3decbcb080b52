// DMA diagnostics: a bandwidth test that fills the 16 chunks with one burst of descriptors, a copy
// of the pool (the 16 chunks) as it is, and an analysis of the record tags in the pool. They work
// without the acquisition thread and never touch its host buffers, counts or sizes.
#pragma once

#include <cstdint>

namespace ostrel {

// A wait of the bandwidth test never gives up earlier than this, however fast the board.
constexpr double kBandwidthWaitFloorSeconds = 3.0;
// Pool fill times the test allows before it calls the board stalled.
constexpr double kPoolFillTimesPerWait = 10.0;

// Where the tags of a pool lie, for the geometry an analysis is asked about.
struct PoolLayout {
    uint64_t ChunkPoints = 0;    // points per chunk (of the last set-up or test)
    uint64_t SlotsPerChunk = 0;  // record slots per chunk (of the board's configuration)
    uint64_t RecordPoints = 0;   // samples of one record: record length x lanes
    uint64_t TrailerPoints = 0;  // trailer points after each record; the tag is its first 4 bytes
    uint64_t RingSlotCount = 0;  // tags run from 0 to this - 1: four frames of records
};

// True when the layout has at least one slot and one ring position, every slot with its 4-byte
// tag lies within its chunk, the 16 chunks lie within bufferBytes, and the counts fit 32 bits.
bool PoolLayoutFits(const PoolLayout &layout, uint64_t bufferBytes);

struct PoolChain {
    bool Found = false;       // some slot holds the successor of its predecessor's tag
    uint32_t FirstTag = 0;    // the tag of the first such slot
    int32_t RecordCount = 0;  // distinct positions, modulo the slot count, of the chained tags
};

// Reads every slot's tag once per comparison (as the board may be writing them) and counts the
// slots whose tag follows the tag of the slot written before them, by their distance from the first
// chained tag. The layout must fit the buffer. False when the working arrays cannot be allocated.
bool FindPoolChain(const uint8_t *buffer, const PoolLayout &layout, PoolChain *chain);

// Measures the DMA rate in megabytes (10^6 bytes) per second and copies the pool to destination.
// -1 with nothing open, a null pointer, the acquisition thread running, or the board not
// finishing in time (StatusText then says so).
int32_t RunBandwidthTest(uint8_t *destination, float *megabytesPerSecond);

// Copies 16 x ChunkBytes of the last set-up or test (nothing before either). -1 for a null
// destination or, once something was set up, no DMA buffer locked.
int32_t CopyDmaPool(uint8_t *destination);

// FindPoolChain for the given record length and records per frame with the current chunk size and
// records per chunk. -1 for null result pointers, no DMA buffer, or a geometry that does not fit.
int32_t ProcessDmaPool(uint8_t *buffer, int32_t *firstTag, int32_t *recordCount,
                       int32_t recordLength, int32_t recordsPerFrame);

}  // namespace ostrel
