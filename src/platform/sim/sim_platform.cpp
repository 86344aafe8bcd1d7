// Simulated platform.
