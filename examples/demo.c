/*
 * OstrelDAQEngine demo on the simulated board bus. Uses the public header, and the simulator's for
 * its scenarios: linking OstrelBoardSim is how it asks the engine for simulated boards. The
 * simulated bus holds one board 0xA006 unless OSTREL_SIM_BOARDS names others (e.g.
 * OSTREL_SIM_BOARDS=A001,A005).
 */
#include <stdio.h>

#include "OstrelDAQEngine.h"
#include "demo.h"

int main(void) {
    if (demo_discovery() != 0) {
        fprintf(stderr, "demo: discovery failed\n");
        return 1;
    }
    if (DAQ_OpenDevice(0) == 0) {
        demo_frontend();
        demo_acquisition();
        demo_calibration();
        demo_diagnostics();
    }
    DAQ_CloseDevice();
    demo_generator();
    return 0;
}
