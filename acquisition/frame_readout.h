// Readout of the latest frame: the ring frame before the one receiving records, split by lane,
// each sample minus the zero offset in force for its lane.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel {

// Lane split kernels, one per lane count so that each vectorises. Points alternate lane by lane
// in the source; pointsPerLane samples go to each lane. Differences wrap to 16 bits (no clamping).
// Source and lanes must not overlap.
void SplitOneLane(const int16_t *source, size_t pointsPerLane, int16_t offset0, int16_t *lane0);
void SplitTwoLanes(const int16_t *source, size_t pointsPerLane, int16_t offset0, int16_t offset1,
                   int16_t *lane0, int16_t *lane1);
void SplitFourLanes(const int16_t *source, size_t pointsPerLane, const int16_t offsets[4],
                    int16_t *lane0, int16_t *lane1, int16_t *lane2, int16_t *lane3);

// Splits pointsPerLane points per lane of a frame in the board's order into the lanes, each sample
// minus its lane's zero offset in force.
void SplitFrame(const int16_t *source, size_t pointsPerLane, uint32_t lanes, int16_t *lane0,
                int16_t *lane1, int16_t *lane2, int16_t *lane3);
// Whether every lane the open board has was given.
bool LanesPresent(const int16_t *lane0, const int16_t *lane1, const int16_t *lane2,
                  const int16_t *lane3);

// DAQ_GetLatestFrame: -1 (and nothing changed) when a lane the model has is null; otherwise clears
// NewFrameAvailable, copies record length x record number samples to each lane (nothing when no
// acquisition is set up) and returns 0.
// When whole is given it tells whether the frame copied held every one of its records (a frame is
// announced once more than half have arrived; a missing record leaves older samples in its place).
// It is false when nothing was copied.
int32_t ReadLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2, int16_t *lane3,
                        bool *whole = nullptr);

// Whether the thread has announced a frame since the last readout (or start).
bool NewFrameAnnounced();

}  // namespace ostrel
