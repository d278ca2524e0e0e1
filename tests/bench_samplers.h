// Sampler rows of the benchmark program.
#pragma once

// Prints each sampler's median cost next to its bare platform call, and the heap
// allocations the plugin's own code makes per steady-state tick.
void benchSamplers();

// The heap allocations the plugin's own code has made since the counting began; the counting
// begins with benchSamplers, or with startCountingAllocations.
long pluginAllocations();
void startCountingAllocations();
