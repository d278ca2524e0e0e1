// Painter rows of the benchmark program: rendering and cached paints of a real window.
#pragma once

// Prints, for the default model, the largest model and a very wide graph, the median
// time of a rendering paint and of a cached paint, and their ratio.
void benchPainter();

// Releases what the model holds and zeroes it, with an empty fake host and the plugin's paths.
void startModel();
