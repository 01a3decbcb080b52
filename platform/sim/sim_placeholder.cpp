// Placeholder until the simulated bus is built.
