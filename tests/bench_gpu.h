// GPU rows of the benchmark program.
#pragma once

// Prints the GPU reading's median cost beside the bare kernel-thunk calls it makes at several
// served adapter and engine counts, its allocations per steady tick, and hostile lists' ticks.
void benchGpu();
