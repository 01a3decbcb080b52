#include "engine/engine_state.h"

namespace ostrel {

EngineState g_engine;

AcquisitionState::~AcquisitionState() {
    if (!ThreadStopped.load(std::memory_order_acquire) && StopThreadAtExit != nullptr) {
        StopThreadAtExit();
    }
}

}  // namespace ostrel
