// The one seam through which tests make the library fail where the simulated board cannot: a
// card-data file write, a calibration allocation, the creation of the acquisition thread, a reader
// held up in the middle of a copy.
// Test-only: library code reads the hooks and never sets them, and nothing here is exported from
// the shared library (tests link the static engine). Every hook's default is the library's normal
// behaviour; ResetTestSeams puts all of them back.
#pragma once

#include <cstdint>

#include "platform/os/os_services.h"

namespace ostrel {

struct TestSeams {
    // Bytes of the card-data temporary file after which every save fails the way a full disk
    // would (the bytes before it reach the file). Negative: never.
    int32_t cardDataWritesFailAfter = -1;
    // While set, every calibration lane-buffer allocation fails as if memory were exhausted.
    bool laneBufferAllocationsFail = false;
    // Creates the acquisition thread in place of os::StartThread; null: os::StartThread.
    bool (*startThread)(os::ThreadBody body, void *argument) = nullptr;
    // Called by a readout while it holds a ring frame, before it copies it (ring frame index): a
    // reader that the OS set aside mid-copy. Null: nothing.
    void (*whileFrameHeld)(int32_t frame) = nullptr;
};

// The hooks in force. Application thread only.
TestSeams &Seams();

// Every hook back to the library's normal behaviour.
void ResetTestSeams();

}  // namespace ostrel
