// The acquisition thread: keeps the DMA dispatcher supplied with descriptors for the 16 chunks
// and runs the record scanner pass after pass until asked to stop.
#pragma once

#include <cstdint>

#include "engine/stream_queue.h"
#include "platform/os/os_services.h"

namespace ostrel {

// The thread's name, as top -H, a debugger or a profiler shows it.
inline constexpr char kAcquisitionThreadName[] = "ostrel-acq";

// How long the thread waits, after a stop request, for the descriptors it queued to finish. The
// slowest board (model 5 at 0.5 MS/s) fills a chunk in about 82 ms, so even all 16 chunks queued
// drain well within this; a board that has not finished by then is stalled, and the thread ends
// all the same so that the stop returns.
constexpr int64_t kDrainTimeoutMilliseconds = 2000;

// Starts the thread if none runs. 0 when it runs (or already ran); -1 when no acquisition is set
// up (no host buffers) or the thread could not be created; ThreadStopped then stays set.
// With a stream, frames go to its queue instead of the four-frame ring.
int32_t StartAcquisitionThread(StreamQueue *stream = nullptr);

// How long a stop waits for the thread: its drain wait and a pass, with room for a loaded machine.
constexpr int64_t kStopTimeoutMilliseconds = 4 * kDrainTimeoutMilliseconds;

// Asks the thread to finish and waits until it has. The thread ends within a pass and its drain
// wait, so the stop returns 0 within kStopTimeoutMilliseconds; -1 when the thread still runs then
// (it was descheduled for longer than that): whatever it works on must then stay where it is.
int32_t StopAcquisitionThread();

// Gives up the host buffers without freeing them, for a thread that could not be stopped: it may
// still write into them, so they are left to the end of the process.
void AbandonHostBuffers();

}  // namespace ostrel
