#include "engine/engine_state.h"

namespace ostrel {

EngineState g_engine;

}  // namespace ostrel
