/* The demo's sections, one per file; each returns 0 on success and prints what it does. */
#ifndef OSTREL_DEMO_H
#define OSTREL_DEMO_H

/* Scans the bus, lists every board, opens board 0, prints its model parameters and sampling
   rates, and closes it. */
int demo_discovery(void);

/* For the opened board: record-length limit and geometry, front-end setting counts, the settings
   of every lane and the card-data file their zero offsets come from. */
void demo_frontend(void);

/* For the opened board: a known signal on every lane, a few hundred frames, the acquisition
   counters, each lane's minimum, maximum and mean, and one frame of every lane in frame.svg. */
void demo_acquisition(void);

/* For the opened board: the DC-offset calibration (its duration and the offsets it wrote), then
   each lane's peak-to-peak, mean and RMS in volts at the calibrated offsets. */
void demo_calibration(void);

/* For the opened board: one DMA bandwidth test and its rate. */
void demo_diagnostics(void);

/* Self-contained (opens and closes its own model-9 board; call it while nothing is open): the
   generator plays a 1 MHz sine and a 2.5 MHz square into the ADC lanes through the simulator's
   loopback; one frame of both lanes goes to loopback.svg and the measured frequencies are
   printed beside the ones set. */
void demo_generator(void);

#endif /* OSTREL_DEMO_H */
