// The one process-wide record of all engine state. One board is open at a time, so there is one
// set of every field; exports read and write the fields directly. Each subsystem defines its own
// group in its own header; this file puts the groups together.
#pragma once

#include <cstdint>

#include "engine/acquisition_state.h"
#include "engine/calibration_state.h"
#include "engine/board_model_state.h"
#include "engine/discovery_state.h"
#include "engine/frontend_state.h"
#include "engine/generator_state.h"

namespace ostrel {

struct EngineState {
    DiscoveryState discovery;      // bus scan, open device, status texts (engine/, driver/)
    BoardModelState model;         // per-model parameters of the opened board (engine/)
    RecordGeometryState geometry;  // RecordNumInMem, RecordSlotPoints, RecordCounters (frontend/)
    CalibrationState calibration;  // offset table, offsets in force, card data (calibration/)
    AcquisitionState acquisition;  // DMA buffer, host buffers, thread flags and counters
    GeneratorState generator;      // generator channel state (generator/)
};

// Present from load; zero except the initial values each group gives its fields.
extern EngineState g_engine;

}  // namespace ostrel
