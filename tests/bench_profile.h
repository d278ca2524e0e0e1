// Profile rows of the benchmark program: a rendering paint of the example theme call by call,
// and the drawing calls of each sampler's tick.
#pragma once

void benchProfile();
